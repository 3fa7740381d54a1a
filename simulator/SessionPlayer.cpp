// The session player's thread.

#include "simulator/SessionPlayer.h"

#include "simulator/ModuleThread.h"
#include "simulator/SimulatorCore.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace AxisSim {

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

// What the thread owns: all of it is let go before the thread exits.
struct SessionPlayer::Work {
    std::shared_ptr<Control> control;
    std::shared_ptr<const Session> session;
    Kind kind;
    std::vector<std::shared_ptr<DeviceProbe>> devices;
    std::shared_ptr<CallLog> log;
};

SessionPlayer::SessionPlayer(std::shared_ptr<const Session> session, Kind kind,
                             std::vector<std::shared_ptr<DeviceProbe>> devices, std::shared_ptr<CallLog> log)
    : control_(std::make_shared<Control>()), device_(devices.empty() ? nullptr : devices.front().get()) {
    thread_ = startModuleThread(
        [work = Work{control_, std::move(session), kind, std::move(devices), std::move(log)}](HMODULE) { run(work); },
        &threadId_);
}

void SessionPlayer::run(const Work& work) noexcept {
    try {
        play(work.control, *work.session, work.kind, work.devices, *work.log);
    } catch (...) {
        work.log->note(deviceName(work.kind, 0), ".Session:failed");
    }
}

SessionPlayer::~SessionPlayer() { stop(); }

void SessionPlayer::stop() noexcept {
    {
        std::lock_guard lock(control_->mutex);
        control_->stopping = true;
    }
    control_->wake.notify_all();
    if (thread_ == nullptr) return;
    // On its own thread (inside one of its sink calls) it ends when that call
    // returns; anywhere else, wait for it.
    if (threadId_ != GetCurrentThreadId()) WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

void SessionPlayer::play(const std::shared_ptr<Control>& control, const Session& session, Kind kind,
                         const std::vector<std::shared_ptr<DeviceProbe>>& devices, CallLog& log) {
    const std::string name = deviceName(kind, 0);
    log.note(name, ".Session:begin");
    SessionWalk walk(session);
    while (const SessionStep* step = walk.next()) {
        if (step->op == SessionStep::Op::Wait) {
            if (!control->pause(static_cast<unsigned>(step->value))) break;
            continue;
        }
        if (control->stopRequested()) break;
        if (step->kind != kind) continue;
        const std::size_t index = static_cast<std::size_t>(step->device);
        if (index >= devices.size() || !devices[index]) continue;
        fireLogged(*devices[index], step->dispid, session.eventArguments(*step), session.eventText(*step), log);
    }
    log.note(name, control->stopRequested() ? ".Session:stopped" : ".Session:end");
}

}  // namespace AxisSim
