// The test driver's natives: registration as the exported entry points do it,
// and event records forwarded from threads the tests pick, the way receivers
// call their driver on the device's event thread.

#include <thread>
#include <vector>

#include "dravlo_jvmtest_Listeners.h"
#include "tests/jvm/native/ForwardingDriver.h"
#include "tests/jvm/native/JvmTestSupport.h"

using namespace Dravlo;

namespace {

constexpr char kProbeFailed[] = "listener probe failed";

Testing::ForwardingDriver driver;

void deliver(const DialEventRecord& record) { driver.onDialEvent(record); }
void deliver(const KeyEventRecord& record) { driver.onKeyEvent(record); }

/// Forwards `record` on a new native thread and waits for it to end.
template <class Record>
void deliverOnNewThread(const Record& record) {
    std::thread([&record] { deliver(record); }).join();
}

DialEventRecord dialRecord(jint deviceId, jint shuttleState, jint jogDirection, jint eventType) {
    return DialEventRecord{deviceId, shuttleState, jogDirection, eventType};
}

/// Record `index` of load thread `thread`; checked by ListenerLoadTests.Tally.
/// Even indexes are dial events, odd ones key events; deviceId numbers every
/// event of the run once.
DialEventRecord loadDial(jint thread, jint index, jint events) {
    const jint kind = (index >> 1) & 1;
    return DialEventRecord{thread * events + index, kind == 0 ? index : 0, kind == 1 ? (index >> 2) & 1 : 0, kind};
}
KeyEventRecord loadKey(jint thread, jint index, jint events) {
    return KeyEventRecord{thread * events + index, index % 97, (index >> 1) & 1};
}

/// On a thread the test attached itself: the forwarding must leave it
/// attached and without a pending exception.
jint forwardOnSelfAttachedThread(const DialEventRecord& record) {
    JavaVM* vm = driver.vmBinding().vm();
    jint status = 0;
    if (vm == nullptr) return status;
    std::thread([&] {
        void* env = nullptr;
        if (vm->AttachCurrentThread(&env, nullptr) != JNI_OK) return;
        deliver(record);
        void* after = nullptr;
        if (vm->GetEnv(&after, JNI_VERSION_1_6) == JNI_OK && after == env)
            status |= dravlo_jvmtest_Listeners_STILL_ATTACHED;
        if (static_cast<JNIEnv*>(env)->ExceptionCheck()) status |= dravlo_jvmtest_Listeners_EXCEPTION_PENDING;
        vm->DetachCurrentThread();
    }).join();
    return status;
}

}  // namespace

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_bind(JNIEnv* env, jclass) {
    guardEntry(env, kProbeFailed, [&] { driver.bind(env); });
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_registerDialListener(JNIEnv* env, jclass, jobject listener) {
    driver.registerDialListener(env, listener);
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_registerKeyListener(JNIEnv* env, jclass, jobject listener) {
    driver.registerKeyListener(env, listener);
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_release(JNIEnv* env, jclass) { driver.release(env); }

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Listeners_dialRegistered(JNIEnv*, jclass) {
    return driver.dialRegistered() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Listeners_keyRegistered(JNIEnv*, jclass) {
    return driver.keyRegistered() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_fireDial(JNIEnv*, jclass, jint deviceId, jint shuttleState,
                                                              jint jogDirection, jint eventType) {
    deliverOnNewThread(dialRecord(deviceId, shuttleState, jogDirection, eventType));
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_fireKey(JNIEnv*, jclass, jint deviceId, jint buttonNumber,
                                                             jint eventType) {
    deliverOnNewThread(KeyEventRecord{deviceId, buttonNumber, eventType});
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_fireDialHere(JNIEnv*, jclass, jint deviceId, jint shuttleState,
                                                                  jint jogDirection, jint eventType) {
    deliver(dialRecord(deviceId, shuttleState, jogDirection, eventType));
}

JNIEXPORT jint JNICALL Java_dravlo_jvmtest_Listeners_fireDialOnSelfAttachedThread(JNIEnv*, jclass, jint deviceId,
                                                                                  jint shuttleState, jint jogDirection,
                                                                                  jint eventType) {
    return forwardOnSelfAttachedThread(dialRecord(deviceId, shuttleState, jogDirection, eventType));
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_load(JNIEnv*, jclass, jint threads, jint events) {
    std::vector<std::jthread> workers;
    for (jint t = 0; t < threads; ++t) {
        workers.emplace_back([t, events] {
            for (jint i = 0; i < events; ++i) {
                if (i % 2 == 0) {
                    deliver(loadDial(t, i, events));
                } else {
                    deliver(loadKey(t, i, events));
                }
            }
        });
    }
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Listeners_linkIsolated(JNIEnv* env, jclass, jclass isolated) {
    static const JNINativeMethod methods[] = {
        {const_cast<char*>("bind0"), const_cast<char*>("()V"),
         reinterpret_cast<void*>(&Java_dravlo_jvmtest_Listeners_bind)},
        {const_cast<char*>("registerDialListener"), const_cast<char*>("(Ljava/lang/Object;)V"),
         reinterpret_cast<void*>(&Java_dravlo_jvmtest_Listeners_registerDialListener)},
        {const_cast<char*>("fireDial"), const_cast<char*>("(IIII)V"),
         reinterpret_cast<void*>(&Java_dravlo_jvmtest_Listeners_fireDial)},
        {const_cast<char*>("fireDialHere"), const_cast<char*>("(IIII)V"),
         reinterpret_cast<void*>(&Java_dravlo_jvmtest_Listeners_fireDialHere)},
        {const_cast<char*>("release0"), const_cast<char*>("()V"),
         reinterpret_cast<void*>(&Java_dravlo_jvmtest_Listeners_release)},
    };
    if (env->RegisterNatives(isolated, methods, sizeof methods / sizeof methods[0]) != JNI_OK) {
        env->ExceptionClear();
        throwJavaIOException(env, kProbeFailed);
    }
}
