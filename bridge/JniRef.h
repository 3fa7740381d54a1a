#pragma once
// LocalRef and GlobalRef: the owners of JNI references, one base between them.
// Each holds one reference of its kind and the environment it is deleted
// through; move-only; it deletes the reference at reset() and at the end of
// its scope. Both DeleteLocalRef and DeleteGlobalRef are among the calls JNI
// allows while an exception is pending, so the destructor is safe on every
// path.
// Thread rules:
// - LocalRef: a local reference is valid only on the thread (and in the
//   native frame) that made it, so a LocalRef never leaves that thread.
// - GlobalRef: the reference may cross threads, an environment may not.
//   Whoever lets it go on another thread than the one that made it passes
//   its own environment (reset(env)).

#include <jni.h>

#include <utility>

namespace Dravlo {

template <class T, class Kind>
class JniRef {
public:
    JniRef() = default;
    /// Adopts `ref` (a reference of this kind made through `env`, may be
    /// null); deletes it at scope end. Creates nothing.
    JniRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
    JniRef(JniRef&& other) noexcept : env_(other.env_), ref_(std::exchange(other.ref_, nullptr)) {}
    JniRef& operator=(JniRef&& other) noexcept {
        if (this != &other) {
            reset();
            env_ = other.env_;
            ref_ = std::exchange(other.ref_, nullptr);
        }
        return *this;
    }
    JniRef(const JniRef&) = delete;
    JniRef& operator=(const JniRef&) = delete;
    ~JniRef() { reset(); }

    /// Borrowed view; the owner keeps the reference.
    T get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }

    /// Deletes the reference now, through the environment it came with.
    void reset() noexcept {
        if (ref_ != nullptr) Kind::remove(env_, ref_);
        ref_ = nullptr;
    }

protected:
    JNIEnv* env_ = nullptr;
    T ref_ = nullptr;
};

struct LocalRefKind {
    static void remove(JNIEnv* env, jobject ref) noexcept { env->DeleteLocalRef(ref); }
};
struct GlobalRefKind {
    static void remove(JNIEnv* env, jobject ref) noexcept { env->DeleteGlobalRef(ref); }
};

/// Sole owner of one JNI local reference.
template <class T = jobject>
class LocalRef : public JniRef<T, LocalRefKind> {
public:
    using JniRef<T, LocalRefKind>::JniRef;
};

/// Sole owner of one JNI global reference.
template <class T = jobject>
class GlobalRef : public JniRef<T, GlobalRefKind> {
public:
    using JniRef<T, GlobalRefKind>::JniRef;
    using JniRef<T, GlobalRefKind>::reset;

    /// Makes a global reference of its own to `object` (borrowed) through
    /// NewGlobalRef; empty when the JVM is out of memory (its error pending).
    static GlobalRef create(JNIEnv* env, T object) noexcept {
        return GlobalRef(env, static_cast<T>(env->NewGlobalRef(object)));
    }
    /// Deletes the reference now through `env`, the calling thread's own
    /// environment, whichever thread made it.
    void reset(JNIEnv* env) noexcept {
        this->env_ = env;
        reset();
    }
};

}  // namespace Dravlo
