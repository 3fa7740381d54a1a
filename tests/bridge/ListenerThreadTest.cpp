// Threads meeting in the forwarding: threads that are already attached when
// an event arrives, a registration that replaces the listener while its
// callback runs, and registrations racing with events on other threads.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <set>

#include "tests/bridge/ListenerFixture.h"

namespace {

using namespace Dravlo;
using namespace Dravlo::Testing;
using StandIn::RecordingListener;
using StandIn::ThrowableInfo;
namespace Java = StandIn::Java;

using AttachedThreadTest = ListenerTest;

const ThrowableInfo kListenerFailure{"java/lang/IllegalStateException", "listener failed"};

TEST_F(AttachedThreadTest, JavaThread_BorrowedAsItIs) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    const auto thrown = vm.callNative([&](JNIEnv*) { driver.onDialEvent(CounterClockwiseJog); });
    EXPECT_EQ(thrown, std::nullopt);
    ASSERT_EQ(listener.count(), 1u);
    EXPECT_EQ(listener.events()[0].thread, std::this_thread::get_id());
    EXPECT_EQ(vm.attaches(), 0u);
    EXPECT_EQ(vm.detaches(), 0u);
}

TEST_F(AttachedThreadTest, JavaThread_ThrowingCallback_DescribedAndClearedBeforeReturning) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    listener.throwFromCallbacks(kListenerFailure.className, kListenerFailure.message);
    std::optional<ThrowableInfo> thrown;
    std::vector<ThrowableInfo> described;
    {
        DescribeCounter counter(vm, env);
        thrown = vm.callNative([&](JNIEnv*) { driver.onDialEvent(CounterClockwiseJog); });
        described = counter.described();
    }
    EXPECT_EQ(described, std::vector<ThrowableInfo>{kListenerFailure});
    EXPECT_EQ(thrown, std::nullopt) << "nothing reaches the Java code the thread returns to";
    EXPECT_EQ(listener.count(), 1u);
    EXPECT_EQ(vm.detaches(), 0u);
}

TEST_F(AttachedThreadTest, NativeThreadAttachedByTheApplication_StaysAttached_ExceptionDescribedAndCleared) {
    RecordingListener listener(vm);
    registerDial(listener.className());
    listener.throwFromCallbacks(kListenerFailure.className, kListenerFailure.message);
    std::vector<ThrowableInfo> described;
    bool attachedAfter = false;
    std::optional<ThrowableInfo> pendingAfter;
    std::thread([&] {
        void* own = nullptr;
        ASSERT_EQ(vm.javaVm()->AttachCurrentThread(&own, nullptr), JNI_OK);
        {
            DescribeCounter counter(vm, static_cast<JNIEnv*>(own));
            driver.onDialEvent(CounterClockwiseJog);
            described = counter.described();
        }
        attachedAfter = vm.isAttached();
        pendingAfter = vm.pendingException();
        vm.javaVm()->DetachCurrentThread();
    }).join();

    EXPECT_TRUE(attachedAfter);
    EXPECT_EQ(pendingAfter, std::nullopt);
    EXPECT_EQ(described, std::vector<ThrowableInfo>{kListenerFailure});
    EXPECT_EQ(vm.attaches(), 1u) << "only the application's own attach";
    EXPECT_EQ(vm.detaches(), 1u);
    EXPECT_THAT(vm.uncaughtExceptions(), ::testing::IsEmpty());
    EXPECT_EQ(listener.count(), 1u);
}

// The callback waits on the event thread while the test's Java thread
// replaces its listener, or unregisters it: the registration must not wait
// for the callback, and the reference the callback runs on must stay valid
// after the holder let go of it, until the call is over, and no longer: not
// even while a call on the successor, made after the swap, still runs.
struct RunningCase {
    const char* name;
    bool unregister;
    bool successorCallRuns;  // another event thread is inside the successor's callback meanwhile
};

void PrintTo(const RunningCase& running, std::ostream* out) { *out << running.name; }

class CallbackRunningTest : public ListenerTest, public ::testing::WithParamInterface<RunningCase> {};

