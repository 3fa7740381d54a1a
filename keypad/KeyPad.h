#pragma once
// KeyPad: the receiver of one keypad's COM events. Button presses and
// releases become key records for its listeners; the error event is
// consumed; backlight commands go to the device.
// Thread rule: listeners are added before the events are hooked (open) and
// only read on event threads afterwards.

#include <set>

#include "bridge/EventRecords.h"
#include "com/AxisDriver.h"
#include "com/DeviceReceiver.h"
#include "keypad/KeyCommand.h"

namespace Dravlo {

class KeyPad final : public DeviceReceiver<KeyPad, IKeyPadDevice, 3> {
public:
    /// Dispatch codes bound to ButtonDown, ButtonUp, Error.
    enum Code { ButtonDownCode = 4, ButtonUpCode, ErrorCode };

    /// Adopts `device` (the reference GetItem gave; may be null); hooks nothing until open().
    explicit KeyPad(ComRef<IKeyPadDevice> device);
    /// Unhooks, stops, closes and releases the device; listeners are not told.
    ~KeyPad();
    KeyPad(const KeyPad&) = delete;
    KeyPad& operator=(const KeyPad&) = delete;

    /// Adds a listener (not owned); one already there stays once.
    void addKeyListener(KeyListener* listener);
    /// Backlight of the command's button: type 1 on, 0 off, anything else nothing.
    void execute(KeyCommandRecord command);
    /// Calls every listener, in ascending address order.
    void notifyListeners(KeyEventRecord event);

private:
    friend DeviceReceiver;

    void onButtonDown(int keyPadId, int buttonIndex);
    void onButtonUp(int keyPadId, int buttonIndex);

    /// By event index: ButtonDown, ButtonUp; Error reaches nobody.
    static constexpr Handler handlers[3] = {&KeyPad::onButtonDown, &KeyPad::onButtonUp, nullptr};

    std::set<KeyListener*> keyListeners;  ///< not owned; ascending by address
};

}  // namespace Dravlo
