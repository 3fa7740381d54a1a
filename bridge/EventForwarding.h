#pragma once
// The road of one device event into Java, shared by both drivers: attach the
// event thread, build the Java event object, hand it to the registered
// listener, drop the local reference, detach. Runs inside the device's COM
// call, so nothing may escape it: an event that cannot be built is dropped.

#include "bridge/JavaExceptions.h"
#include "bridge/JavaListenerRef.h"
#include "bridge/JavaVmBinding.h"
#include "bridge/JniRef.h"

namespace Dravlo {

/// Forwards `record` through `binding` to `listener`. Never throws.
template <class Binding, class Record>
void forwardEvent(const JavaVmBinding& vm, const Binding& binding, JavaListenerRef& listener,
                  const Record& record) noexcept {
    ThreadAttachment thread(vm);
    JNIEnv* env = thread.env();
    if (env == nullptr) return;
    try {
        LocalRef<jobject> event = binding.create(env, record);
        if (event) listener.notify(env, event.get());
    } catch (...) {
        // Dropped: typically the event class cannot be found from this thread.
    }
    // What the listener threw is reported here, never left to the detach:
    // the JNI specification leaves a pending exception at DetachCurrentThread
    // undefined (HotSpot hands it to the uncaught exception handler, Avian
    // drops it unseen). A thread we attached gets what a Java thread ending
    // with it gets; one that was already attached goes back to unrelated
    // Java code, so its exception is printed and cleared.
    if (thread.attachedHere()) {
        dispatchUncaughtException(env);
    } else if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
}

}  // namespace Dravlo
