#pragma once
// The panel's window (Panel.h): its layout, its drawing, and its mouse and
// keyboard turned into device 0's events. Internal to the panel.
//
// Controls and keys (client coordinates in pixels; the client area is
// ClientWidth x ClientHeight):
//   keypad buttons 1 to 12      keys 1 to 9, 0, -, =   ButtonDown on press, ButtonUp on release
//   jog dial buttons 1 to 4     keys Q, W, E, R         the same
//   jog back, jog forward       keys Left, Right        JogMove(-1) or JogMove(1) on each press
//   the shuttle ring, -7 to 7   keys Z, X               ShuttleMove for every step it is dragged
//                                                       (Z, X: one step a press); back to 0
//                                                       step by step when let go
// Each control is logged as "Panel.<Event>(<kind>,<value>) by <mouse|key K>",
// followed by the device's own "Fire:" line.
//
// Thread rule: everything here runs on the panel's thread: the object is made
// and destroyed there and its window procedure runs there. Other threads only
// post RedrawMessage and CheckMessage to the window.

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "simulator/SimulatorCore.h"

namespace AxisSim {

class PanelWindow {
public:
    /// Posted: draw again (a backlight changed, a device came or went).
    static constexpr UINT RedrawMessage = WM_APP + 1;
    /// Posted: ask the owner whether the window is to close now.
    static constexpr UINT CheckMessage = WM_APP + 2;
    static constexpr int ClientWidth = 536;
    static constexpr int ClientHeight = 244;
    static constexpr int Buttons = 12;      ///< keypad buttons shown, 1 to Buttons
    static constexpr int DialButtons = 4;   ///< jog dial buttons shown, 1 to DialButtons
    static constexpr int ShuttleSteps = 7;  ///< the ring turns from -ShuttleSteps to ShuttleSteps
    static constexpr int ControlCount = Buttons + DialButtons + 3;

    /// What the window asks of the panel that made it, on the panel's thread.
    class Owner {
    public:
        /// Whether to close now; once it says yes nothing is posted to the window.
        virtual bool closeNow() noexcept = 0;
        /// A RedrawMessage was taken: the next change posts another.
        virtual void redrawTaken() noexcept = 0;
        /// The user is closing the window: nothing is posted to it any more.
        virtual void closedByUser() noexcept = 0;

    protected:
        ~Owner() = default;
    };

    PanelWindow(std::shared_ptr<SimulatorCore> core, HINSTANCE module, Owner& owner);
    /// Destroys the window if it is still there.
    ~PanelWindow();
    PanelWindow(const PanelWindow&) = delete;
    PanelWindow& operator=(const PanelWindow&) = delete;

    /// Creates and shows the window; false, with GetLastError set, when it cannot.
    bool open() noexcept;
    /// The window; null once it is destroyed.
    HWND handle() const noexcept { return window_; }
    /// Whether the user closed it.
    bool closedByUser() const noexcept { return closedByUser_; }

    /// Registers the window class of `module` while a panel thread needs it:
    /// counted across the module's threads, unregistered with the last, so
    /// the class never outlives the module its procedure lies in.
    static bool registerClass(HINSTANCE module) noexcept;
    static void unregisterClass(HINSTANCE module) noexcept;

private:
    enum Source : unsigned char { Mouse = 1, Key = 2 };

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void mouseDown(int x, int y);
    void mouseUp();
    void key(UINT virtualKey, bool down, bool repeat);
    void releaseKeys();
    void press(int control, Source source, std::string_view by);
    void release(int control, Source source, std::string_view by);
    void turnShuttle(int position, std::string_view by);
    void raise(Kind kind, DISPID dispid, const char* event, long value, std::string_view by);
    void invalidate() const noexcept;
    void paint(HDC dc) const;

    std::shared_ptr<SimulatorCore> core_;
    HINSTANCE module_;
    Owner& owner_;
    HWND window_ = nullptr;
    bool closedByUser_ = false;
    bool closing_ = false;                            ///< closing for want of devices
    std::array<unsigned char, ControlCount> held_{};  ///< Source bits per control
    int mouseControl_ = -1;                           ///< the control the mouse holds
    bool dragging_ = false;                           ///< the mouse holds the shuttle ring
    unsigned char shuttleKeys_ = 0;                   ///< bit 0: Z held, bit 1: X held
    int shuttle_ = 0;
    std::string status_;
};

}  // namespace AxisSim
