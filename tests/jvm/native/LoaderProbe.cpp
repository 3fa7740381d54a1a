// The stand-in for Dravlo.dll in the loader's tests: a library named like it
// that says which copy of it the JVM loaded (DRAVLO_PROBE_ORIGIN: "path" for
// the one on java.library.path, "jar" for the one packed into the test jar).

#include <jni.h>

extern "C" JNIEXPORT jstring JNICALL Java_dravlo_jvmtest_LoaderChild_origin(JNIEnv* env, jclass) {
    return env->NewStringUTF(DRAVLO_PROBE_ORIGIN);
}
