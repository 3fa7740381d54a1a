// The library's static objects. C++ orders static initialisation only within
// one translation unit, so all of them are defined here, in the order the
// library is built at load (and destroyed in reverse at unload):
//   1. the DialEvent class name     2. the jog dial driver
//   3. the KeyCommand class name    4. the KeyEvent class name
//   5. the COM module object        6. the keypad driver
// None of their destructors calls COM or JNI: a driver that is still open at
// unload abandons what it holds rather than call into a dying process.
// The library's entry point and its four COM server entry points are here
// too, beside the module object they forward to.

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "bridge/ClassNames.h"
#include "com/DravloModule.h"
#include "com/ThreadSlot.h"
#include "jogdial/JogDialDriver.h"
#include "keypad/KeyPadDriver.h"

namespace Dravlo {

// 1.
const std::string DialEventClassName = DRAVLO_DIAL_EVENT_CLASS;

// 2.
JogDialDriver jogDialDriver;

// 3., 4.
const std::string KeyCommandClassName = DRAVLO_KEY_COMMAND_CLASS;
const std::string KeyEventClassName = DRAVLO_KEY_EVENT_CLASS;

// 5.
CDravloDriverModule driverModule;

// 6.
KeyPadDriver keyPadDriver;

}  // namespace Dravlo

/// Refuses the load only when the module data or a thread-local slot could
/// not be set up; does nothing else for any reason.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    return Dravlo::entryPointAnswer(reason, Dravlo::CAtlModule::InitFailed() || Dravlo::ThreadSlot::anyFailed());
}

STDAPI DllCanUnloadNow() { return Dravlo::driverModule.DllCanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    return Dravlo::driverModule.DllGetClassObject(clsid, riid, object);
}

STDAPI DllRegisterServer() { return Dravlo::driverModule.DllRegisterServer(); }

STDAPI DllUnregisterServer() { return Dravlo::driverModule.DllUnregisterServer(); }
