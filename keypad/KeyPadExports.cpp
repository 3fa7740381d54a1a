// The Java natives of applet.utils.dravlo.KeyPadDriver: thin shells around
// the process-wide driver; no C++ exception reaches the JVM.

#include "applet_utils_dravlo_KeyPadDriver.h"

#include "bridge/JavaExceptions.h"
#include "bridge/Messages.h"
#include "keypad/KeyPadDriver.h"

using Dravlo::keyPadDriver;
namespace Messages = Dravlo::Messages;

extern "C" {

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_KeyPadDriver_initializeImpl(JNIEnv* env, jobject) {
    Dravlo::guardEntry(env, Messages::KeyPadInitFailed, [&] { keyPadDriver.initialize(env); });
    return 0;
}

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_KeyPadDriver_uninitializeImpl(JNIEnv* env, jobject) {
    Dravlo::swallowEntry([&] { keyPadDriver.uninitialize(env); });
    return 0;
}

JNIEXPORT jint JNICALL Java_applet_utils_dravlo_KeyPadDriver_getNumberOfDevicesImpl(JNIEnv*, jobject) {
    return keyPadDriver.getNumberOfDevices();
}

JNIEXPORT void JNICALL Java_applet_utils_dravlo_KeyPadDriver_registerKeyListenerImpl(JNIEnv* env, jobject,
                                                                                     jobject listener) {
    Dravlo::guardEntry(env, Messages::KeyPadKeyRegistrationFailed,
                       [&] { keyPadDriver.registerKeyListener(env, listener); });
}

JNIEXPORT void JNICALL Java_applet_utils_dravlo_KeyPadDriver_executeCommandImpl(JNIEnv* env, jobject, jobject command) {
    Dravlo::swallowEntry([&] { keyPadDriver.executeCommand(env, command); });
}

}  // extern "C"
