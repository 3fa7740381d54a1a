// The stand-in for Dravlo.dll in the loader's tests: a library named like it
// that says which copy of it the JVM loaded (DRAVLO_PROBE_ORIGIN: "path" for
// the one on java.library.path, "jar" for the one packed into the test jar,
// "other" for one of another version, "foreign" for a library that only
// shares the name), and, unless foreign, states its version
// (DRAVLO_PROBE_VERSION) and file as Dravlo.dll does.

#include <dlfcn.h>
#include <jni.h>

#include <climits>
#include <cstdlib>

extern "C" JNIEXPORT jstring JNICALL Java_dravlo_jvmtest_LoaderChild_origin(JNIEnv* env, jclass) {
    return env->NewStringUTF(DRAVLO_PROBE_ORIGIN);
}

#ifdef DRAVLO_PROBE_VERSION
extern "C" JNIEXPORT jstring JNICALL Java_applet_utils_dravlo_DravloLibrary_nativeVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF(DRAVLO_PROBE_VERSION);
}

extern "C" JNIEXPORT jstring JNICALL Java_applet_utils_dravlo_DravloLibrary_nativeFile(JNIEnv* env, jclass) {
    Dl_info self{};
    char path[PATH_MAX];
    if (dladdr(reinterpret_cast<void*>(&Java_applet_utils_dravlo_DravloLibrary_nativeFile), &self) == 0 ||
        realpath(self.dli_fname, path) == nullptr)
        return nullptr;
    return env->NewStringUTF(path);
}
#endif
