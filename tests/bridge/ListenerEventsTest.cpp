// Events forwarded into Java: the objects Java receives, events without a
// listener, and events that cannot be delivered (the callback throws, the
// event class cannot be found from the event thread, NewObject fails, the
// thread cannot be attached).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/bridge/ListenerFixture.h"

namespace {

using namespace Dravlo;
using namespace Dravlo::Testing;
using StandIn::ReceivedEvent;
using StandIn::RecordingListener;
using StandIn::ThrowableInfo;
using StandIn::Where;
namespace Java = StandIn::Java;
using Fields = std::map<std::string, jint>;

using ForwardingTest = ListenerTest;

TEST_F(ForwardingTest, DialEvents_ArriveWithTheRecordsValues) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    const std::thread::id jogThread = fireDial(CounterClockwiseJog);
    fireDial(ShuttleAt(-5));

    const std::vector<ReceivedEvent> events = listener.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].method, Java::OnDialEvent);
    EXPECT_EQ(events[0].className, Java::DialEvent);
    EXPECT_EQ(events[0].thread, jogThread);
    EXPECT_EQ(events[0].fields,
              (Fields{{"fDeviceID", 7}, {"fEventType", 1}, {"fJogDirection", 1}, {"fShuttleState", 0}}));
    EXPECT_EQ(events[1].fields,
              (Fields{{"fDeviceID", 8}, {"fEventType", 0}, {"fJogDirection", 0}, {"fShuttleState", -5}}));
    EXPECT_NE(events[0].event, events[1].event) << "one object per event";
    EXPECT_EQ(vm.attaches(), 2u);
    EXPECT_EQ(vm.detaches(), 2u);
}

TEST_F(ForwardingTest, KeyEvents_DownThenUpWithTheSameButton) {
    RecordingListener listener(vm);
    registerKey(listener.className());
    fireKey(ButtonDown);
    fireKey(ButtonUp);

    const std::vector<ReceivedEvent> events = listener.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].method, Java::OnKeyEvent);
    EXPECT_EQ(events[0].className, Java::KeyEvent);
    EXPECT_EQ(events[0].fields, (Fields{{"fButtonNumber", 12}, {"fDeviceID", 3}, {"fEventType", 0}}));
    EXPECT_EQ(events[1].fields, (Fields{{"fButtonNumber", 12}, {"fDeviceID", 3}, {"fEventType", 1}}));
}

TEST_F(ForwardingTest, DialAndKeyListeners_AreSeparate) {
    RecordingListener dial(vm), key(vm);
    registerDial(dial.className());
    registerKey(key.className());
    fireKey(ButtonDown);
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(dial.events(Java::OnDialEvent).size(), 1u);
    EXPECT_EQ(dial.count(), 1u);
    EXPECT_EQ(key.events(Java::OnKeyEvent).size(), 1u);
    EXPECT_EQ(key.count(), 1u);
}

TEST_F(ForwardingTest, NoListener_EventsBuiltAndDropped) {
    RecordingListener released(vm);
    registerDial(released.className());
    registerKey(released.className());
    vm.callNative([&](JNIEnv* javaEnv) { driver.release(javaEnv); });
    EXPECT_EQ(vm.liveGlobalRefs(), 0u);

    fireDial(CounterClockwiseJog);
    fireKey(ButtonDown);
    EXPECT_EQ(dialEventsBuilt(), 1u);
    EXPECT_EQ(keyEventsBuilt(), 1u);
    EXPECT_EQ(released.count(), 0u);
    EXPECT_THAT(vm.uncaughtExceptions(), ::testing::IsEmpty());
    EXPECT_EQ(vm.detaches(), 2u);
}

// What the callback threw is handled before the detach, whose treatment of a
// pending exception JNI leaves open; the stand-in has no java/lang/Thread, so
// no uncaught exception handler is reachable and the exception is printed.
TEST_F(ForwardingTest, ThrowingCallback_NotLeftForTheDetach_PrintedWithoutAHandler_NextEventDelivered) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    listener.throwFromCallbacks("java/lang/IllegalStateException", "listener failed");
    const std::thread::id eventThread = fireDial(CounterClockwiseJog);

    EXPECT_FALSE(vm.isAttached(eventThread));
    EXPECT_THAT(vm.uncaughtExceptions(), ::testing::IsEmpty());
    EXPECT_EQ(vm.describedExceptions(),
              (std::vector<ThrowableInfo>{{"java/lang/IllegalStateException", "listener failed"}}));
    listener.throwFromCallbacks("", "");
    fireDial(ShuttleAt(3));
    ASSERT_EQ(listener.count(), 2u);
    EXPECT_EQ(listener.events()[1].at("fShuttleState"), 3);
    EXPECT_EQ(vm.describedExceptions().size(), 1u);
    EXPECT_THAT(vm.violations(), ::testing::IsEmpty());
}

TEST_F(ForwardingTest, EventClassNotFoundOnTheEventThread_Dropped) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    registerKey(listener.className());
    vm.failFindClass(Java::DialEvent, Where::AttachedThreadsOnly);
    vm.failFindClass(Java::KeyEvent, Where::AttachedThreadsOnly);

    const std::thread::id eventThread = fireDial(CounterClockwiseJog);
    fireKey(ButtonDown);
    EXPECT_EQ(listener.count(), 0u);
    EXPECT_EQ(dialEventsBuilt() + keyEventsBuilt(), 0u);
    EXPECT_FALSE(vm.isAttached(eventThread));
    EXPECT_EQ(vm.detaches(), 2u);
    EXPECT_THAT(vm.uncaughtExceptions(), ::testing::IsEmpty()) << "the lookup's error must be cleared";

    // The same event forwarded on a Java thread, where the class is found.
    vm.callNative([&](JNIEnv*) { driver.onDialEvent(CounterClockwiseJog); });
    EXPECT_EQ(listener.count(), 1u);
}

TEST_F(ForwardingTest, NewObjectFails_DroppedWithoutWritingFields) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    registerKey(listener.className());
    vm.failNewObject();
    // A field written on the null object would be a JNI violation.
    const std::thread::id eventThread = fireDial(CounterClockwiseJog);
    fireKey(ButtonDown);
    EXPECT_EQ(listener.count(), 0u);
    EXPECT_FALSE(vm.isAttached(eventThread));
    EXPECT_THAT(vm.uncaughtExceptions(), ::testing::IsEmpty()) << "the allocation failure must be cleared";

    vm.clearFaults();
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(listener.count(), 1u);
}

TEST_F(ForwardingTest, AttachRefused_Dropped) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    vm.failAttach();
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(vm.failedAttaches(), 1u);
    EXPECT_EQ(vm.detaches(), 0u);
    EXPECT_EQ(dialEventsBuilt(), 0u);
    EXPECT_EQ(listener.count(), 0u);
}

}  // namespace
