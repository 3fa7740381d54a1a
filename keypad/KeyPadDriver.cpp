#include "keypad/KeyPadDriver.h"

#include <memory>

#include "bridge/ClassNames.h"
#include "bridge/EventForwarding.h"
#include "bridge/Messages.h"
#include "driver/DeviceLookup.h"

namespace Dravlo {

void KeyPadDriver::initialize(JNIEnv* env) {
    connection.connect(
        com, CLSID_AxisKeyPad, Messages::KeyPadComInitFailed, Messages::KeyPadInitFailed, deviceCount,
        [&](IKeyPadCollectionPtr& collection, int) {
            vmBinding.bind(env);
            keyEventBinding.bind(env);
            keyCommandBinding.bind(env);
            // The listeners go in before the events are hooked: an
            // event may arrive on another thread as soon as the
            // first hook connects.
            auto built = std::make_unique<KeyPad>(firstDevice<IKeyPadDevice>(collection, Messages::KeyPadNoDevice));
            built->addKeyListener(this);
            return built;
        });
}

void KeyPadDriver::uninitialize(JNIEnv* env) {
    connection.disconnect(com, [&] { releaseJavaListeners(env); });
}

void KeyPadDriver::releaseJavaListeners(JNIEnv* env) { keyListenerRef.release(env); }

void KeyPadDriver::registerKeyListener(JNIEnv* env, jobject listener) {
    keyListenerRef.registerListener(env, listener, OnKeyEventMethod, OnKeyEventSignature);
}

void KeyPadDriver::executeCommand(JNIEnv* env, jobject command) {
    if (command == nullptr) return;
    // A teardown on another thread, or from a listener, may be under way: the
    // receiver is reached only inside its rundowns, or not at all. The command
    // is read there too, as a new connection binds KeyCommand anew only once
    // the old receiver's commands have left.
    connection.whileOpen([&](KeyPad& keyPad) { keyPad.execute(keyCommandBinding.read(env, command)); });
}

void KeyPadDriver::onKeyEvent(const KeyEventRecord& event) {
    forwardEvent(vmBinding, keyEventBinding, keyListenerRef, event);
}

}  // namespace Dravlo
