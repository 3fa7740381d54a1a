#include "bridge/JavaExceptions.h"

#include "bridge/JniRef.h"
#include "bridge/Messages.h"

namespace Dravlo {

void throwJavaIOException(JNIEnv* env, const std::string& message) noexcept {
    throwJavaIOException(env, message.c_str());
}

void throwJavaIOException(JNIEnv* env, const char* message) noexcept {
    if (env->ExceptionCheck()) return;
    const LocalRef<jclass> cls(env, env->FindClass(Messages::JavaIOExceptionClass));
    if (!cls) return;  // the lookup's own error stays pending
    env->ThrowNew(cls.get(), message);
}

namespace {

void describeAndClear(JNIEnv* env) noexcept {
    if (!env->ExceptionCheck()) return;
    env->ExceptionDescribe();
    env->ExceptionClear();
}

/// Thread.currentThread().getUncaughtExceptionHandler().uncaughtException(
/// thread, thrown); false when the handler could not be reached.
bool callUncaughtHandler(JNIEnv* env, jthrowable thrown) noexcept {
    LocalRef<jclass> threadClass(env, env->FindClass("java/lang/Thread"));
    if (!threadClass) return false;
    LocalRef<jclass> handlerClass(env, env->FindClass("java/lang/Thread$UncaughtExceptionHandler"));
    if (!handlerClass) return false;
    jmethodID current = env->GetStaticMethodID(threadClass.get(), "currentThread", "()Ljava/lang/Thread;");
    if (current == nullptr) return false;
    jmethodID getHandler = env->GetMethodID(threadClass.get(), "getUncaughtExceptionHandler",
                                            "()Ljava/lang/Thread$UncaughtExceptionHandler;");
    if (getHandler == nullptr) return false;
    jmethodID uncaught =
        env->GetMethodID(handlerClass.get(), "uncaughtException", "(Ljava/lang/Thread;Ljava/lang/Throwable;)V");
    if (uncaught == nullptr) return false;
    LocalRef<jobject> thread(env, env->CallStaticObjectMethod(threadClass.get(), current));
    if (!thread || env->ExceptionCheck()) return false;
    LocalRef<jobject> handler(env, env->CallObjectMethod(thread.get(), getHandler));
    if (!handler || env->ExceptionCheck()) return false;
    env->CallVoidMethod(handler.get(), uncaught, thread.get(), thrown);
    describeAndClear(env);  // what the handler itself threw
    return true;
}

}  // namespace

void dispatchUncaughtException(JNIEnv* env) noexcept {
    if (!env->ExceptionCheck()) return;
    LocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    env->ExceptionClear();
    if (callUncaughtHandler(env, thrown.get())) return;
    if (env->ExceptionCheck()) env->ExceptionClear();  // the failed lookup's own error
    env->Throw(thrown.get());
    describeAndClear(env);
}

}  // namespace Dravlo
