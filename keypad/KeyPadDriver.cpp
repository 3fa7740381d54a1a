#include "keypad/KeyPadDriver.h"

#include <memory>

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

    // The listeners go in before the events are hooked: an event may arrive
    // on another thread as soon as the first hook connects.
    auto built = std::make_unique<KeyPad>(firstDevice<IKeyPadDevice>(*collection.get(), Messages::KeyPadNoDevice));
    built->addKeyListener(this);
    receiver.adoptAndStart(built.release());
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
    if (command == nullptr || !receiver) return;
    const KeyCommandRecord record = keyCommandBinding.read(env, command);
    // A teardown on another thread, or from a listener, may be under way:
    // the receiver is reached only inside its rundown, or not at all.
    receiver.whileOpen([&](KeyPad& keyPad) { keyPad.execute(record); });
}

void KeyPadDriver::onKeyEvent(const KeyEventRecord& event) {
    forwardEvent(vmBinding, keyEventBinding, keyListenerRef, event);
}

}  // namespace Dravlo
