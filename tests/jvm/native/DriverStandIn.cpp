// The stand-in for Dravlo.dll's two drivers, in the library named like it
// that the host JVM's tests load: the natives of JogDialDriver and KeyPadDriver
// with the rules the Java handles are built for, and what the tests need to
// see them. Registration and forwarding are bridge/'s, through
// ForwardingDriver; COM is modelled per thread; events come from a native
// thread that StandInDrivers.fire starts.
//
// The rules: initializeImpl fails with the COM text on a thread whose COM is
// started, and a failure after the start leaves it started until
// uninitializeImpl there (what the library does today). uninitializeImpl
// lets no event in afterwards; from a thread that is not delivering one it
// waits until no listener call runs, from inside a listener call it does not
// wait; it balances COM only on the thread that started it.

#include <jni.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "applet_utils_dravlo_JogDialDriver.h"
#include "applet_utils_dravlo_KeyPadDriver.h"
#include "bridge/Exceptions.h"
#include "bridge/JniRef.h"
#include "bridge/Messages.h"
#include "tests/jvm/native/ForwardingDriver.h"
#include "tests/jvm/native/JvmTestSupport.h"

namespace {

using namespace Dravlo;
using Dravlo::Testing::ForwardingDriver;

enum Kind { JogDialKind = 0, KeyPadKind = 1 };
constexpr const char* ComText[] = {Messages::JogDialComInitFailed, Messages::KeyPadComInitFailed};

thread_local bool comStarted = false;  // this thread's CoInitialize, whichever driver made it
thread_local std::string comFailure;   // the COM reason of this thread's last failed initialise
std::atomic<int> comOwed{0};           // threads whose CoInitialize is not balanced

// Thread rule: the natives run on Java threads, deliveries on the fire
// threads; the mutex guards every field but `forwarding`, which is bridge's.
struct StandInDriver {
    ForwardingDriver forwarding;
    std::mutex mutex;
    std::condition_variable idle;
    bool connected = false;
    std::thread::id initializer;
    std::vector<std::thread::id> delivering;  // one entry per running listener call
    std::string calls;                        // "<native>@<Java thread name>\n" each
    std::string failNext;
    std::string failNextReason;  // the COM reason the next failure leaves, or none
    int fireOnConnect = 0;       // events the next initializeImpl delivers before it returns
};
StandInDriver drivers[2];

std::string javaThreadName(JNIEnv* env) {
    LocalRef<jclass> thread(env, env->FindClass("java/lang/Thread"));
    jmethodID current = env->GetStaticMethodID(thread.get(), "currentThread", "()Ljava/lang/Thread;");
    jmethodID getName = env->GetMethodID(thread.get(), "getName", "()Ljava/lang/String;");
    LocalRef<jobject> self(env, env->CallStaticObjectMethod(thread.get(), current));
    if (env->ExceptionCheck()) return "?";
    LocalRef<jstring> name(env, static_cast<jstring>(env->CallObjectMethod(self.get(), getName)));
    if (env->ExceptionCheck()) return "?";
    return JvmTest::toStdString(env, name.get());
}

StandInDriver& called(JNIEnv* env, Kind kind, const char* native) {
    StandInDriver& driver = drivers[kind];
    std::string entry = std::string(native) + "@" + javaThreadName(env) + "\n";
    std::lock_guard lock(driver.mutex);
    driver.calls += entry;
    return driver;
}

void fireAndWait(Kind kind, int events);

void initialize(JNIEnv* env, Kind kind) {
    StandInDriver& driver = called(env, kind, "initializeImpl");
    comFailure.clear();
    if (comStarted) throw IOException(ComText[kind]);
    comStarted = true;
    ++comOwed;
    std::unique_lock lock(driver.mutex);
    driver.initializer = std::this_thread::get_id();
    if (!driver.failNext.empty()) {
        comFailure = std::exchange(driver.failNextReason, {});
        throw IOException(std::exchange(driver.failNext, {}));
    }
    lock.unlock();
    driver.forwarding.bind(env);
    lock.lock();
    driver.connected = true;
    // A device that fires from Start: its events come before the initialise returns.
    if (const int events = std::exchange(driver.fireOnConnect, 0); events > 0) {
        lock.unlock();
        fireAndWait(kind, events);
    }
}

void uninitialize(JNIEnv* env, Kind kind) {
    StandInDriver& driver = called(env, kind, "uninitializeImpl");
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(driver.mutex);
    driver.connected = false;
    if (std::find(driver.delivering.begin(), driver.delivering.end(), self) == driver.delivering.end())
        driver.idle.wait(lock, [&] { return driver.delivering.empty(); });
    const bool balances = comStarted && driver.initializer == self;
    lock.unlock();
    driver.forwarding.release(env);
    if (balances) {
        comStarted = false;
        --comOwed;
    }
}

void deliver(Kind kind, int index) {
    StandInDriver& driver = drivers[kind];
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard lock(driver.mutex);
        if (!driver.connected) return;
        driver.delivering.push_back(self);
    }
    if (kind == JogDialKind)
        driver.forwarding.onDialEvent(DialEventRecord{0, 0, index % 2, 1});
    else
        driver.forwarding.onKeyEvent(KeyEventRecord{0, index, 0});
    std::lock_guard lock(driver.mutex);
    driver.delivering.erase(std::find(driver.delivering.begin(), driver.delivering.end(), self));
    driver.idle.notify_all();
}

