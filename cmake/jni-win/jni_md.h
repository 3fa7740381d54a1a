/* Machine-dependent JNI types for 64-bit Windows (the JDK on this build host
 * ships only its Linux variant, whose JNIEXPORT does nothing on Windows). */
#ifndef DRAVLO_JNI_MD_H
#define DRAVLO_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
