// The keypad driver as Java sees it, through the five natives Dravlo.dll
// exports: the shared life cycle, and Java's backlight commands reaching
// keypad 0 and nothing else.

#include "applet_utils_dravlo_KeyPadDriver.h"
#include "bridge/Messages.h"
#include "tests/driver/DriverLifecycleTests.h"

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
        EXPECT_FALSE(callJava([&](JNIEnv* e, jobject self) {
            natives.executeCommandImpl(
                e, self,
                vm.newInstance(e, StandIn::Java::KeyCommand,
                               {{"fDeviceID", deviceId}, {"fType", type}, {"fButtonNumber", buttonNumber}}));
        }));
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

TEST_F(KeyPadDriver, ZeroKeypads_CommandsAreIgnored) {
    config().deviceCount = 0;
    ASSERT_FALSE(initialize());
    execute(0, 1, 5);
    EXPECT_FALSE(uninitialize());
    EXPECT_EQ(0u, sim.log().countPrefix("KeyPadDevice")) << sim.log().dump();
}

}  // namespace
}  // namespace DriverTests
