#pragma once
// JavaVmBinding: the virtual machine a driver was initialised from, and the
// per-event attachment of device threads to it.
// Thread rule: bind runs on the initialising Java thread, before any device
// event can arrive; attach/detach run on event threads. The pointer is atomic
// so an event thread never reads a torn or stale value after a rebind.
// The JavaVM is never released: it outlives the library.

#include <jni.h>

#include <atomic>

namespace Dravlo {

class JavaVmBinding {
public:
    /// GetJavaVM on `env` (borrowed). Throws JNIException "Could not get virtual machine".
    void bind(JNIEnv* env);

    /// AttachCurrentThread with no arguments block; the environment, or null on failure.
    JNIEnv* attach() const;

    /// DetachCurrentThread; the result is not examined.
    void detach() const;

    /// The bound machine, or null before the first successful bind.
    JavaVM* vm() const noexcept { return vm_.load(std::memory_order_acquire); }

private:
    std::atomic<JavaVM*> vm_{nullptr};
};

}  // namespace Dravlo
