// The Java natives of applet.utils.dravlo.JogDialDriver: thin shells around
// the process-wide driver; no C++ exception reaches the JVM.

#include "applet_utils_dravlo_JogDialDriver.h"

#include "bridge/JavaExceptions.h"
#include "bridge/Messages.h"
#include "jogdial/JogDialDriver.h"

using Dravlo::jogDialDriver;
namespace Messages = Dravlo::Messages;

extern "C" {

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_JogDialDriver_initializeImpl(JNIEnv* env, jobject) {
    Dravlo::guardEntry(env, Messages::JogDialInitFailed, [&] { jogDialDriver.initialize(env); });
    return 0;
}

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_JogDialDriver_uninitializeImpl(JNIEnv* env, jobject) {
    Dravlo::swallowEntry([&] { jogDialDriver.uninitialize(env); });
    return 0;
}

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_JogDialDriver_getNumberOfDevicesImpl(JNIEnv*, jobject) {
    return jogDialDriver.getNumberOfDevices();
}

JNIEXPORT void JNICALL Java_applet_utils_dravlo_JogDialDriver_registerDialListenerImpl(JNIEnv* env, jobject,
                                                                                       jobject listener) {
    Dravlo::guardEntry(env, Messages::JogDialDialRegistrationFailed,
                       [&] { jogDialDriver.registerDialListener(env, listener); });
}

JNIEXPORT void JNICALL Java_applet_utils_dravlo_JogDialDriver_registerKeyListenerImpl(JNIEnv* env, jobject,
                                                                                      jobject listener) {
    Dravlo::guardEntry(env, Messages::JogDialKeyRegistrationFailed,
                       [&] { jogDialDriver.registerKeyListener(env, listener); });
}

}  // extern "C"
