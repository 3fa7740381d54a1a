#include "jogdial/JogDialDriver.h"

#include <memory>

#include "bridge/ClassNames.h"
#include "bridge/EventForwarding.h"
#include "bridge/Messages.h"
#include "driver/DeviceLookup.h"

namespace Dravlo {

void JogDialDriver::initialize(JNIEnv* env) {
    connection.connect(
        com, CLSID_AxisJogDial, Messages::JogDialComInitFailed, Messages::JogDialInitFailed, deviceCount,
        [&](IJogDialCollectionPtr& collection, int) {
            vmBinding.bind(env);
            keyEventBinding.bind(env);
            dialEventBinding.bind(env);
            // The listeners go in before the events are hooked: an
            // event may arrive on another thread as soon as the
            // first hook connects.
            auto built = std::make_unique<JogDial>(firstDevice<IJogDialDevice>(collection, Messages::JogDialNoDevice));
            built->addKeyListener(this);
            built->addDialListener(this);
            return built;
        });
}

void JogDialDriver::uninitialize(JNIEnv* env) {
    connection.disconnect(com, [&] { releaseJavaListeners(env); });
}

void JogDialDriver::releaseJavaListeners(JNIEnv* env) {
    keyListenerRef.release(env);
    dialListenerRef.release(env);
}

void JogDialDriver::registerDialListener(JNIEnv* env, jobject listener) {
    dialListenerRef.registerListener(env, listener, OnDialEventMethod, OnDialEventSignature);
}

void JogDialDriver::registerKeyListener(JNIEnv* env, jobject listener) {
    keyListenerRef.registerListener(env, listener, OnKeyEventMethod, OnKeyEventSignature);
}

void JogDialDriver::onKeyEvent(const KeyEventRecord& event) {
    forwardEvent(vmBinding, keyEventBinding, keyListenerRef, event);
}

void JogDialDriver::onDialEvent(const DialEventRecord& event) {
    forwardEvent(vmBinding, dialEventBinding, dialListenerRef, event);
}

}  // namespace Dravlo
