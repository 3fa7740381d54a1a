#include "tests/bridge/ListenerFixture.h"

#include <cstdio>
#include <cstdlib>
#include <future>

#include "bridge/ClassNames.h"

namespace Dravlo {

// The class-name constants, defined for this test program as the library
// defines them among its static objects.
const std::string DialEventClassName = DRAVLO_DIAL_EVENT_CLASS;
const std::string KeyCommandClassName = DRAVLO_KEY_COMMAND_CLASS;
const std::string KeyEventClassName = DRAVLO_KEY_EVENT_CLASS;

namespace Testing {

namespace {

thread_local DescribeCounter* activeCounter = nullptr;

}  // namespace

DescribeCounter::DescribeCounter(StandIn::JvmStandIn& vm, JNIEnv* env)
    : vm_(vm), env_(env), original_(env->functions), table_(*env->functions) {
    table_.ExceptionDescribe = &DescribeCounter::describe;
    env_->functions = &table_;
    activeCounter = this;
}

DescribeCounter::~DescribeCounter() {
    env_->functions = original_;
    activeCounter = nullptr;
}

void JNICALL DescribeCounter::describe(JNIEnv* env) {
    DescribeCounter* counter = activeCounter;
    if (counter == nullptr || env != counter->env_) {
        ADD_FAILURE() << "ExceptionDescribe through a counted table on another thread";
        return;
    }
    if (auto pending = counter->vm_.pendingException()) counter->described_.push_back(*pending);
    counter->original_->ExceptionDescribe(env);
}

void ListenerTest::SetUp() {
    JvmTest::SetUp();
    vm.callNative([&](JNIEnv* javaEnv) { driver.bind(javaEnv); });
}

void ListenerTest::TearDown() {
    vm.callNative([&](JNIEnv* javaEnv) { driver.release(javaEnv); });
    EXPECT_EQ(vm.attachedNativeThreads(), 0u);
    JvmTest::TearDown();
}

namespace {

template <class Register>
Registration registerThrough(StandIn::JvmStandIn& vm, const std::string& className, Register registerEntry) {
    Registration result;
    result.thrown = vm.callNative([&](JNIEnv* javaEnv) {
        jobject object = vm.newInstance(javaEnv, className);
        result.object = vm.inspect(object).id;
        registerEntry(javaEnv, object);
    });
    return result;
}

template <class Record, class Deliver>
std::thread::id fireOnNewThread(const Record& record, Deliver deliver) {
    std::thread::id id;
    std::thread([&] {
        id = std::this_thread::get_id();
        deliver(record);
    }).join();
    return id;
}

}  // namespace

Registration ListenerTest::registerDial(const std::string& className) {
    return registerThrough(vm, className, [&](JNIEnv* e, jobject o) { driver.registerDialListener(e, o); });
}

Registration ListenerTest::registerKey(const std::string& className) {
    return registerThrough(vm, className, [&](JNIEnv* e, jobject o) { driver.registerKeyListener(e, o); });
}

std::optional<StandIn::ThrowableInfo> ListenerTest::registerDialNull() {
    return vm.callNative([&](JNIEnv* javaEnv) { driver.registerDialListener(javaEnv, nullptr); });
}

std::optional<StandIn::ThrowableInfo> ListenerTest::registerKeyNull() {
    return vm.callNative([&](JNIEnv* javaEnv) { driver.registerKeyListener(javaEnv, nullptr); });
}

std::thread::id ListenerTest::fireDial(const DialEventRecord& record) {
    return fireOnNewThread(record, [&](const DialEventRecord& r) { driver.onDialEvent(r); });
}

std::thread::id ListenerTest::fireKey(const KeyEventRecord& record) {
    return fireOnNewThread(record, [&](const KeyEventRecord& r) { driver.onKeyEvent(r); });
}

void ListenerTest::finishesWithin(std::chrono::seconds limit, const std::function<void()>& body) {
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread worker([&] {
        body();
        finished.set_value();
    });
    if (done.wait_for(limit) == std::future_status::timeout) {
        std::fprintf(stderr, "still running after %lld s: deadlock\n", static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(3);
    }
    worker.join();
}

}  // namespace Testing

}  // namespace Dravlo
