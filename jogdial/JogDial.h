#pragma once
// JogDial: the receiver of one jog dial's COM events. Buttons become key
// records for its key listeners, the shuttle ring and the jog wheel dial
// records for its dial listeners; the error event is consumed.
// Thread rule: listeners are added before the events are hooked (open) and
// only read on event threads afterwards.

#include <set>

#include "bridge/EventRecords.h"
#include "com/AxisDriver.h"
#include "com/DeviceReceiver.h"

namespace Dravlo {

class JogDial final : public DeviceReceiver<JogDial, IJogDialDevice, 5> {
public:
    /// Dispatch codes bound to ButtonDown, ButtonUp, ShuttleMove, JogMove, Error.
    enum Code { ButtonDownCode = 4, ButtonUpCode, ShuttleMoveCode, JogMoveCode, ErrorCode };

    /// Adopts `device` (the reference GetItem gave; may be null); hooks nothing until open().
    explicit JogDial(ComRef<IJogDialDevice> device);
    /// Unhooks, stops, closes and releases the device; listeners are not told.
    ~JogDial();
    JogDial(const JogDial&) = delete;
    JogDial& operator=(const JogDial&) = delete;

    /// Adds a listener (not owned); one already there stays once.
    void addKeyListener(KeyListener* listener);
    void addDialListener(DialListener* listener);

private:
    friend DeviceReceiver;

    void onButtonDown(int jogDialId, int buttonIndex);
    void onButtonUp(int jogDialId, int buttonIndex);
    void onShuttleMove(int jogDialId, int dialState);
    void onJogMove(int jogDialId, int joggState);
    void notifyKeyListeners(const KeyEventRecord& event);
    void notifyDialListeners(const DialEventRecord& event);

    /// By event index: ButtonDown, ButtonUp, ShuttleMove, JogMove; Error reaches nobody.
    static constexpr Handler handlers[5] = {&JogDial::onButtonDown, &JogDial::onButtonUp, &JogDial::onShuttleMove,
                                            &JogDial::onJogMove, nullptr};

    std::set<KeyListener*> keyListeners;    ///< not owned; ascending by address
    std::set<DialListener*> dialListeners;  ///< not owned; ascending by address
};

}  // namespace Dravlo
