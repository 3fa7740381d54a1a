#include "keypad/KeyPad.h"

namespace Dravlo {

KeyPad::KeyPad(ComRef<IKeyPadDevice> device) : DeviceReceiver(std::move(device)) {}

KeyPad::~KeyPad() {
    close();
    keyListeners.clear();
}

void KeyPad::addKeyListener(KeyListener* listener) { keyListeners.insert(listener); }

void KeyPad::execute(KeyCommandRecord command) {
    if (command.type != 1 && command.type != 0) return;
    if (const ComRef<IKeyPadDevice> device = deviceForCall()) device->SetBacklight(command.buttonNumber, command.type);
}

void KeyPad::notifyListeners(KeyEventRecord event) {
    for (KeyListener* listener : keyListeners) listener->onKeyEvent(event);
}

void KeyPad::onButtonDown(int keyPadId, int buttonIndex) { notifyListeners(KeyEventRecord{keyPadId, buttonIndex, 0}); }

void KeyPad::onButtonUp(int keyPadId, int buttonIndex) { notifyListeners(KeyEventRecord{keyPadId, buttonIndex, 1}); }

}  // namespace Dravlo
