// JniLookup run inside guardEntry, the shape of every reporting entry point of
// the library: a failed lookup reaches Java as java.io.IOException.

#include "bridge/JavaExceptions.h"
#include "bridge/JniLookup.h"
#include "dravlo_jvmtest_Lookups.h"
#include "tests/jvm/native/JvmTestSupport.h"

using Dravlo::guardEntry;
using Dravlo::JniLookup;
using Dravlo::JvmTest::toStdString;

namespace {

constexpr char kLookupFailed[] = "lookup probe failed";

}  // namespace

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Lookups_findClass(JNIEnv* env, jclass, jstring className) {
    bool found = false;
    guardEntry(env, kLookupFailed,
               [&] { found = static_cast<bool>(JniLookup(env).findClass(toStdString(env, className))); });
    return found ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Lookups_fieldId(JNIEnv* env, jclass, jstring className, jstring field,
                                                               jstring signature) {
    bool found = false;
    guardEntry(env, kLookupFailed, [&] {
        found = JniLookup(env).fieldId(toStdString(env, className), toStdString(env, field),
                                       toStdString(env, signature)) != nullptr;
    });
    return found ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Lookups_methodId(JNIEnv* env, jclass, jstring className, jstring method,
                                                                jstring signature) {
    bool found = false;
    guardEntry(env, kLookupFailed, [&] {
        found = JniLookup(env).methodId(toStdString(env, className), toStdString(env, method),
                                        toStdString(env, signature)) != nullptr;
    });
    return found ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_dravlo_jvmtest_Lookups_methodIdOn(JNIEnv* env, jclass, jobject object, jstring method,
                                                                  jstring signature) {
    bool found = false;
    guardEntry(env, kLookupFailed, [&] {
        found = JniLookup(env).methodId(object, toStdString(env, method), toStdString(env, signature)) != nullptr;
    });
    return found ? JNI_TRUE : JNI_FALSE;
}
