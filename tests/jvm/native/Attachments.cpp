// Device-event threads: native threads that reach Java through JavaVmBinding,
// one attach/detach pair per event, the way the drivers forward events.

#include <atomic>
#include <thread>
#include <vector>

#include "bridge/ClassNames.h"
#include "bridge/JavaExceptions.h"
#include "bridge/JavaVmBinding.h"
#include "bridge/JniLookup.h"
#include "bridge/JniRef.h"
#include "dravlo_jvmtest_Attachments.h"
#include "tests/jvm/native/JvmTestSupport.h"

using namespace Dravlo;

namespace {

constexpr char kAttachFailed[] = "attach probe failed";
constexpr char kDialCallback[] = "onDialEvent";
constexpr char kDialCallbackSignature[] = "(Lapplet/utils/dravlo/DialEvent;)V";

/// What every event thread shares; all of it valid on any thread.
struct ForwardJob {
    const JavaVmBinding& binding;
    jobject listener;  ///< global reference
    jmethodID callback;
    jmethodID constructor;
};

/// One event: attach, find the class, build the event, call the listener,
/// delete the event, detach. A Java exception thrown by the listener stays
/// pending through the deletes and the detach. False when attach failed.
bool forwardOne(const ForwardJob& job) noexcept {
    JNIEnv* env = job.binding.attach();
    if (env == nullptr) return false;
    try {
        LocalRef<jclass> cls = JniLookup(env).findClass(DialEventClassName);
        LocalRef<jobject> event(env, env->NewObject(cls.get(), job.constructor));
        if (event) env->CallVoidMethod(job.listener, job.callback, event.get());
    } catch (...) {
        // The drivers drop an event whose class cannot be found.
    }
    job.binding.detach();
    return true;
}

}  // namespace

JNIEXPORT jint JNICALL Java_dravlo_jvmtest_Attachments_forwardFromNativeThreads(JNIEnv* env, jclass, jobject listener,
                                                                                jint threads, jint rounds) {
    std::atomic<jint> attached{0};
    guardEntry(env, kAttachFailed, [&] {
        JavaVmBinding binding;
        binding.bind(env);
        JniLookup lookup(env);
        JvmTest::GlobalRef listenerRef(env, listener);
        const ForwardJob job{binding, listenerRef.get(),
                             lookup.methodId(listener, kDialCallback, kDialCallbackSignature),
                             lookup.methodId(DialEventClassName, "<init>", "()V")};
        std::vector<std::jthread> workers;  // joined before listenerRef is deleted
        for (jint t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                for (jint r = 0; r < rounds; ++r) {
                    if (forwardOne(job)) ++attached;
                }
            });
        }
    });
    return attached.load();
}

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Attachments_attachUnboundYieldsNull(JNIEnv*, jclass) {
    JavaVmBinding unbound;
    return unbound.attach() == nullptr ? JNI_TRUE : JNI_FALSE;
}
