#include "bridge/JavaListenerRef.h"

#include <atomic>
#include <utility>

#include "bridge/JniLookup.h"

namespace Dravlo {

namespace {

// Deletes a global reference at scope end unless it was handed on.
class GlobalRefGuard {
public:
    GlobalRefGuard(JNIEnv* env, jobject ref) noexcept : env_(env), ref_(ref) {}
    GlobalRefGuard(const GlobalRefGuard&) = delete;
    GlobalRefGuard& operator=(const GlobalRefGuard&) = delete;
    ~GlobalRefGuard() {
        if (ref_ != nullptr) env_->DeleteGlobalRef(ref_);
    }
    jobject get() const noexcept { return ref_; }
    jobject release() noexcept { return std::exchange(ref_, nullptr); }

private:
    JNIEnv* env_;
    jobject ref_;
};

}  // namespace

// One registered listener. Counted users: the holder while it is current,
// and each notify running on it.
struct JavaListenerRef::Registration {
    jobject listener;  // global reference, owned
    jmethodID callback;
    std::atomic<int> users{1};
};

void JavaListenerRef::leave(JNIEnv* env, Registration* registration) noexcept {
    if (registration == nullptr || registration->users.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    env->DeleteGlobalRef(registration->listener);
    delete registration;
}

void JavaListenerRef::registerListener(JNIEnv* env, jobject listener, const std::string& method,
                                       const std::string& signature) {
    if (listener == nullptr) {
        release(env);
        return;
    }
    GlobalRefGuard fresh(env, env->NewGlobalRef(listener));
    if (fresh.get() == nullptr) return;  // out of memory: the JVM's error is pending
    jmethodID callback = JniLookup(env).methodId(fresh.get(), method, signature);
    auto* registration = new Registration{fresh.get(), callback};
    fresh.release();

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
    env->CallVoidMethod(target->listener, target->callback, event);
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
