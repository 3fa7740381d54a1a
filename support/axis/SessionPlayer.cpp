// The session player's thread.

#include "support/axis/SessionPlayer.h"

#include "support/axis/SimulatorCore.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace AxisSim {

std::atomic<long> SessionPlayer::running_{0};

struct SessionPlayer::Control {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;

    /// Waits `ms` or until asked to stop; false when asked to stop.
    bool pause(unsigned ms) {
        std::unique_lock lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }
    bool stopRequested() {
        std::lock_guard lock(mutex);
        return stopping;
    }
};

SessionPlayer::SessionPlayer(std::shared_ptr<const Session> session, Kind kind,
                             std::vector<std::shared_ptr<DeviceProbe>> devices, std::shared_ptr<CallLog> log)
    : control_(std::make_shared<Control>()), device_(devices.empty() ? nullptr : devices.front().get()) {
    ++running_;
    try {
        thread_ = std::thread([control = control_, session = std::move(session), kind, devices = std::move(devices),
                               log = std::move(log)]() mutable {
            try {
                play(control, *session, kind, devices, *log);
            } catch (...) {
                log->note(deviceName(kind, 0), ".Session:failed");
            }
            // Let go of everything before the count says this thread is done:
            // the DLL may be unloaded as soon as it reaches 0.
            devices.clear();
            session.reset();
            log.reset();
            control.reset();
            --running_;
        });
    } catch (...) {
        --running_;
        throw;
    }
}

SessionPlayer::~SessionPlayer() { stop(); }

void SessionPlayer::stop() noexcept {
    {
        std::lock_guard lock(control_->mutex);
        control_->stopping = true;
    }
    control_->wake.notify_all();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // inside one of its own sink calls: it ends when that returns
    else
        thread_.join();
}

void SessionPlayer::play(const std::shared_ptr<Control>& control, const Session& session, Kind kind,
                         const std::vector<std::shared_ptr<DeviceProbe>>& devices, CallLog& log) {
    const std::string name = deviceName(kind, 0);
    log.note(name, ".Session:begin");
    for (const SessionStep& step : session.steps) {
        if (step.waitMs != 0) {
            if (!control->pause(step.waitMs)) break;
            continue;
        }
        if (control->stopRequested()) break;
        if (step.kind != kind) continue;
        const std::size_t index = static_cast<std::size_t>(step.device);
        if (index >= devices.size() || !devices[index]) continue;
        DeviceProbe& device = *devices[index];
        const std::vector<HRESULT> results = device.fire(step.dispid, eventArguments(step));
        log.note(device.name(), ".Fire:", eventText(step), "->", static_cast<long long>(results.size()), " sink",
                 results.size() == 1 ? "" : "s");
    }
    log.note(name, control->stopRequested() ? ".Session:stopped" : ".Session:end");
}

}  // namespace AxisSim
