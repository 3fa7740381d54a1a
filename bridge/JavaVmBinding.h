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

/// The current thread's use of the bound VM for one event: a thread that is
/// already attached (a Java thread the device called back on) is borrowed as
/// it is; any other thread is attached here and detached at scope end, so
/// every attach the library makes is paired with one detach.
/// Inline: it runs once per event, around a handful of JNI calls.
class ThreadAttachment {
public:
    explicit ThreadAttachment(const JavaVmBinding& binding) noexcept : binding_(binding) {
        JavaVM* machine = binding.vm();
        if (machine == nullptr) return;
        void* current = nullptr;
        if (machine->GetEnv(&current, JNI_VERSION_1_6) == JNI_OK) {
            env_ = static_cast<JNIEnv*>(current);
            return;
        }
        env_ = binding.attach();
        attachedHere_ = env_ != nullptr;
    }
    ~ThreadAttachment() {
        if (attachedHere_) binding_.detach();
    }
    ThreadAttachment(const ThreadAttachment&) = delete;
    ThreadAttachment& operator=(const ThreadAttachment&) = delete;

    /// The thread's environment, or null when it could not be attached.
    JNIEnv* env() const noexcept { return env_; }
    /// True when this scope attached the thread (and will detach it).
    bool attachedHere() const noexcept { return attachedHere_; }

private:
    const JavaVmBinding& binding_;
    JNIEnv* env_ = nullptr;
    bool attachedHere_ = false;
};

}  // namespace Dravlo
