// Bodies for guardEntry and swallowEntry, thrown from inside the guards the
// library's exported entry points use.

#include <stdexcept>

#include "bridge/Exceptions.h"
#include "bridge/JavaExceptions.h"
#include "dravlo_jvmtest_Guards.h"
#include "tests/jvm/native/JvmTestSupport.h"

using Dravlo::guardEntry;
using Dravlo::swallowEntry;
using Dravlo::JvmTest::toStdString;

namespace {

/// Not a std::exception, like the COM support's _com_error.
struct NonStandardFailure {
    long code;
};

template <class Exception>
void throwGuarded(JNIEnv* env, jstring message, jstring fixedMessage) {
    std::string text = toStdString(env, message);
    std::string fixed = toStdString(env, fixedMessage);
    guardEntry(env, fixed.c_str(), [&] { throw Exception(text); });
}

}  // namespace

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Guards_throwJniException(JNIEnv* env, jclass, jstring message,
                                                                    jstring fixedMessage) {
    throwGuarded<JNIException>(env, message, fixedMessage);
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Guards_throwIoException(JNIEnv* env, jclass, jstring message,
                                                                   jstring fixedMessage) {
    throwGuarded<IOException>(env, message, fixedMessage);
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Guards_throwRuntimeError(JNIEnv* env, jclass, jstring message,
                                                                    jstring fixedMessage) {
    throwGuarded<std::runtime_error>(env, message, fixedMessage);
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Guards_throwNonStandard(JNIEnv* env, jclass, jstring fixedMessage) {
    std::string fixed = toStdString(env, fixedMessage);
    guardEntry(env, fixed.c_str(), [] { throw NonStandardFailure{-2147467259L}; });
}

JNIEXPORT jint JNICALL Java_dravlo_jvmtest_Guards_returnFromGuard(JNIEnv* env, jclass, jint value,
                                                                  jstring fixedMessage) {
    std::string fixed = toStdString(env, fixedMessage);
    jint result = -1;
    guardEntry(env, fixed.c_str(), [&] { result = value; });
    return result;
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Guards_throwOverPendingJavaError(JNIEnv* env, jclass, jstring missingClass,
                                                                            jstring message, jstring fixedMessage) {
    std::string missing = toStdString(env, missingClass);
    std::string text = toStdString(env, message);
    std::string fixed = toStdString(env, fixedMessage);
    guardEntry(env, fixed.c_str(), [&] {
        env->FindClass(missing.c_str());  // fails and leaves NoClassDefFoundError pending
        throw JNIException(text);
    });
}

JNIEXPORT void JNICALL Java_dravlo_jvmtest_Guards_swallowBoth(JNIEnv* env, jclass, jstring message) {
    std::string text = toStdString(env, message);
    swallowEntry([&] { throw JNIException(text); });
    swallowEntry([] { throw NonStandardFailure{1}; });
}
