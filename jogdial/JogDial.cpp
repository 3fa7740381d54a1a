#include "jogdial/JogDial.h"

namespace Dravlo {

JogDial::JogDial(ComRef<IJogDialDevice> device) : DeviceReceiver(std::move(device)) {}

JogDial::~JogDial() {
    close();
    keyListeners.clear();
    dialListeners.clear();
}

void JogDial::addKeyListener(KeyListener* listener) { keyListeners.insert(listener); }

void JogDial::addDialListener(DialListener* listener) { dialListeners.insert(listener); }

void JogDial::onButtonDown(int jogDialId, int buttonIndex) {
    notifyKeyListeners(KeyEventRecord{jogDialId, buttonIndex, 0});
}

void JogDial::onButtonUp(int jogDialId, int buttonIndex) {
    notifyKeyListeners(KeyEventRecord{jogDialId, buttonIndex, 1});
}

void JogDial::onShuttleMove(int jogDialId, int dialState) {
    notifyDialListeners(DialEventRecord{jogDialId, dialState, 0, 0});
}

void JogDial::onJogMove(int jogDialId, int joggState) {
    // Only the sign counts: negative is counter clockwise.
    notifyDialListeners(DialEventRecord{jogDialId, 0, joggState < 0 ? 1 : 0, 1});
}

void JogDial::notifyKeyListeners(const KeyEventRecord& event) {
    for (KeyListener* listener : keyListeners) listener->onKeyEvent(event);
}

void JogDial::notifyDialListeners(const DialEventRecord& event) {
    for (DialListener* listener : dialListeners) listener->onDialEvent(event);
}

}  // namespace Dravlo
