#pragma once
// The simulator's panel: one window, "Axis Simulator", that shows device 0 of
// each kind (the keypad's buttons lit as SetBacklight left them, the jog
// dial's buttons, jog back and forward, the shuttle ring) and raises their
// events when its controls are used with the mouse or the keyboard. Events
// go to device 0 of each kind through DeviceProbe::fire, as the session
// player's do, from the panel's own thread; both play side by side.
//
// Life: the window opens when the first device object is made and closes
// when the last one is gone. A user who closes it keeps it closed until
// then. The window lives on a thread of the panel's own with a message loop,
// made when it is needed and ending with the window; the thread holds a
// reference on this module until it exits (ModuleThread.h).
//
// Thread rule: made(), gone() and lightsChanged() run on any thread and
// never wait for the panel's thread: each holds the panel's lock for a few
// instructions and posts to the window (PostMessage, which never waits for
// the window's thread). The panel's thread takes that lock only as
// briefly, never across a sink call. So a Stop, an Unadvise or a Release on
// any thread (the panel's own, inside a sink call, included) goes on while
// the panel's thread is busy or blocked in a sink.

#include <windows.h>

#include <memory>

#include "simulator/SimulatorCore.h"

namespace AxisSim {

class Panel final : public DeviceObserver {
public:
    Panel();
    /// Tells no thread anything: the simulator owns the panel, and each panel
    /// thread holds the simulator until its last window is gone, so by now
    /// no thread of it has a window or will open one.
    ~Panel() override = default;
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    /// Counts the device; the first opens the window (starting the thread).
    void made(const std::shared_ptr<SimulatorCore>& core, const std::shared_ptr<DeviceProbe>& device) noexcept override;
    /// Has keypad 0's lights drawn again.
    void lightsChanged(const DeviceProbe& device) noexcept override;
    /// Counts the device out; the last closes the window.
    void gone(const DeviceProbe& device) noexcept override;

private:
    struct Control;
    void start(const std::shared_ptr<SimulatorCore>& core) noexcept;
    static void run(Control& control, const std::shared_ptr<SimulatorCore>& core, HMODULE module) noexcept;

    std::shared_ptr<Control> control_;
};

}  // namespace AxisSim