TEST_P(CallbackRunningTest, ReplacedWhileItsCallbackRuns_RegistrationDoesNotWait_ReferenceStaysValid) {
    const RunningCase& c = GetParam();
    RecordingListener successor(vm);
    std::promise<void> entered, replaced, heldEntered, heldReleased;
    std::shared_future<void> replacedSignal = replaced.get_future().share();
    std::shared_future<void> heldSignal = heldReleased.get_future().share();
    bool replacedInTime = false;
    std::string selfAfter;
    vm.defineClass("test/Slow")
        .constructor()
        .method(Java::OnDialEvent, Java::OnDialEventSignature,
                [&](JNIEnv* e, jobject self, const std::vector<jvalue>&) {
                    entered.set_value();
                    replacedInTime = replacedSignal.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
                    selfAfter = vm.inspect(self).className;
                    jclass cls = e->GetObjectClass(self);  // a deleted reference here would be a violation
                    e->DeleteLocalRef(cls);
                });
    vm.defineClass("test/Held")
        .constructor()
        .method(Java::OnDialEvent, Java::OnDialEventSignature, [&](JNIEnv*, jobject, const std::vector<jvalue>&) {
            heldEntered.set_value();
            heldSignal.wait_for(std::chrono::seconds(5));
        });
    registerDial("test/Slow");
    std::thread eventThread([&] { driver.onDialEvent(CounterClockwiseJog); });
    entered.get_future().wait();
    if (c.unregister) {
        EXPECT_EQ(registerDialNull(), std::nullopt);
    } else {
        registerDial(c.successorCallRuns ? "test/Held" : successor.className());
    }
    std::thread laterThread;
    if (c.successorCallRuns) {
        laterThread = std::thread([&] { driver.onDialEvent(ShuttleAt(1)); });
        heldEntered.get_future().wait();
    }
    replaced.set_value();
    eventThread.join();

    EXPECT_TRUE(replacedInTime) << "the registration waited for the running callback";
    EXPECT_EQ(selfAfter, "test/Slow");
    EXPECT_EQ(vm.liveGlobalRefs(), c.unregister ? 0u : 1u) << "the reference let go of outlived its call";
    if (c.successorCallRuns) {
        heldReleased.set_value();
        laterThread.join();
        return;
    }
    fireDial(CounterClockwiseJog);
    EXPECT_EQ(successor.count(), c.unregister ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Listeners, CallbackRunningTest,
                         ::testing::Values(RunningCase{"Replaced", false, false},
                                           RunningCase{"Unregistered", true, false},
                                           RunningCase{"ReplacedWhileASuccessorCallRuns", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RaceCase {
    const char* name;
    bool unregister;  // every fifth registration is a null listener
};

void PrintTo(const RaceCase& race, std::ostream* out) { *out << race.name; }

class RegistrationRaceTest : public ListenerTest, public ::testing::WithParamInterface<RaceCase> {};

// Two event threads forward events while the test's Java thread keeps
// replacing the listener. Every event must reach exactly one listener object
// that was registered, or (only while unregistered) none.
TEST_P(RegistrationRaceTest, EveryEventBuiltOnce_DeliveredAtMostOnceToARegisteredObject) {
    constexpr int kThreads = 2, kEvents = 1000;
    RecordingListener a(vm), b(vm);
    std::set<std::uint64_t> registered{registerDial(a.className()).object};
    std::atomic<bool> done{false};
    std::vector<std::thread> eventThreads;
    for (int t = 0; t < kThreads; ++t) {
        eventThreads.emplace_back([&, t] {
            for (int i = 0; i < kEvents; ++i) driver.onDialEvent(DialEventRecord{t * kEvents + i, i, 0, 0});
        });
    }
    std::thread finisher([&] {
        for (std::thread& thread : eventThreads) thread.join();
        done = true;
    });
    for (int n = 0; !done; ++n) {
        if (GetParam().unregister && n % 5 == 4) {
            EXPECT_EQ(registerDialNull(), std::nullopt);
        } else {
            registered.insert(registerDial((n % 2 == 0 ? b : a).className()).object);
        }
    }
    finisher.join();

    std::set<jint> seen;
    for (const RecordingListener* listener : {&a, &b}) {
        for (const StandIn::ReceivedEvent& event : listener->events()) {
            EXPECT_EQ(registered.count(event.receiver), 1u) << "a listener object that was never registered";
            EXPECT_TRUE(seen.insert(event.at("fDeviceID")).second) << "delivered twice";
            EXPECT_EQ(event.at("fShuttleState"), event.at("fDeviceID") % kEvents);
        }
    }
    EXPECT_EQ(dialEventsBuilt(), static_cast<std::size_t>(kThreads * kEvents));
    if (!GetParam().unregister) {
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEvents));
    }
    EXPECT_GT(registered.size(), 2u) << "the race did not happen";
    EXPECT_LE(vm.liveGlobalRefs(), 1u);
    EXPECT_EQ(vm.attaches(), vm.detaches());
}

INSTANTIATE_TEST_SUITE_P(Listeners, RegistrationRaceTest,
                         ::testing::Values(RaceCase{"Replacing", false}, RaceCase{"ReplacingAndUnregistering", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
