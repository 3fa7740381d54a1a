#include "bridge/JavaExceptions.h"

#include "bridge/Messages.h"

namespace Dravlo {

void throwJavaIOException(JNIEnv* env, const std::string& message) noexcept {
    throwJavaIOException(env, message.c_str());
}

void throwJavaIOException(JNIEnv* env, const char* message) noexcept {
    if (env->ExceptionCheck()) return;
    jclass cls = env->FindClass(Messages::JavaIOExceptionClass);
    if (cls == nullptr) return;  // the lookup's own error stays pending
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

}  // namespace Dravlo
