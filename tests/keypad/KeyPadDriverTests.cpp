// The keypad driver as Java sees it, through the five natives Dravlo.dll
// exports: the shared life cycle, and Java's backlight commands reaching
// keypad 0 and nothing else.

#include "tests/driver/DriverLifecycleTests.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace DriverTests {

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

TEST_F(KeyPadDriver, CommandsRacingTeardown_ReachTheDeviceBeforeItsFirstStopOrNothing) {
    // Another Java thread sends commands without pause while this one opens
    // and tears the driver down. A command that stays in the device a while
    // must be over when the teardown returns; an instant one is logged as it
    // arrives, so none may come after the teardown's first Stop.
    struct Phase {
        unsigned setBacklightMs;
        int rounds;
    };
    std::atomic<bool> done{false};
    std::atomic<long> sent{0};
    std::thread commander([&] {
        for (; !done; ++sent) execute(0, 1, 5);
    });
    for (const Phase phase : {Phase{20, 20}, Phase{0, 300}}) {
        config().setBacklightMs = phase.setBacklightMs;
        std::size_t late = 0, afterStop = 0, reached = 0;
        for (int round = 0; round < phase.rounds; ++round) {
            sim.log().clear();
            ASSERT_FALSE(initialize());
            for (const long seen = sent; sent < seen + 2;) std::this_thread::yield();
            EXPECT_FALSE(uninitialize());
            const std::vector<std::string> entries = sim.log().entries();
            const auto firstStop = std::find(entries.begin(), entries.end(), at() + "Stop");
            afterStop += std::count_if(firstStop, entries.end(), [&](const std::string& entry) {
                return entry.starts_with(at() + "SetBacklight");
            });
            const std::size_t atReturn = backlightCalls();
            reached += atReturn;
            for (const long seen = sent; sent < seen + 2;) std::this_thread::yield();
            late += backlightCalls() - atReturn;
        }
        EXPECT_EQ(0u, late) << "a command reached a device after uninitializeImpl returned";
        if (phase.setBacklightMs == 0) {
            EXPECT_EQ(0u, afterStop) << "a command reached a device after its first Stop";
        }
        EXPECT_GE(reached, static_cast<std::size_t>(phase.rounds)) << "the commands seldom met an open driver";
    }
    done = true;
    commander.join();

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

    // A keypad that reports a backlight change through its events at once, on
    // the command's thread. That listener call uninitialises once another
    // listener's teardown has begun, and that teardown waits for the command.
    ASSERT_FALSE(registerKeyListener(&listener));
    ASSERT_FALSE(initialize());
    sim.log().clear();
    const std::string teardownBegun = sim.collection(KeyPadNatives::kind)->name() + ".Release->0";
    std::atomic<std::thread::id> commandThread;
    listener.runInCallbacks([&](JNIEnv* e) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::this_thread::get_id() == commandThread.load() && !sim.log().contains(teardownBegun) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        EXPECT_EQ(0, natives.uninitializeImpl(e, vm.newInstance(e, StandIn::Java::KeyPadDriver)));
    });
    device()->deliverOutsideLock(true);
    config().onSetBacklight = [](AxisSim::DeviceProbe& keyPad) { keyPad.fire(Dispid::ButtonDown, intArgs({0, 3})); };
    std::thread command([&] {
        commandThread = std::this_thread::get_id();
        execute(0, 1, 8);
    });
    ASSERT_TRUE(listener.waitForCount(2));
    device()->fireOnNewThread(Dispid::ButtonDown, intArgs({0, 4}));
    command.join();
    config().onSetBacklight = nullptr;
    EXPECT_EQ(3u, listener.count());
    EXPECT_TRUE(sim.log().contains(at() + "Release->0"));
    EXPECT_FALSE(uninitialize());
}

