#pragma once
// The road of one device event into Java, shared by both drivers: attach the
// event thread, build the Java event object, hand it to the registered
// listener, drop the local reference, detach. Runs inside the device's COM
// call, so nothing may escape it: an event that cannot be built is dropped.

#include "bridge/JavaListenerRef.h"
#include "bridge/JavaVmBinding.h"
#include "bridge/LocalRef.h"

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
    // On a thread we attached, detaching reports what the listener threw, as
    // for any thread that ends with a Java exception. A thread that was
    // already attached goes back to unrelated Java code: report it here.
    if (!thread.attachedHere() && env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
}

}  // namespace Dravlo
