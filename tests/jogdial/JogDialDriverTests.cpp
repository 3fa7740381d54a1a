// The jog dial driver as Java sees it, through the five natives Dravlo.dll
// exports: the shared life cycle, and the dial events of device 0 reaching
// the Java dial listener.

#include "tests/driver/DriverLifecycleTests.h"

namespace DriverTests {

INSTANTIATE_TYPED_TEST_SUITE_P(JogDial, DriverLifecycle, JogDialNatives);

namespace {

using AxisSim::intArgs;
using StandIn::RecordingListener;
namespace Dispid = AxisSim::Dispid;
namespace Java = StandIn::Java;

class JogDialDriver : public DriverTest<JogDialNatives> {
protected:
    Thrown registerDialListener(const RecordingListener* listener) {
        return callJava([&](JNIEnv* e, jobject self) {
            natives.registerDialListenerImpl(e, self, listener ? listener->newInstance(e) : nullptr);
        });
    }
    /// The fields of the dial events `listener` received, in order.
    static std::vector<std::vector<jint>> dialEvents(const RecordingListener& listener) {
        std::vector<std::vector<jint>> fields;
        for (const StandIn::ReceivedEvent& event : listener.events(Java::OnDialEvent)) {
            EXPECT_EQ(Java::DialEvent, event.className);
            fields.push_back(
                {event.at("fDeviceID"), event.at("fShuttleState"), event.at("fJogDirection"), event.at("fEventType")});
        }
        return fields;
    }
};

TEST_F(JogDialDriver, ThreeDevices_CountsThreeAndOnlyDeviceZeroDelivers) {
    config().deviceCount = 3;
    RecordingListener listener(vm);
    EXPECT_FALSE(registerDialListener(&listener));  // before initialise
    EXPECT_FALSE(registerKeyListener(&listener));
    ASSERT_FALSE(initialize());
    EXPECT_EQ(3, deviceCount());
    EXPECT_EQ(1u, device(0)->sinkCount());
    EXPECT_EQ(0u, device(1)->sinkCount() + device(2)->sinkCount());
    EXPECT_EQ(0u, sim.log().countPrefix(at(1)) + sim.log().countPrefix(at(2))) << sim.log().dump();

    for (auto [dispid, first, second] : std::vector<std::tuple<DISPID, long, long>>{
             {Dispid::ShuttleMove, 0, -7},
             {Dispid::JogMove, 0, -1},
             {Dispid::JogMove, 0, 5},
             {Dispid::JogMove, 4, 0},
             {Dispid::ButtonDown, 0, 3},
         })
        EXPECT_EQ(std::vector<HRESULT>{S_OK}, device(0)->fireOnNewThread(dispid, intArgs({first, second})));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device(0)->fire(Dispid::Error, AxisSim::errorArgs(0, 42, L"jammed")));
    EXPECT_TRUE(device(1)->fire(Dispid::JogMove, intArgs({1, 1})).empty());

    // fDeviceID, fShuttleState, fJogDirection, fEventType
    const std::vector<std::vector<jint>> expected = {{0, -7, 0, 0}, {0, 0, 1, 1}, {0, 0, 0, 1}, {4, 0, 0, 1}};
    EXPECT_EQ(expected, dialEvents(listener));
    const auto keys = listener.events(Java::OnKeyEvent);
    ASSERT_EQ(1u, keys.size()) << "buttons go to the key listener, errors nowhere";
    EXPECT_EQ(3, keys[0].at("fButtonNumber"));
    EXPECT_EQ(0, keys[0].at("fEventType"));
    EXPECT_FALSE(uninitialize());
}

TEST_F(JogDialDriver, DialListener_LaterRegistrationReplacesAndNullUnregisters) {
    RecordingListener first(vm), second(vm), keysOnly(vm, {.onDialEvent = false});
    const std::size_t globals = vm.liveGlobalRefs();
    ASSERT_FALSE(initialize());
    EXPECT_FALSE(registerDialListener(&first));
    device()->fireOnNewThread(Dispid::JogMove, intArgs({0, 1}));
    EXPECT_FALSE(registerDialListener(&second));
    device()->fireOnNewThread(Dispid::JogMove, intArgs({0, -1}));
    const std::string noCallback =
        std::string(Java::OnDialEvent) + Dravlo::Messages::MemberNotFoundIn + Dravlo::Messages::UnnamedClass;
    EXPECT_EQ(ioException(noCallback), registerDialListener(&keysOnly));
    device()->fireOnNewThread(Dispid::ShuttleMove, intArgs({0, 2}));
    EXPECT_EQ(globals + 1, vm.liveGlobalRefs());
    EXPECT_FALSE(registerDialListener(nullptr));
    EXPECT_EQ(globals, vm.liveGlobalRefs());
    device()->fireOnNewThread(Dispid::JogMove, intArgs({0, 1}));

    EXPECT_EQ((std::vector<std::vector<jint>>{{0, 0, 0, 1}}), dialEvents(first));
    EXPECT_EQ((std::vector<std::vector<jint>>{{0, 0, 1, 1}, {0, 2, 0, 0}}), dialEvents(second))
        << "a failed registration keeps the earlier listener";
    EXPECT_EQ(0u, keysOnly.count());
    EXPECT_FALSE(uninitialize());
}

}  // namespace
}  // namespace DriverTests
