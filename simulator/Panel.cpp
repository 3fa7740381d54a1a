// The panel's thread and the bookkeeping that opens and closes its window
// (Panel.h).

#include "simulator/Panel.h"

#include <string>
#include <system_error>

#include "com/CheckedMutex.h"
#include "simulator/ModuleThread.h"
#include "simulator/PanelWindow.h"

namespace AxisSim {

/// Shared by the panel and its thread. Whoever holds the lock holds it for a
/// few instructions and only posts to the window meanwhile: PostMessage never
/// waits for the window's thread, so no thread ever waits for the panel's.
struct Panel::Control final : PanelWindow::Owner {
    Dravlo::CheckedMutex mutex;
    int devices DRAVLO_GUARDED_BY(mutex) = 0;             ///< device objects alive
    bool threadRunning DRAVLO_GUARDED_BY(mutex) = false;  ///< a thread owns the window, or is about to
    bool dismissed DRAVLO_GUARDED_BY(mutex) = false;      ///< closed by the user while devices live
    bool redrawPosted DRAVLO_GUARDED_BY(mutex) = false;
    HWND window DRAVLO_GUARDED_BY(mutex) = nullptr;  ///< where to post; null when nothing may be posted

    void post(UINT message) DRAVLO_REQUIRES(mutex) {
        if (window != nullptr) PostMessageW(window, message, 0, 0);
    }
    void redraw() DRAVLO_REQUIRES(mutex) {
        if (window == nullptr || redrawPosted) return;  // one pending request draws every change
        redrawPosted = true;
        post(PanelWindow::RedrawMessage);
    }
    /// The thread's decision to open a window (again) or to end, made under
    /// the lock that made() takes: a device made meanwhile either finds the
    /// thread still running, which then opens a window for it, or starts one.
    bool carryOn() {
        Dravlo::CheckedLock lock(mutex);
        if (devices > 0 && !dismissed) return true;
        threadRunning = false;
        return false;
    }
    /// The thread ends without a window, whatever comes.
    void fail() {
        Dravlo::CheckedLock lock(mutex);
        window = nullptr;
        threadRunning = false;
    }
    void show(HWND shown) {
        Dravlo::CheckedLock lock(mutex);
        window = shown;
        redrawPosted = false;
        post(PanelWindow::CheckMessage);  // the last device may have gone while it opened
    }

    bool closeNow() noexcept override {
        Dravlo::CheckedLock lock(mutex);
        if (devices > 0) return false;
        window = nullptr;
        return true;
    }
    void redrawTaken() noexcept override {
        Dravlo::CheckedLock lock(mutex);
        redrawPosted = false;
    }
    void closedByUser() noexcept override {
        Dravlo::CheckedLock lock(mutex);
        window = nullptr;
        dismissed = true;
    }
};

namespace {

/// The window cannot open: "Panel.Open-><failure>" in the log, and once per
/// process to the debugger output, as a panel that cannot open (no display)
/// is no reason to stop the devices.
void reportOpenFailure(CallLog& log, HRESULT failure) noexcept {
    static std::atomic<bool> told{false};
    try {
        log.note("Panel.Open->", hresultText(failure));
        if (told.exchange(true)) return;
        const std::string text =
            "AxisSimulator: the panel cannot open its window (" + hresultText(failure) + "); is there a display?\n";
        OutputDebugStringA(text.c_str());
    } catch (...) {  // nothing to tell it with
    }
}

}  // namespace

Panel::Panel() : control_(std::make_shared<Control>()) {}

void Panel::made(const std::shared_ptr<SimulatorCore>& core, const std::shared_ptr<DeviceProbe>& device) noexcept {
    bool needsThread = false;
    {
        Dravlo::CheckedLock lock(control_->mutex);
        needsThread = ++control_->devices == 1 && !control_->threadRunning;
        if (needsThread) control_->threadRunning = true;
        control_->redraw();  // a new device 0 shows its own lights
    }
    if (needsThread) start(core);
}

void Panel::lightsChanged(const DeviceProbe& device) noexcept {
    if (device.index() != 0) return;
    Dravlo::CheckedLock lock(control_->mutex);
    control_->redraw();
}

void Panel::gone(const DeviceProbe& device) noexcept {
    Dravlo::CheckedLock lock(control_->mutex);
    if (--control_->devices == 0) {
        control_->dismissed = false;  // the next device opens the panel again
        control_->post(PanelWindow::CheckMessage);
    } else {
        control_->redraw();
    }
}

void Panel::start(const std::shared_ptr<SimulatorCore>& core) noexcept {
    HRESULT failure = S_OK;
    try {
        // The thread holds the control and the simulator until it ends.
        CloseHandle(startModuleThread([control = control_, core](HMODULE module) { run(*control, core, module); }));
        return;  // never waited for
    } catch (const std::system_error& error) {
        failure = HRESULT_FROM_WIN32(static_cast<DWORD>(error.code().value()));
    } catch (...) {
        failure = E_OUTOFMEMORY;
    }
    control_->fail();
    reportOpenFailure(core->log, failure);
}

void Panel::run(Control& control, const std::shared_ptr<SimulatorCore>& core, HMODULE module) noexcept {
    CallLog& log = core->log;
    const auto failed = [&](DWORD error) {
        control.fail();
        reportOpenFailure(log, error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL);
    };
    if (!PanelWindow::registerClass(module)) return failed(GetLastError());
    try {
        // A window a round: a device made while one closes has the next.
        while (control.carryOn()) {
            PanelWindow window(core, module, control);
            if (!window.open()) {
                failed(GetLastError());
                break;
            }
            control.show(window.handle());
            log.note("Panel.Open");
            MSG message;
            while (window.handle() != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (window.handle() != nullptr) control.closedByUser();  // someone's WM_QUIT: as if closed
            log.note(window.closedByUser() || window.handle() != nullptr ? "Panel.Closed(user)" : "Panel.Closed");
        }
    } catch (...) {
        control.fail();
        log.note("Panel.failed");
    }
    PanelWindow::unregisterClass(module);
}

}  // namespace AxisSim
