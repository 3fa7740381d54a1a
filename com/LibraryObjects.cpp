// The library's static objects. C++ orders static initialisation only within
// one translation unit, so all of them are defined here, in the order the
// library is built at load (and destroyed in reverse at unload):
//   1. the DialEvent class name     2. the jog dial driver
//   3. the KeyCommand class name    4. the KeyEvent class name
//   5. the COM module object        6. the keypad driver
// None of their destructors calls COM or JNI: a driver that is still open at
// unload abandons what it holds rather than call into a dying process.

#include <windows.h>

#include "bridge/ClassNames.h"

namespace Dravlo {

const std::string DialEventClassName = DRAVLO_DIAL_EVENT_CLASS;
const std::string KeyCommandClassName = DRAVLO_KEY_COMMAND_CLASS;
const std::string KeyEventClassName = DRAVLO_KEY_EVENT_CLASS;

}  // namespace Dravlo

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    (void)reason;
    return TRUE;
}