void fireAndWait(Kind kind, int events) {
    std::thread device([=] {
        for (int i = 0; i < events; ++i) deliver(kind, i);
    });
    device.join();
}

template <class Body>
void reporting(JNIEnv* env, Body&& body) noexcept {
    guardEntry(env, "stand-in failed", body);
}

}  // namespace

extern "C" {

// --- JogDialDriver -----------------------------------------------------------

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_JogDialDriver_initializeImpl(JNIEnv* env, jobject) {
    reporting(env, [&] { initialize(env, JogDialKind); });
    return 0;
}
JNIEXPORT jint JNICALL Java_applet_utils_dravlo_JogDialDriver_uninitializeImpl(JNIEnv* env, jobject) {
    uninitialize(env, JogDialKind);
    return 0;
}
JNIEXPORT jint JNICALL Java_applet_utils_dravlo_JogDialDriver_getNumberOfDevicesImpl(JNIEnv* env, jobject) {
    called(env, JogDialKind, "getNumberOfDevicesImpl");
    return 1;
}
JNIEXPORT void JNICALL Java_applet_utils_dravlo_JogDialDriver_registerDialListenerImpl(JNIEnv* env, jobject,
                                                                                       jobject listener) {
    called(env, JogDialKind, "registerDialListenerImpl").forwarding.registerDialListener(env, listener);
}
JNIEXPORT void JNICALL Java_applet_utils_dravlo_JogDialDriver_registerKeyListenerImpl(JNIEnv* env, jobject,
                                                                                      jobject listener) {
    called(env, JogDialKind, "registerKeyListenerImpl").forwarding.registerKeyListener(env, listener);
}

// --- KeyPadDriver ------------------------------------------------------------

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_KeyPadDriver_initializeImpl(JNIEnv* env, jobject) {
    reporting(env, [&] { initialize(env, KeyPadKind); });
    return 0;
}
JNIEXPORT jint JNICALL Java_applet_utils_dravlo_KeyPadDriver_uninitializeImpl(JNIEnv* env, jobject) {
    uninitialize(env, KeyPadKind);
    return 0;
}
JNIEXPORT jint JNICALL Java_applet_utils_dravlo_KeyPadDriver_getNumberOfDevicesImpl(JNIEnv* env, jobject) {
    called(env, KeyPadKind, "getNumberOfDevicesImpl");
    return 1;
}
JNIEXPORT void JNICALL Java_applet_utils_dravlo_KeyPadDriver_registerKeyListenerImpl(JNIEnv* env, jobject,
                                                                                     jobject listener) {
    called(env, KeyPadKind, "registerKeyListenerImpl").forwarding.registerKeyListener(env, listener);
}
JNIEXPORT void JNICALL Java_applet_utils_dravlo_KeyPadDriver_executeCommandImpl(JNIEnv* env, jobject, jobject) {
    called(env, KeyPadKind, "executeCommandImpl");
}

// --- dravlo.jvmtest.StandInDrivers -------------------------------------------

JNIEXPORT jstring JNICALL Java_dravlo_jvmtest_StandInDrivers_takeCalls(JNIEnv* env, jclass, jint kind) {
    StandInDriver& driver = drivers[kind];
    std::string calls;
    {
        std::lock_guard lock(driver.mutex);
        calls = std::exchange(driver.calls, {});
    }
    return env->NewStringUTF(calls.c_str());
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_StandInDrivers_fire(JNIEnv*, jclass, jint kind, jint events) {
    fireAndWait(static_cast<Kind>(kind), events);
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_StandInDrivers_fireOnNextConnect(JNIEnv*, jclass, jint kind, jint events) {
    std::lock_guard lock(drivers[kind].mutex);
    drivers[kind].fireOnConnect = events;
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_StandInDrivers_failNextInitialize(JNIEnv* env, jclass, jint kind,
                                                                             jstring message, jstring reason) {
    std::string text = JvmTest::toStdString(env, message);
    std::string why = reason != nullptr ? JvmTest::toStdString(env, reason) : std::string();
    std::lock_guard lock(drivers[kind].mutex);
    drivers[kind].failNext = std::move(text);
    drivers[kind].failNextReason = std::move(why);
}

// --- applet.utils.dravlo.DravloLibrary ----------------------------------------

// A reason "!<class>" is not given but thrown as that Error, as a JVM out of memory would.
JNIEXPORT jstring JNICALL Java_applet_utils_dravlo_DravloLibrary_lastComFailure(JNIEnv* env, jclass) {
    if (comFailure.starts_with('!')) {
        LocalRef<jclass> error(env, env->FindClass(comFailure.c_str() + 1));
        if (error.get() != nullptr) env->ThrowNew(error.get(), "reading the COM reason");
        return nullptr;
    }
    return comFailure.empty() ? nullptr : env->NewStringUTF(comFailure.c_str());
}

JNIEXPORT jint JNICALL Java_dravlo_jvmtest_StandInDrivers_comOwed(JNIEnv*, jclass) { return comOwed.load(); }

}  // extern "C"
