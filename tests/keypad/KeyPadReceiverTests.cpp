// The keypad receiver on a simulated device: the records its listeners get,
// the backlight commands it passes on, what dispatch answers, and what the
// device sees from construction to destruction.

#include "keypad/KeyPad.h"

#include "tests/driver/ReceiverTestSupport.h"

namespace {

using namespace DriverTests;
using AxisSim::errorArgs;
using AxisSim::intArgs;
using Dravlo::ComRef;
using Dravlo::KeyCommandRecord;
using Dravlo::KeyPad;
namespace Dispid = AxisSim::Dispid;
using Listener = RecordingNativeListener;

class KeyPadReceiver : public ReceiverTest<IKeyPadCollection, IKeyPadDevice> {};

TEST_F(KeyPadReceiver, ButtonEvents_ReachEveryListenerOnceInAddressOrder) {
    Listener listeners[2] = {Listener(log), Listener(log)};
    sim.config(AxisSim::Kind::KeyPad).deviceCount = 2;
    KeyPad receiver(takeDevice(1));
    receiver.open();
    auto device = probe(1);
    ASSERT_TRUE(device);
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fire(Dispid::ButtonDown, intArgs({2, 7})));
    EXPECT_TRUE(log->heard().empty()) << "no listener yet: the event vanishes";

    for (Listener* listener : {&listeners[1], &listeners[0], &listeners[1]}) receiver.addKeyListener(listener);
    const auto callsBefore = sim.log().entries();
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fire(Dispid::ButtonDown, intArgs({2, 7})));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fireOnNewThread(Dispid::ButtonUp, intArgs({2, 7})));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fire(Dispid::Error, errorArgs(2, 42, L"jammed")));
    EXPECT_EQ(std::vector<HRESULT>{DISP_E_MEMBERNOTFOUND}, device->fire(Dispid::JogMove, intArgs({2, 1})));
    const std::vector<Heard> expected = {
        Listener::key(&listeners[0], 2, 7, 0),
        Listener::key(&listeners[1], 2, 7, 0),
        Listener::key(&listeners[0], 2, 7, 1),
        Listener::key(&listeners[1], 2, 7, 1),
    };
    EXPECT_EQ(expected, log->heard()) << "the id is the event's, not the index the device was fetched at";
    EXPECT_EQ(callsBefore, sim.log().entries()) << "events never touch the device";
}

TEST_F(KeyPadReceiver, Execute_SwitchesTheBacklightForTypesOneAndZeroOnly) {
    KeyPad receiver(takeDevice());
    receiver.open();
    for (int type : {1, 0, 2, -1}) receiver.execute(KeyCommandRecord{7, type, 4});
    receiver.execute(KeyCommandRecord{0, 1, -3});
    const std::string device = prefix();
    EXPECT_EQ(1u, sim.log().count(device + "SetBacklight(4,1)"));
    EXPECT_EQ(1u, sim.log().count(device + "SetBacklight(4,0)"));
    EXPECT_EQ(1u, sim.log().count(device + "SetBacklight(-3,1)")) << "no range test";
    EXPECT_EQ(3u, sim.log().countPrefix(device + "SetBacklight")) << sim.log().dump();
    EXPECT_TRUE(sim.log().inOrder({device + "SetBacklight(4,1)", device + "SetBacklight(4,0)"}));
}

TEST_F(KeyPadReceiver, DispatchWithoutHandler_TouchesNothing) {
    Listener listener(log);
    KeyPad receiver(takeDevice());
    receiver.open();
    receiver.addKeyListener(&listener);
    const auto callsBefore = sim.log().entries();
    for (int code : {3, 7, 12, -2, 9}) EXPECT_EQ(E_FAIL, receiver.dispatch(code, 1, 2, nullptr)) << code;
    EXPECT_EQ(S_FALSE, receiver.dispatch(-1, 1, 2, nullptr));
    EXPECT_EQ(S_OK, receiver.dispatch(KeyPad::ErrorCode, 1, 2, nullptr));
    EXPECT_TRUE(log->heard().empty());
    EXPECT_EQ(callsBefore, sim.log().entries());
}

TEST_F(KeyPadReceiver, StartStopAndDestruction_ReachTheDeviceInOrder) {
    {
        KeyPad receiver(takeDevice());
        receiver.open();
        EXPECT_EQ(1u, probe()->sinkCount());
        EXPECT_EQ(1, moduleLockCount()) << "three events, one node, one sink";
        receiver.start();
        receiver.stop();
    }
    const std::string device = prefix();
    EXPECT_TRUE(sim.log().inOrder({device + "Start", device + "Stop", device + "Unadvise(1)", device + "Stop",
                                   device + "Close", device + "Release->0"}))
        << sim.log().dump();
    EXPECT_EQ(1u, sim.log().countPrefix(device + "Unadvise")) << "the last of the three unhooks disconnects";
    EXPECT_EQ(0, probe()->refCount());
}

TEST_F(KeyPadReceiver, NullDevice_IgnoresDeviceRequestsAndMakesNoComCall) {
    Listener listener(log);
    {
        KeyPad receiver(ComRef<IKeyPadDevice>{});
        EXPECT_EQ(0, moduleLockCount());
        receiver.addKeyListener(&listener);
        receiver.start();
        receiver.stop();
        receiver.execute(KeyCommandRecord{0, 1, 4});
        receiver.notifyListeners(Dravlo::KeyEventRecord{5, 6, 1});
    }
    EXPECT_EQ((std::vector<Heard>{Listener::key(&listener, 5, 6, 1)}), log->heard());
    EXPECT_TRUE(sim.log().entries().empty()) << sim.log().dump();
}

}  // namespace
