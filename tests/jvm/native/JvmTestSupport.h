#pragma once
// Small helpers shared by the test library's natives. The natives call bridge/
// exactly as the library's exported entry points do; these helpers only carry
// Java arguments in and keep the probes' own references balanced.

#include <jni.h>

#include <string>
#include <utility>

namespace Dravlo::JvmTest {

/// The modified UTF-8 bytes of `text` (borrowed); empty for null. Java's own
/// ThrowNew takes the same encoding back, so texts round-trip unchanged.
std::string toStdString(JNIEnv* env, jstring text);

/// Sole owner of one JNI global reference; valid on every thread. The owner
/// deletes it on the thread and environment it was made with.
class GlobalRef {
public:
    /// NewGlobalRef of `object` (borrowed).
    GlobalRef(JNIEnv* env, jobject object) : env_(env), ref_(env->NewGlobalRef(object)) {}
    GlobalRef(const GlobalRef&) = delete;
    GlobalRef& operator=(const GlobalRef&) = delete;
    ~GlobalRef() {
        if (ref_ != nullptr) env_->DeleteGlobalRef(ref_);
    }

    /// Borrowed view, usable on any attached thread.
    jobject get() const noexcept { return ref_; }

private:
    JNIEnv* env_;
    jobject ref_;
};

}  // namespace Dravlo::JvmTest
