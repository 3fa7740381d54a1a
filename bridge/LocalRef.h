#pragma once
// LocalRef: sole owner of one JNI local reference.
// Thread rule: a local reference is valid only on the thread (and in the
// native frame) that made it, so a LocalRef never leaves that thread.
// DeleteLocalRef is one of the calls JNI allows while an exception is
// pending, so the destructor is safe on every path.

#include <jni.h>

#include <utility>

namespace Dravlo {

template <class T = jobject>
class LocalRef {
public:
    LocalRef() = default;
    /// Adopts `ref` (a fresh local reference, may be null); deletes it at scope end.
    LocalRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
    LocalRef(LocalRef&& other) noexcept : env_(other.env_), ref_(std::exchange(other.ref_, nullptr)) {}
    LocalRef& operator=(LocalRef&& other) noexcept {
        if (this != &other) {
            reset();
            env_ = other.env_;
            ref_ = std::exchange(other.ref_, nullptr);
        }
        return *this;
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() { reset(); }

    /// Borrowed view; the LocalRef keeps ownership.
    T get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }

    /// Deletes the reference now.
    void reset() noexcept {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
        ref_ = nullptr;
    }

private:
    JNIEnv* env_ = nullptr;
    T ref_ = nullptr;
};

}  // namespace Dravlo
