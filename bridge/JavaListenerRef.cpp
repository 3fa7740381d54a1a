#include "bridge/JavaListenerRef.h"

#include <atomic>
#include <utility>

#include "bridge/JniLookup.h"
#include "bridge/JniRef.h"

namespace Dravlo {

// One registered listener. Counted users: the holder while it is current,
// and each notify running on it; the last one deletes the reference.
struct JavaListenerRef::Registration {
    GlobalRef<jobject> listener;
    jmethodID callback;
    std::atomic<int> users{1};
};

void JavaListenerRef::leave(JNIEnv* env, Registration* registration) noexcept {
    if (registration == nullptr || registration->users.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    registration->listener.reset(env);  // on this thread's environment, which may not be the registering one
    delete registration;
}

void JavaListenerRef::registerListener(JNIEnv* env, jobject listener, const std::string& method,
                                       const std::string& signature) {
    if (listener == nullptr) {
        release(env);
        return;
    }
    GlobalRef<jobject> fresh = GlobalRef<jobject>::create(env, listener);
    if (!fresh) return;  // out of memory: the JVM's error is pending
    jmethodID callback = JniLookup(env).methodId(fresh.get(), method, signature);
    auto* registration = new Registration{std::move(fresh), callback};

    Registration* previous = nullptr;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(current_, registration);
    }
    leave(env, previous);
}

void JavaListenerRef::notify(JNIEnv* env, jobject event) {
    Registration* target = nullptr;
    {
        std::lock_guard lock(mutex_);
        target = current_;
        if (target == nullptr) return;
        target->users.fetch_add(1, std::memory_order_relaxed);
    }
    env->CallVoidMethod(target->listener.get(), target->callback, event);
    leave(env, target);
}

void JavaListenerRef::release(JNIEnv* env) {
    Registration* previous = nullptr;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(current_, nullptr);
    }
    leave(env, previous);
}

bool JavaListenerRef::registered() const {
    std::lock_guard lock(mutex_);
    return current_ != nullptr;
}

}  // namespace Dravlo