TEST_F(KeyPadDriver, HundredDeliveriesAtOnce_EachListenerCommandReachesTheDevice) {
    // Every delivery is inside the receiver before any of them sends its
    // command, as when many device threads fire at once.
    constexpr int Deliveries = 100;
    std::mutex mutex;
    std::condition_variable allInside;
    int inside = 0;  // guarded by mutex
    RecordingListener listener(vm);
    listener.runInCallbacks([&](JNIEnv* e) {
        {
            std::unique_lock lock(mutex);
            if (++inside == Deliveries) allInside.notify_all();
            allInside.wait_for(lock, std::chrono::seconds(30), [&] { return inside == Deliveries; });
        }
        execute(e, vm.newInstance(e, StandIn::Java::KeyPadDriver), 0, 1, 9);
    });
    ASSERT_FALSE(registerKeyListener(&listener));
    ASSERT_FALSE(initialize());
    auto device = this->device();
    device->deliverOutsideLock(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < Deliveries; ++t)
        threads.emplace_back([&] { device->fire(Dispid::ButtonDown, intArgs({0, 1})); });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(Deliveries, inside);
    EXPECT_EQ(static_cast<std::size_t>(Deliveries), listener.count());
    EXPECT_EQ(static_cast<std::size_t>(Deliveries), sim.log().count(at() + "SetBacklight(9,1)"));
    EXPECT_FALSE(uninitialize());
}

TEST_F(KeyPadDriver, EachDriverTornDownFromTheOthersListener_BothReturnAndNothingFollows) {
    // The jog dial is initialised on a Java thread of its own, the keypad on
    // this one. Each one's listener uninitialises the other driver while the
    // other's listener is running too.
    JogDialNatives jogDial;
    ASSERT_EQ("", jogDial.missing);
    RecordingListener keyPadListener(vm), jogDialListener(vm);
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool jogDialOpen = false, finish = false;
    const auto meetThenUninitialize = [&](JNIEnv* e, auto uninitializeImpl, const char* javaClass) {
        {
            std::unique_lock lock(mutex);
            ++inside;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(10), [&] { return inside == 2; });
        }
        EXPECT_EQ(0, uninitializeImpl(e, vm.newInstance(e, javaClass)));
    };
    keyPadListener.runInCallbacks(
        [&](JNIEnv* e) { meetThenUninitialize(e, jogDial.uninitializeImpl, StandIn::Java::JogDialDriver); });
    jogDialListener.runInCallbacks(
        [&](JNIEnv* e) { meetThenUninitialize(e, natives.uninitializeImpl, StandIn::Java::KeyPadDriver); });
    std::thread jogDialThread([&] {
        const AxisSim::InitializeSpyRegistration classes = sim.registerOnInitialize();
        EXPECT_FALSE(vm.callNative([&](JNIEnv* e) {
            const jobject self = vm.newInstance(e, StandIn::Java::JogDialDriver);
            jogDial.registerKeyListenerImpl(e, self, jogDialListener.newInstance(e));
            EXPECT_EQ(0, jogDial.initializeImpl(e, self));
        }));
        std::unique_lock lock(mutex);
        jogDialOpen = true;
        changed.notify_all();
        changed.wait(lock, [&] { return finish; });
        lock.unlock();
        EXPECT_FALSE(vm.callNative([&](JNIEnv* e) {  // balances this thread's COM
            EXPECT_EQ(0, jogDial.uninitializeImpl(e, vm.newInstance(e, StandIn::Java::JogDialDriver)));
        }));
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return jogDialOpen; });
    }
    ASSERT_FALSE(registerKeyListener(&keyPadListener));
    ASSERT_FALSE(initialize());
    auto keyPad = device();
    auto jogDialDevice = sim.jogDialDevice(0);
    keyPad->deliverOutsideLock(true);
    jogDialDevice->deliverOutsideLock(true);
    std::thread jogDialEvent([&] { jogDialDevice->fire(Dispid::ButtonDown, intArgs({0, 1})); });
    keyPad->fireOnNewThread(Dispid::ButtonDown, intArgs({0, 2}));
    jogDialEvent.join();
    EXPECT_EQ(2, inside);
    EXPECT_TRUE(sim.log().contains(at() + "Release->0")) << sim.log().dump();
    EXPECT_TRUE(sim.log().contains(jogDialDevice->name() + ".Release->0"));
    keyPad->fireOnNewThread(Dispid::ButtonDown, intArgs({0, 3}));
    jogDialDevice->fireOnNewThread(Dispid::ButtonDown, intArgs({0, 4}));
    EXPECT_EQ(1u, keyPadListener.count()) << "delivered after the teardown";
    EXPECT_EQ(1u, jogDialListener.count()) << "delivered after the teardown";
    {
        std::lock_guard lock(mutex);
        finish = true;
        changed.notify_all();
    }
    jogDialThread.join();
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
