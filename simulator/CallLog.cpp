// The call log, the shared state and the event argument helpers.

#include "simulator/SimulatorCore.h"

#include <algorithm>
#include <cstdio>

namespace AxisSim {

void CallLog::add(std::string entry) noexcept {
    if (writer_) {
        writer_->write(entry);
        return;
    }
    try {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    } catch (...) {
    }
}

std::vector<std::string> CallLog::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::size_t CallLog::count(std::string_view entry) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
}

std::size_t CallLog::countPrefix(std::string_view prefix) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), [&](const std::string& e) {
        return std::string_view(e).substr(0, prefix.size()) == prefix;
    }));
}

std::ptrdiff_t CallLog::indexOf(std::string_view entry, std::size_t from) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = from; i < entries_.size(); ++i)
        if (entries_[i] == entry) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

bool CallLog::inOrder(std::initializer_list<std::string_view> sequence) const {
    std::lock_guard lock(mutex_);
    auto position = entries_.begin();
    for (std::string_view wanted : sequence) {
        position = std::find(position, entries_.end(), wanted);
        if (position == entries_.end()) return false;
        ++position;
    }
    return true;
}

std::string CallLog::dump() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const std::string& entry : entries_) text += entry + '\n';
    return text;
}

void CallLog::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

std::string deviceName(Kind kind, int index) {
    return (kind == Kind::JogDial ? "JogDialDevice#" : "KeyPadDevice#") + std::to_string(index);
}

std::string hresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

const CLSID& classIdOf(Kind kind) noexcept { return kind == Kind::JogDial ? CLSID_AxisJogDial : CLSID_AxisKeyPad; }

void SimulatorCore::recordCollection(Kind kind, std::shared_ptr<ObjectProbe> collection,
                                     std::vector<std::shared_ptr<DeviceProbe>> devices) {
    std::lock_guard lock(mutex_);
    Latest& latest = latest_[static_cast<int>(kind)];
    latest.collection = std::move(collection);
    latest.devices = std::move(devices);
    ++latest.created;
}

std::shared_ptr<ObjectProbe> SimulatorCore::latestCollection(Kind kind) const {
    std::lock_guard lock(mutex_);
    return latest_[static_cast<int>(kind)].collection;
}

std::shared_ptr<DeviceProbe> SimulatorCore::latestDevice(Kind kind, int index) const {
    std::lock_guard lock(mutex_);
    const auto& devices = latest_[static_cast<int>(kind)].devices;
    if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) return nullptr;
    return devices[static_cast<std::size_t>(index)];
}

int SimulatorCore::collectionsCreated(Kind kind) const {
    std::lock_guard lock(mutex_);
    return latest_[static_cast<int>(kind)].created;
}

std::vector<_variant_t> intArgs(std::initializer_list<long> values) {
    std::vector<_variant_t> args;
    for (long value : values) args.emplace_back(value, static_cast<VARTYPE>(VT_I4));
    return args;
}

std::vector<_variant_t> errorArgs(long deviceId, long errorCode, const wchar_t* errorInfo) {
    std::vector<_variant_t> args = intArgs({deviceId, errorCode});
    args.emplace_back(errorInfo);
    return args;
}

}  // namespace AxisSim
