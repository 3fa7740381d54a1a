// The Java natives of applet.utils.dravlo.DravloLibrary: what the jar asks
// the library it loaded, to know that it is its own (the version, the file),
// and the COM reason behind a driver initialisation that failed. Thin shells;
// no C++ exception reaches the JVM, and a failure answers null.

#include "applet_utils_dravlo_DravloLibrary.h"

#include <string>

#include "DravloVersion.h"
#include "com/ComFailure.h"
#include "com/DravloModule.h"

namespace {

// jchar and Windows' wchar_t are both UTF-16 code units.
jstring javaString(JNIEnv* env, const wchar_t* text, std::size_t length) noexcept {
    return env->NewString(reinterpret_cast<const jchar*>(text), static_cast<jsize>(length));
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_applet_utils_dravlo_DravloLibrary_nativeVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF(DRAVLO_VERSION_TEXT);
}

JNIEXPORT jstring JNICALL Java_applet_utils_dravlo_DravloLibrary_nativeFile(JNIEnv* env, jclass) {
    wchar_t name[MAX_PATH];
    if (FAILED(Dravlo::moduleFileName(Dravlo::moduleInstance(), name))) return nullptr;
    return javaString(env, name, std::char_traits<wchar_t>::length(name));
}

JNIEXPORT jstring JNICALL Java_applet_utils_dravlo_DravloLibrary_lastComFailure(JNIEnv* env, jclass) {
    try {
        const std::wstring reason = Dravlo::describeComFailure();
        return reason.empty() ? nullptr : javaString(env, reason.data(), reason.size());
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
