// A device's advised sinks and the delivery of events to them.

#include "simulator/SimulatorCore.h"

#include <thread>

namespace AxisSim {

DeviceProbe::DeviceProbe(Kind kind, int index)
    : ObjectProbe(deviceName(kind, index)),
      kind_(kind),
      index_(index),
      connectionPoint_(deviceName(kind, index) + ".ConnectionPoint") {}

const IID& DeviceProbe::eventIid() const noexcept {
    return kind_ == Kind::JogDial ? DIID__IAxisJogDialEvents : DIID__IAxisKeyPadEvents;
}

std::size_t DeviceProbe::sinkCount() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

std::vector<DWORD> DeviceProbe::cookies() const {
    std::lock_guard lock(mutex_);
    std::vector<DWORD> result;
    for (const Connection& connection : connections_) result.push_back(connection.cookie);
    return result;
}

std::vector<IDispatchPtr> DeviceProbe::sinks() const {
    std::lock_guard lock(mutex_);
    std::vector<IDispatchPtr> result;
    for (const Connection& connection : connections_) result.emplace_back(connection.sink.get());
    return result;
}

DWORD DeviceProbe::addSink(Dravlo::ComRef<IDispatch> sink) {
    std::lock_guard lock(mutex_);
    DWORD cookie = nextCookie_++;
    connections_.push_back({cookie, std::move(sink)});
    return cookie;
}

bool DeviceProbe::removeSink(DWORD cookie) {
    // Declared before the lock, so it is released after the lock is let go:
    // the sink's destruction may call back in.
    Dravlo::ComRef<IDispatch> sink;
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->cookie != cookie) continue;
        sink = std::move(it->sink);
        connections_.erase(it);
        return true;
    }
    return false;
}

void DeviceProbe::releaseAllSinks() {
    std::vector<Connection> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(connections_);
    }
    for (Connection& connection : dropped) connection.sink.reset();  // in the order they were advised
}

bool DeviceProbe::lit(int button) const noexcept {
    return button >= 0 && button < 64 && (lights_.load() >> button & 1u) != 0;
}

void DeviceProbe::setLight(int button, bool on) noexcept {
    if (button < 0 || button >= 64) return;
    const std::uint64_t bit = std::uint64_t{1} << button;
    if (on)
        lights_ |= bit;
    else
        lights_ &= ~bit;
}

std::vector<HRESULT> DeviceProbe::fireRaw(DISPID dispid, DISPPARAMS& params) {
    if (outsideLock_) {
        std::vector<Dravlo::ComRef<IDispatch>> sinks;  // one reference each, taken under the lock
        {
            std::lock_guard lock(mutex_);
            for (const Connection& connection : connections_)
                sinks.push_back(Dravlo::ComRef<IDispatch>::copy(connection.sink.get()));
        }
        std::vector<HRESULT> results;
        for (Dravlo::ComRef<IDispatch>& sink : sinks) {
            results.push_back(sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                           nullptr, nullptr));
            sink.reset();
        }
        return results;
    }
    // Held across every Invoke, so an Unadvise on another thread waits for a
    // delivery in progress; the lock is recursive, so a sink may unadvise
    // itself from inside Invoke. Each cookie is looked up again before its
    // turn, as an earlier sink may have removed it.
    std::lock_guard lock(mutex_);
    std::vector<DWORD> turn;
    for (const Connection& connection : connections_) turn.push_back(connection.cookie);
    std::vector<HRESULT> results;
    for (DWORD cookie : turn) {
        for (const Connection& connection : connections_) {
            if (connection.cookie != cookie) continue;
            results.push_back(connection.sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                                      nullptr, nullptr, nullptr));
            break;
        }
    }
    return results;
}

// fire() hands a vector of _variant_t to COM as an array of VARIANTs.
static_assert(sizeof(_variant_t) == sizeof(VARIANT));

std::vector<HRESULT> DeviceProbe::fire(DISPID dispid, const std::vector<_variant_t>& paramsInOrder) {
    // A COM source passes positional arguments last one first.
    std::vector<_variant_t> reversed(paramsInOrder.rbegin(), paramsInOrder.rend());
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : static_cast<VARIANTARG*>(&reversed[0]);
    params.cArgs = static_cast<UINT>(reversed.size());
    return fireRaw(dispid, params);
}

std::size_t fireLogged(DeviceProbe& device, DISPID dispid, const std::vector<_variant_t>& paramsInOrder,
                       std::string_view shown, CallLog& log) {
    const std::size_t sinks = device.fire(dispid, paramsInOrder).size();
    log.note(device.name(), ".Fire:", shown, "->", static_cast<long long>(sinks), " sink", sinks == 1 ? "" : "s");
    return sinks;
}

std::vector<HRESULT> DeviceProbe::fireOnNewThread(DISPID dispid, const std::vector<_variant_t>& paramsInOrder) {
    std::vector<HRESULT> results;
    std::thread deliverer([&] { results = fire(dispid, paramsInOrder); });
    deliverer.join();
    return results;
}

std::vector<HRESULT> DeviceProbe::fireRawOnNewThread(DISPID dispid, DISPPARAMS& params) {
    std::vector<HRESULT> results;
    std::thread deliverer([&] { results = fireRaw(dispid, params); });
    deliverer.join();
    return results;
}

}  // namespace AxisSim
