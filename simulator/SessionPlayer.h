#pragma once
// Plays the events of one kind of a session on a thread of its own, as a
// real driver raises events from its own thread: it walks every step (the
// other kind's events are skipped, the pauses are kept, so both kinds follow
// one timeline) and fires each event of its kind at the device it names.
//
// Thread rule: built, stopped and destroyed on any thread, one at a time.
// stop() wakes the player out of a pause and waits for it to end, which may
// mean waiting for the sink call in flight to return; it holds no lock while
// it waits. Called on the player's own thread (a sink that stops the device
// from inside an event), it asks the player to end and does not wait. The
// thread keeps what it uses (session, devices, log) alive by itself, and
// holds a reference on the simulator's own module (ModuleThread.h).

#include <windows.h>

#include <memory>
#include <vector>

#include "simulator/Session.h"

namespace AxisSim {

class SessionPlayer {
public:
    /// Starts playing `kind`'s events of `session` at once; devices[i] is
    /// device i of that kind (null: absent). Entries go to `log`.
    SessionPlayer(std::shared_ptr<const Session> session, Kind kind, std::vector<std::shared_ptr<DeviceProbe>> devices,
                  std::shared_ptr<CallLog> log);
    /// stop().
    ~SessionPlayer();
    SessionPlayer(const SessionPlayer&) = delete;
    SessionPlayer& operator=(const SessionPlayer&) = delete;

    /// Ends the playing (see the thread rule); idempotent.
    void stop() noexcept;
    /// The device whose Start began this player.
    const DeviceProbe* device() const noexcept { return device_; }

private:
    struct Control;
    struct Work;
    static void run(const Work& work) noexcept;
    static void play(const std::shared_ptr<Control>& control, const Session& session, Kind kind,
                     const std::vector<std::shared_ptr<DeviceProbe>>& devices, CallLog& log);

    std::shared_ptr<Control> control_;
    const DeviceProbe* device_;
    HANDLE thread_ = nullptr;  // owned; null once joined or let go
    DWORD threadId_ = 0;
};

}  // namespace AxisSim
