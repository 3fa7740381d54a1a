#include "bridge/JavaListenerRef.h"

#include <utility>

#include "bridge/JniLookup.h"
#include "bridge/LocalRef.h"

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

void JavaListenerRef::registerListener(JNIEnv* env, jobject listener, const std::string& method,
                                       const std::string& signature) {
    if (listener == nullptr) {
        release(env);
        return;
    }
    GlobalRefGuard fresh(env, env->NewGlobalRef(listener));
    if (fresh.get() == nullptr) return;  // out of memory: the JVM's error is pending
    jmethodID callback = JniLookup(env).methodId(fresh.get(), method, signature);

    jobject previous = nullptr;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(listener_, fresh.release());
        callback_ = callback;
        registered_ = true;
    }
    GlobalRefGuard retired(env, previous);
}

void JavaListenerRef::notify(JNIEnv* env, jobject event) {
    LocalRef<jobject> target;
    jmethodID callback = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!registered_) return;
        target = LocalRef<jobject>(env, env->NewLocalRef(listener_));
        callback = callback_;
    }
    if (target) env->CallVoidMethod(target.get(), callback, event);
}

void JavaListenerRef::release(JNIEnv* env) {
    jobject previous = nullptr;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(listener_, nullptr);
        callback_ = nullptr;
        registered_ = false;
    }
    GlobalRefGuard retired(env, previous);
}

bool JavaListenerRef::registered() const {
    std::lock_guard lock(mutex_);
    return registered_;
}

}  // namespace Dravlo
