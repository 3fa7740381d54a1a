// The panel's window: layout, drawing and input (PanelWindow.h).

#include "simulator/PanelWindow.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "com/UniqueResource.h"

namespace AxisSim {
namespace {

constexpr const wchar_t* ClassName = L"AxisSimulatorPanel";
constexpr const wchar_t* Title = L"Axis Simulator";
constexpr DWORD Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

enum class Type : unsigned char { KeyPadButton, DialButton, Jog, Shuttle };

struct Control {
    Type type;
    int value;  ///< the button; the jog direction
    RECT rect;
    UINT key;  ///< virtual key; the shuttle's are ShuttleLeft and ShuttleRight
    const wchar_t* keyName;
};

constexpr int ButtonWidth = 52, ButtonHeight = 46, Pitch = 60, RowPitch = 54;
constexpr int KeyPadLeft = 16, DialLeft = 288, Top = 40;
constexpr UINT ShuttleLeft = 'Z', ShuttleRight = 'X';

constexpr RECT box(int left, int top, int width, int height) { return RECT{left, top, left + width, top + height}; }

constexpr std::array<Control, PanelWindow::ControlCount> makeControls() {
    constexpr UINT keyPadKeys[PanelWindow::Buttons] = {'1', '2', '3', '4', '5',          '6',
                                                       '7', '8', '9', '0', VK_OEM_MINUS, VK_OEM_PLUS};
    constexpr const wchar_t* keyPadNames[PanelWindow::Buttons] = {L"1", L"2", L"3", L"4", L"5", L"6",
                                                                  L"7", L"8", L"9", L"0", L"-", L"="};
    constexpr UINT dialKeys[PanelWindow::DialButtons] = {'Q', 'W', 'E', 'R'};
    constexpr const wchar_t* dialNames[PanelWindow::DialButtons] = {L"Q", L"W", L"E", L"R"};
    std::array<Control, PanelWindow::ControlCount> controls{};
    int at = 0;
    for (int i = 0; i < PanelWindow::Buttons; ++i)
        controls[at++] = {Type::KeyPadButton, i + 1,
                          box(KeyPadLeft + i % 4 * Pitch, Top + i / 4 * RowPitch, ButtonWidth, ButtonHeight),
                          keyPadKeys[i], keyPadNames[i]};
    for (int i = 0; i < PanelWindow::DialButtons; ++i)
        controls[at++] = {Type::DialButton, i + 1, box(DialLeft + i * Pitch, Top, ButtonWidth, ButtonHeight),
                          dialKeys[i], dialNames[i]};
    const int jogWidth = Pitch + ButtonWidth;
    controls[at++] = {Type::Jog, -1, box(DialLeft, Top + RowPitch, jogWidth, ButtonHeight), VK_LEFT, L"Left"};
    controls[at++] = {Type::Jog, 1, box(DialLeft + 2 * Pitch, Top + RowPitch, jogWidth, ButtonHeight), VK_RIGHT,
                      L"Right"};
    controls[at++] = {Type::Shuttle, 0, box(DialLeft, Top + 2 * RowPitch, 3 * Pitch + ButtonWidth, ButtonHeight),
                      ShuttleLeft, L"Z / X"};
    return controls;
}

constexpr std::array<Control, PanelWindow::ControlCount> Controls = makeControls();
constexpr int ShuttleControl = PanelWindow::ControlCount - 1;
constexpr RECT ShuttleRect = Controls[ShuttleControl].rect;
constexpr int TrackLeft = ShuttleRect.left + 16, TrackRight = ShuttleRect.right - 16;

int shuttleX(int position) {
    return TrackLeft +
           (position + PanelWindow::ShuttleSteps) * (TrackRight - TrackLeft) / (2 * PanelWindow::ShuttleSteps);
}

int shuttleAt(int x) {
    const int span = TrackRight - TrackLeft, steps = 2 * PanelWindow::ShuttleSteps;
    const int step = ((x - TrackLeft) * steps + span / 2) / span;
    return std::max(0, std::min(steps, x < TrackLeft ? 0 : step)) - PanelWindow::ShuttleSteps;
}

namespace Colour {
constexpr COLORREF Background = RGB(240, 240, 240);
constexpr COLORREF Face = RGB(224, 224, 224);
constexpr COLORREF Pressed = RGB(176, 176, 176);
constexpr COLORREF Lit = RGB(255, 196, 0);
constexpr COLORREF LitPressed = RGB(214, 150, 0);
constexpr COLORREF Border = RGB(96, 96, 96);
constexpr COLORREF Text = RGB(0, 0, 0);
constexpr COLORREF Hint = RGB(96, 96, 96);
}  // namespace Colour

inline void deleteDc(HDC dc) noexcept { DeleteDC(dc); }
inline void deleteBitmap(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
using UniqueDc = Dravlo::UniqueResource<Dravlo::NullableTraits<HDC, deleteDc>>;
using UniqueBitmap = Dravlo::UniqueResource<Dravlo::NullableTraits<HBITMAP, deleteBitmap>>;

/// A bitmap of the client's size to draw on, copied to the window at once:
/// no flicker. dc() is null when it could not be made.
class Canvas {
public:
    explicit Canvas(HDC target)
        : dc_(CreateCompatibleDC(target)),
          bitmap_(CreateCompatibleBitmap(target, PanelWindow::ClientWidth, PanelWindow::ClientHeight)) {
        if (dc_ && bitmap_) old_ = SelectObject(dc_.get(), bitmap_.get());
    }
    ~Canvas() {
        if (old_ != nullptr) SelectObject(dc_.get(), old_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const noexcept { return old_ != nullptr ? dc_.get() : nullptr; }
    void copyTo(HDC target) const noexcept {
        BitBlt(target, 0, 0, PanelWindow::ClientWidth, PanelWindow::ClientHeight, dc_.get(), 0, 0, SRCCOPY);
    }

private:
    UniqueDc dc_;
    UniqueBitmap bitmap_;
    HGDIOBJ old_ = nullptr;
};

/// BeginPaint to EndPaint.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

void text(HDC dc, std::wstring_view shown, RECT rect, COLORREF colour, UINT format) {
    SetTextColor(dc, colour);
    DrawTextW(dc, shown.data(), static_cast<int>(shown.size()), &rect, format | DT_SINGLELINE | DT_NOPREFIX);
}

void frame(HDC dc, const RECT& rect, COLORREF face) {
    SetDCBrushColor(dc, face);
    SetDCPenColor(dc, Colour::Border);
    Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
}

void drawButton(HDC dc, const Control& control, bool lit, bool pressed) {
    frame(dc, control.rect,
          lit       ? (pressed ? Colour::LitPressed : Colour::Lit)
          : pressed ? Colour::Pressed
                    : Colour::Face);
    RECT upper = control.rect, lower = control.rect;
    upper.bottom = lower.top = control.rect.top + 28;
    lower.bottom -= 4;
    const std::wstring label = control.type == Type::Jog ? (control.value < 0 ? L"< Jog back" : L"Jog forward >")
                                                         : std::to_wstring(control.value);
    text(dc, label, upper, Colour::Text, DT_CENTER | DT_VCENTER);
    text(dc, std::wstring(L"key ") + control.keyName, lower, Colour::Hint, DT_CENTER | DT_BOTTOM);
}

void drawShuttle(HDC dc, int position, bool held) {
    frame(dc, ShuttleRect, Colour::Face);
    RECT label = ShuttleRect;
    InflateRect(&label, -6, -3);
    text(dc, L"Shuttle " + std::to_wstring(position), label, Colour::Text, DT_LEFT | DT_TOP);
    text(dc, L"keys Z / X", label, Colour::Hint, DT_RIGHT | DT_TOP);
    const int y = ShuttleRect.bottom - 14;
    MoveToEx(dc, TrackLeft, y, nullptr);
    LineTo(dc, TrackRight + 1, y);
    for (int step = -PanelWindow::ShuttleSteps; step <= PanelWindow::ShuttleSteps; ++step) {
        const int tick = step == 0 ? 7 : 4;
        MoveToEx(dc, shuttleX(step), y - tick, nullptr);
        LineTo(dc, shuttleX(step), y + tick + 1);
    }
    const int x = shuttleX(position);
    frame(dc, RECT{x - 5, y - 9, x + 6, y + 10}, position != 0 || held ? Colour::Lit : Colour::Border);
}

// Window classes are registered per module; this counts this module's users.
std::mutex classMutex;
int classUsers = 0;

}  // namespace

bool PanelWindow::registerClass(HINSTANCE module) noexcept {
    std::lock_guard lock(classMutex);
    if (classUsers == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &PanelWindow::procedure;
        windowClass.hInstance = module;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW, narrow without UNICODE
        windowClass.lpszClassName = ClassName;
        if (RegisterClassExW(&windowClass) == 0) return false;
    }
    ++classUsers;
    return true;
}

void PanelWindow::unregisterClass(HINSTANCE module) noexcept {
    std::lock_guard lock(classMutex);
    if (--classUsers == 0) UnregisterClassW(ClassName, module);
}

PanelWindow::PanelWindow(std::shared_ptr<SimulatorCore> core, HINSTANCE module, Owner& owner)
    : core_(std::move(core)), module_(module), owner_(owner), status_("Mouse or keys: events go to device 0") {}

PanelWindow::~PanelWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
}

bool PanelWindow::open() noexcept {
    RECT outer{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&outer, Style, FALSE, 0);
    HWND window = CreateWindowExW(0, ClassName, Title, Style, CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                                  outer.bottom - outer.top, nullptr, nullptr, module_, nullptr);
    if (window == nullptr) return false;
    if (!SetPropW(window, ClassName, static_cast<HANDLE>(this))) {
        const DWORD error = GetLastError();
        DestroyWindow(window);
        SetLastError(error);
        return false;
    }
    window_ = window;
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    return true;
}

LRESULT CALLBACK PanelWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    // Messages before open() attached the object (those of CreateWindowExW)
    // need nothing of it.
    auto* self = static_cast<PanelWindow*>(GetPropW(window, ClassName));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemovePropW(window, ClassName);
        self->window_ = nullptr;
    }
    try {
        return self->handle(window, message, wParam, lParam);
    } catch (...) {  // nothing leaves a window procedure as an exception
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT PanelWindow::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case RedrawMessage:
            owner_.redrawTaken();
            invalidate();
            return 0;
        case CheckMessage:
            // Also reached through a sink's own message loop, inside one of
            // this window's sink calls: whatever runs after that call checks
            // window_ again.
            if (window_ != nullptr && owner_.closeNow()) {
                closing_ = true;  // what is let go as it goes raises nothing: the devices are gone
                DestroyWindow(window_);
            }
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(window);
            mouseDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return 0;
        case WM_MOUSEMOVE:
            if (dragging_) turnShuttle(shuttleAt(static_cast<short>(LOWORD(lParam))), "mouse");
            return 0;
        case WM_LBUTTONUP:
            mouseUp();
            if (GetCapture() == window) ReleaseCapture();
            return 0;
        case WM_CAPTURECHANGED:
            mouseUp();
            return 0;
        case WM_KEYDOWN:
        case WM_KEYUP:
            key(static_cast<UINT>(wParam), message == WM_KEYDOWN, (lParam & (1 << 30)) != 0);
            return 0;
        case WM_KILLFOCUS:
            releaseKeys();
            return 0;
        case WM_CLOSE:
            owner_.closedByUser();
            closedByUser_ = true;
            mouseUp();
            releaseKeys();
            if (window_ != nullptr) DestroyWindow(window_);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PaintScope scope(window);
            paint(scope.dc());
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void PanelWindow::mouseDown(int x, int y) {
    const POINT point{x, y};
    for (int i = 0; i < ControlCount; ++i) {
        if (!PtInRect(&Controls[i].rect, point)) continue;
        if (window_ != nullptr) SetCapture(window_);
        if (i == ShuttleControl) {
            dragging_ = true;
            turnShuttle(shuttleAt(x), "mouse");
        } else {
            mouseControl_ = i;
            press(i, Mouse, "mouse");
        }
        return;
    }
}

void PanelWindow::mouseUp() {
    if (const int control = std::exchange(mouseControl_, -1); control >= 0) release(control, Mouse, "mouse");
    if (std::exchange(dragging_, false) && shuttleKeys_ == 0) turnShuttle(0, "mouse");
}

void PanelWindow::key(UINT virtualKey, bool down, bool repeat) {
    if (virtualKey == ShuttleLeft || virtualKey == ShuttleRight) {
        const unsigned char bit = virtualKey == ShuttleLeft ? 1 : 2;
        const std::string by = std::string("key ") + static_cast<char>(virtualKey);
        if (down) {
            shuttleKeys_ |= bit;
            turnShuttle(shuttle_ + (virtualKey == ShuttleLeft ? -1 : 1), by);
        } else if ((shuttleKeys_ &= static_cast<unsigned char>(~bit)) == 0 && !dragging_) {
            turnShuttle(0, by);
        }
        return;
    }
    for (int i = 0; i < ShuttleControl; ++i) {
        if (Controls[i].key != virtualKey) continue;
        std::string by = "key ";
        for (const wchar_t* c = Controls[i].keyName; *c != 0; ++c) by += static_cast<char>(*c);
        if (!down)
            release(i, Key, by);
        else if (!repeat || Controls[i].type == Type::Jog)  // a held jog key keeps turning
            press(i, Key, by);
        return;
    }
}

void PanelWindow::releaseKeys() {
    for (int i = 0; i < ShuttleControl; ++i)
        if ((held_[i] & Key) != 0) release(i, Key, "focus lost");
    if (std::exchange(shuttleKeys_, 0) != 0 && !dragging_) turnShuttle(0, "focus lost");
}

void PanelWindow::press(int control, Source source, std::string_view by) {
    const Control& pressed = Controls[control];
    const bool first = held_[control] == 0;
    held_[control] |= source;
    invalidate();
    if (pressed.type == Type::Jog)
        raise(Kind::JogDial, Dispid::JogMove, "JogMove", pressed.value, by);
    else if (first)
        raise(pressed.type == Type::KeyPadButton ? Kind::KeyPad : Kind::JogDial, Dispid::ButtonDown, "ButtonDown",
              pressed.value, by);
}

void PanelWindow::release(int control, Source source, std::string_view by) {
    const Control& released = Controls[control];
    if ((held_[control] & source) == 0) return;
    held_[control] &= static_cast<unsigned char>(~source);
    invalidate();
    if (held_[control] == 0 && released.type != Type::Jog)
        raise(released.type == Type::KeyPadButton ? Kind::KeyPad : Kind::JogDial, Dispid::ButtonUp, "ButtonUp",
              released.value, by);
}

void PanelWindow::turnShuttle(int position, std::string_view by) {
    position = std::max(-ShuttleSteps, std::min(ShuttleSteps, position));
    while (shuttle_ != position) {
        shuttle_ += shuttle_ < position ? 1 : -1;
        invalidate();
        raise(Kind::JogDial, Dispid::ShuttleMove, "ShuttleMove", shuttle_, by);
    }
}

void PanelWindow::raise(Kind kind, DISPID dispid, const char* event, long value, std::string_view by) {
    if (closing_) return;
    const std::string action = std::string(event) + "(" + (kind == Kind::JogDial ? "jogdial" : "keypad") + "," +
                               std::to_string(value) + ") by " + std::string(by);
    const std::shared_ptr<DeviceProbe> device = core_->latestDevice(kind, 0);
    if (!device) {
        core_->log.note("Panel.", action, "->no device");
        status_ = action + ": no device";
    } else {
        core_->log.note("Panel.", action);
        const std::string shown = std::string(event) + "(0," + std::to_string(value) + ")";
        const std::size_t sinks = fireLogged(*device, dispid, intArgs({0, value}), shown, core_->log);
        status_ = device->name() + "." + shown + ": " + std::to_string(sinks) + (sinks == 1 ? " sink" : " sinks");
    }
    invalidate();
}

void PanelWindow::invalidate() const noexcept {
    if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

void PanelWindow::paint(HDC target) const {
    const Canvas canvas(target);
    HDC dc = canvas.dc() != nullptr ? canvas.dc() : target;
    const RECT client{0, 0, ClientWidth, ClientHeight};
    SetDCBrushColor(dc, Colour::Background);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SelectObject(dc, GetStockObject(DC_PEN));
    SetBkMode(dc, TRANSPARENT);

    const std::shared_ptr<DeviceProbe> keyPad = core_->latestDevice(Kind::KeyPad, 0);
    const bool jogDial = core_->latestDevice(Kind::JogDial, 0) != nullptr;
    text(dc, keyPad ? L"Keypad 0" : L"Keypad 0: none", box(KeyPadLeft, 14, 240, 20), Colour::Text, DT_LEFT);
    text(dc, jogDial ? L"Jog dial 0" : L"Jog dial 0: none", box(DialLeft, 14, 232, 20), Colour::Text, DT_LEFT);
    for (int i = 0; i < ShuttleControl; ++i) {
        const Control& control = Controls[i];
        const bool lit = control.type == Type::KeyPadButton && keyPad && keyPad->lit(control.value);
        drawButton(dc, control, lit, held_[i] != 0);
    }
    drawShuttle(dc, shuttle_, dragging_ || shuttleKeys_ != 0);
    const std::wstring status(status_.begin(), status_.end());
    text(dc, status, box(KeyPadLeft, ClientHeight - 30, ClientWidth - 2 * KeyPadLeft, 20), Colour::Hint, DT_LEFT);
    if (dc != target) canvas.copyTo(target);
}

}  // namespace AxisSim
