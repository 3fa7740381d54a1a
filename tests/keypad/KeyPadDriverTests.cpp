// The keypad driver as Java sees it, through the five natives Dravlo.dll
// exports: the shared life cycle, and Java's backlight commands reaching
// keypad 0 and nothing else.

#include "applet_utils_dravlo_KeyPadDriver.h"
#include "bridge/Messages.h"
#include "tests/driver/DriverLifecycleTests.h"

#include <atomic>
#include <thread>

namespace DriverTests {

struct KeyPadNatives {
    static constexpr const char* javaClass = StandIn::Java::KeyPadDriver;
    static constexpr AxisSim::Kind kind = AxisSim::Kind::KeyPad;
    static constexpr const char* comInitFailed = Dravlo::Messages::KeyPadComInitFailed;
    static constexpr const char* initFailed = Dravlo::Messages::KeyPadInitFailed;
    static constexpr const char* noDevice = Dravlo::Messages::KeyPadNoDevice;

    std::string missing;
    DRAVLO_NATIVE(KeyPadDriver, initializeImpl);
    DRAVLO_NATIVE(KeyPadDriver, uninitializeImpl);
    DRAVLO_NATIVE(KeyPadDriver, getNumberOfDevicesImpl);
    DRAVLO_NATIVE(KeyPadDriver, registerKeyListenerImpl);
    DRAVLO_NATIVE(KeyPadDriver, executeCommandImpl);
};

INSTANTIATE_TYPED_TEST_SUITE_P(KeyPad, DriverLifecycle, KeyPadNatives);

namespace {

using AxisSim::intArgs;
using StandIn::RecordingListener;
namespace Dispid = AxisSim::Dispid;

class KeyPadDriver : public DriverTest<KeyPadNatives> {
protected:
    /// Executes a new Java KeyCommand with these fields; nothing may reach Java.
    void execute(jint deviceId, jint type, jint buttonNumber) {
        EXPECT_FALSE(callJava([&](JNIEnv* e, jobject self) { execute(e, self, deviceId, type, buttonNumber); }));
    }
    /// The same inside a native call already running on `e`'s thread.
    void execute(JNIEnv* e, jobject self, jint deviceId, jint type, jint buttonNumber) {
        natives.executeCommandImpl(
            e, self,
            vm.newInstance(e, StandIn::Java::KeyCommand,
                           {{"fDeviceID", deviceId}, {"fType", type}, {"fButtonNumber", buttonNumber}}));
    }
    std::size_t backlightCalls() { return sim.log().countPrefix(at() + "SetBacklight"); }
};

TEST_F(KeyPadDriver, Commands_SwitchTheBacklightOfKeypadZeroForTypesOneAndZeroOnly) {
    execute(0, 1, 5);  // before initialise: ignored
    config().deviceCount = 2;
    ASSERT_FALSE(initialize());
    EXPECT_EQ(2, deviceCount());
    for (jint type : {1, 0, 2, -1}) execute(0, type, 5);
    execute(1, 1, 6);  // keypad 1's number still goes to keypad 0
    EXPECT_FALSE(callJava([&](JNIEnv* e, jobject self) { natives.executeCommandImpl(e, self, nullptr); }));
    const std::vector<std::string> expected = {at() + "SetBacklight(5,1)", at() + "SetBacklight(5,0)",
                                               at() + "SetBacklight(6,1)"};
    std::vector<std::string> backlights;
    for (const std::string& entry : sim.log().entries())
        if (entry.find(".SetBacklight") != std::string::npos) backlights.push_back(entry);
    EXPECT_EQ(expected, backlights);

    EXPECT_FALSE(uninitialize());
    execute(0, 1, 5);  // after uninitialise: ignored
    EXPECT_EQ(3u, backlightCalls());
}

TEST_F(KeyPadDriver, TwoKeypads_OnlyKeypadZeroDelivers) {
    config().deviceCount = 2;
    RecordingListener listener(vm);
    ASSERT_FALSE(initialize());
    EXPECT_FALSE(registerKeyListener(&listener));
    EXPECT_EQ(1u, device(0)->sinkCount());
    EXPECT_EQ(0u, device(1)->sinkCount());
    EXPECT_TRUE(device(1)->fire(Dispid::ButtonDown, intArgs({1, 4})).empty());
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device(0)->fireOnNewThread(Dispid::ButtonDown, intArgs({0, 4})));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device(0)->fire(Dispid::Error, AxisSim::errorArgs(0, 42, L"jammed")));
    ASSERT_EQ(1u, listener.count());
    EXPECT_EQ(4, listener.events()[0].at("fButtonNumber"));
    EXPECT_FALSE(uninitialize());
}

TEST_F(KeyPadDriver, CommandsRacingTeardown_ReachTheDeviceOrNothing) {
    // Another Java thread sends commands without pause while this one opens
    // and tears the driver down; each command stays in the device a while.
    constexpr int Rounds = 20;
    config().setBacklightMs = 20;  // longer than a teardown takes
    std::atomic<bool> done{false};
    std::atomic<long> sent{0};
    std::thread commander([&] {
        for (; !done; ++sent) execute(0, 1, 5);
    });
    std::size_t late = 0;
    for (int round = 0; round < Rounds; ++round) {
        ASSERT_FALSE(initialize());
        for (const long seen = sent; sent < seen + 2;) std::this_thread::yield();
        EXPECT_FALSE(uninitialize());
        const std::size_t atReturn = backlightCalls();
        for (const long seen = sent; sent < seen + 2;) std::this_thread::yield();
        late += backlightCalls() - atReturn;
    }
    done = true;
    commander.join();
    EXPECT_EQ(0u, late) << "a command reached a device after uninitializeImpl returned";
    EXPECT_GE(backlightCalls(), static_cast<std::size_t>(Rounds)) << "the commands never met an open driver";

    // A listener that commands, tears the driver down and commands again.
    config().setBacklightMs = 0;
    sim.log().clear();
    RecordingListener listener(vm);
    listener.runInCallbacks([this](JNIEnv* e) {
        const jobject self = vm.newInstance(e, StandIn::Java::KeyPadDriver);
        execute(e, self, 0, 1, 6);
        EXPECT_EQ(0, natives.uninitializeImpl(e, self));
        execute(e, self, 0, 1, 7);
    });
    ASSERT_FALSE(registerKeyListener(&listener));
    ASSERT_FALSE(initialize());
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device()->fire(Dispid::ButtonDown, intArgs({0, 1})));
    EXPECT_EQ(1u, sim.log().count(at() + "SetBacklight(6,1)")) << sim.log().dump();
    EXPECT_EQ(1u, backlightCalls()) << "the command after the teardown did nothing";
}

TEST_F(KeyPadDriver, ZeroKeypads_CommandsAreIgnored) {
    config().deviceCount = 0;
    ASSERT_FALSE(initialize());
    execute(0, 1, 5);
    EXPECT_FALSE(uninitialize());
    EXPECT_EQ(0u, sim.log().countPrefix("KeyPadDevice")) << sim.log().dump();
}

}  // namespace
}  // namespace DriverTests
