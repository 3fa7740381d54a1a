#include "keypad/KeyPadDriver.h"

#include "bridge/ClassNames.h"
#include "bridge/EventForwarding.h"
#include "bridge/Messages.h"

namespace Dravlo {

void KeyPadDriver::initialize(JNIEnv* env) {
    deviceCount = openCollection(com, collection, CLSID_AxisKeyPad, Messages::KeyPadComInitFailed);
    if (deviceCount <= 0) return;

    vmBinding.bind(env);
    keyEventBinding.bind(env);
    keyCommandBinding.bind(env);

    receiver.adopt(new KeyPad(firstDevice<IKeyPadDevice>(*collection.get(), Messages::KeyPadNoDevice)));
    receiver->addKeyListener(this);
    receiver->start();
}

void KeyPadDriver::uninitialize(JNIEnv* env) {
    closeCollectionAndReceiver(collection, receiver);
    keyListenerRef.release(env);
    com.uninitialize();
}

void KeyPadDriver::registerKeyListener(JNIEnv* env, jobject listener) {
    keyListenerRef.registerListener(env, listener, OnKeyEventMethod, OnKeyEventSignature);
}

void KeyPadDriver::executeCommand(JNIEnv* env, jobject command) {
    if (!receiver || command == nullptr) return;
    receiver->execute(keyCommandBinding.read(env, command));
}

void KeyPadDriver::onKeyEvent(const KeyEventRecord& event) {
    forwardEvent(vmBinding, keyEventBinding, keyListenerRef, event);
}

}  // namespace Dravlo
