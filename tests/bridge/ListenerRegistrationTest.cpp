// Registering Java listeners: replacement, failed registration, null
// listeners, release, and listeners that register or release from inside
// their own callback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "bridge/Messages.h"
#include "tests/bridge/ListenerFixture.h"

namespace {

using namespace Dravlo;
using namespace Dravlo::Testing;
using StandIn::ListenerOptions;
using StandIn::RecordingListener;
using StandIn::ThrowableInfo;
namespace Java = StandIn::Java;

using RegistrationTest = ListenerTest;

std::string missingCallback(const char* method) {
    return std::string(method) + Messages::MemberNotFoundIn + Messages::UnnamedClass;
}

TEST_F(RegistrationTest, Register_HoldsOneGlobalReference) {
    RecordingListener listener(vm);
    const Registration registration = registerDial(listener.className());
    EXPECT_EQ(registration.thrown, std::nullopt);
    EXPECT_TRUE(driver.dialRegistered());
    EXPECT_FALSE(driver.keyRegistered());
    EXPECT_EQ(vm.liveGlobalRefs(), 1u);
    EXPECT_EQ(vm.liveLocalRefs(), 0u) << "the class found for the lookup is deleted";
}

TEST_F(RegistrationTest, SecondListener_ReceivesLaterEvents_FirstIsReleased) {
    RecordingListener first(vm), second(vm);
    registerDial(first.className());
    fireDial(CounterClockwiseJog);
    registerDial(second.className());
    EXPECT_EQ(vm.liveGlobalRefs(), 1u) << "the replaced listener's global reference is deleted";
    fireDial(CounterClockwiseJog);
    fireDial(ShuttleAt(2));
    EXPECT_EQ(first.count(), 1u);
    EXPECT_EQ(second.count(), 2u);
}

TEST_F(RegistrationTest, SameObjectAgain_StillOneReference) {
    RecordingListener listener(vm);
    vm.callNative([&](JNIEnv* javaEnv) {
        jobject object = listener.newInstance(javaEnv);
        driver.registerDialListener(javaEnv, object);
        driver.registerDialListener(javaEnv, object);
    });
    EXPECT_EQ(vm.liveGlobalRefs(), 1u);
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(listener.count(), 1u);
}

TEST_F(RegistrationTest, ListenerWithoutCallback_RaisesAndKeepsTheEarlierListener) {
    RecordingListener earlier(vm);
    RecordingListener dialOnly(vm, ListenerOptions{.onKeyEvent = false});
    const Registration kept = registerKey(earlier.className());

    const Registration failed = registerKey(dialOnly.className());
    EXPECT_EQ(failed.thrown, (ThrowableInfo{Java::IOException, missingCallback(Java::OnKeyEvent)}));
    EXPECT_EQ(missingCallback(Java::OnKeyEvent), "onKeyEvent not found in ...");
    EXPECT_EQ(vm.liveGlobalRefs(), 1u) << "the reference taken for the rejected listener is deleted";
    EXPECT_TRUE(driver.keyRegistered());

    fireKey(ButtonDown);
    ASSERT_EQ(earlier.count(), 1u);
    EXPECT_EQ(earlier.events()[0].receiver, kept.object);
    EXPECT_EQ(dialOnly.count(), 0u);
}

TEST_F(RegistrationTest, ListenerWithoutDialCallback_RaisesAndKeepsTheEarlierListener) {
    RecordingListener earlier(vm);
    RecordingListener keyOnly(vm, ListenerOptions{.onDialEvent = false});
    registerDial(earlier.className());
    EXPECT_EQ(registerDial(keyOnly.className()).thrown,
              (ThrowableInfo{Java::IOException, missingCallback(Java::OnDialEvent)}));
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(earlier.count(), 1u);
    EXPECT_EQ(vm.liveGlobalRefs(), 1u);
}

TEST_F(RegistrationTest, ListenerWithoutCallback_OnAnEmptyHolder_StaysEmpty) {
    RecordingListener dialOnly(vm, ListenerOptions{.onKeyEvent = false});
    EXPECT_EQ(registerKey(dialOnly.className()).thrown,
              (ThrowableInfo{Java::IOException, missingCallback(Java::OnKeyEvent)}));
    EXPECT_FALSE(driver.keyRegistered());
    EXPECT_EQ(vm.liveGlobalRefs(), 0u);
    fireKey(ButtonDown);
    EXPECT_EQ(dialOnly.count(), 0u);
}

TEST_F(RegistrationTest, NullListener_Unregisters) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    EXPECT_EQ(registerDialNull(), std::nullopt);
    EXPECT_FALSE(driver.dialRegistered());
    EXPECT_EQ(vm.liveGlobalRefs(), 0u);

    fireDial(CounterClockwiseJog);
    EXPECT_EQ(dialEventsBuilt(), 1u);
    EXPECT_EQ(listener.count(), 0u);
    EXPECT_EQ(registerKeyNull(), std::nullopt) << "on an empty holder too";
}

TEST_F(RegistrationTest, Release_EmptiesBothHolders_Twice) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    registerKey(listener.className());
    EXPECT_EQ(vm.liveGlobalRefs(), 2u);
    vm.callNative([&](JNIEnv* javaEnv) { driver.release(javaEnv); });
    EXPECT_EQ(vm.liveGlobalRefs(), 0u);
    EXPECT_FALSE(driver.dialRegistered() || driver.keyRegistered());
    vm.callNative([&](JNIEnv* javaEnv) { driver.release(javaEnv); });
    registerDial(listener.className());
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(listener.count(), 1u) << "registration works again after release";
}

TEST_F(RegistrationTest, CallbackReplacesItself_NoDeadlock_NextEventToTheNewListener) {
    RecordingListener successor(vm);
    std::atomic<int> calls{0};
    vm.defineClass("test/Replacer")
        .constructor()
        .method(Java::OnDialEvent, Java::OnDialEventSignature, [&](JNIEnv* e, jobject, const std::vector<jvalue>&) {
            ++calls;
            driver.registerDialListener(e, successor.newInstance(e));
        });
    registerDial("test/Replacer");
    finishesWithin(std::chrono::seconds(10), [&] { driver.onDialEvent(CounterClockwiseJog); });
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(successor.count(), 1u);
    EXPECT_EQ(vm.liveGlobalRefs(), 1u);
}

TEST_F(RegistrationTest, CallbackReleases_NoDeadlock_HoldersEmpty) {
    std::atomic<int> calls{0};
    vm.defineClass("test/Releaser")
        .constructor()
        .method(Java::OnKeyEvent, Java::OnKeyEventSignature, [&](JNIEnv* e, jobject, const std::vector<jvalue>&) {
            ++calls;
            driver.release(e);
        });
    registerKey("test/Releaser");
    finishesWithin(std::chrono::seconds(10), [&] { driver.onKeyEvent(ButtonDown); });
    // And on a Java thread, which the forwarding borrows.
    registerKey("test/Releaser");
    finishesWithin(std::chrono::seconds(10), [&] { vm.callNative([&](JNIEnv*) { driver.onKeyEvent(ButtonUp); }); });
    EXPECT_EQ(calls.load(), 2);
    EXPECT_FALSE(driver.keyRegistered());
    EXPECT_EQ(vm.liveGlobalRefs(), 0u);
}

}  // namespace
