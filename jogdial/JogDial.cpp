#include "jogdial/JogDial.h"

namespace Dravlo {

JogDial::JogDial(IJogDialDevice* device) : DeviceReceiver(device) {}

JogDial::~JogDial() {
    closeDevice();
    keyListeners.clear();
    dialListeners.clear();
}

void JogDial::addKeyListener(KeyListener* listener) { keyListeners.insert(listener); }

void JogDial::addDialListener(DialListener* listener) { dialListeners.insert(listener); }

HRESULT JogDial::dispatch(int dispatchCode, int first, int second, BSTR errorInfo) {
    switch (dispatchCode) {
        case -1:
            return S_FALSE;
        case ButtonDownCode:
            onButtonDown(first, second);
            return S_OK;
        case ButtonUpCode:
            onButtonUp(first, second);
            return S_OK;
        case ShuttleMoveCode:
            onShuttleMove(first, second);
            return S_OK;
        case JogMoveCode:
            onJogMove(first, second);
            return S_OK;
        case ErrorCode:  // the device's error code and text reach nobody
            return S_OK;
        default:
            return E_FAIL;
    }
}

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
