#pragma once
// Registration of the installed simulator: the jog dial and keypad classes as
// InprocServer32 of this file with ThreadingModel "Both", under
// HKEY_CLASSES_ROOT\CLSID, and a name for a class key that has none. A class
// is free only when it has no LocalServer32 and its InprocServer32 has no
// default value at all (a class key left empty, or holding only what other
// tools added); a value that is not the string naming this file, of whatever
// length or type, is another server's. Another server's class is never taken
// over: registration then fails with ClassTakenResult and changes nothing.
// Unregistration, only of a class that names this file, removes the values
// written while they still hold what was written, then each key left empty;
// whatever other tools added under the class stays.

#include <windows.h>

#include <string>

namespace AxisSim {

/// What DllRegisterServer answers when a class belongs to another server.
inline const HRESULT ClassTakenResult = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

/// Registers both classes for `modulePath`; S_OK, ClassTakenResult or the
/// failing registry call's HRESULT (anything written is then removed again).
HRESULT registerServerClasses(const std::wstring& modulePath) noexcept;

/// Removes what registration wrote for each class registered to `modulePath`;
/// leaves other classes alone. S_OK unless a value or key of this file could
/// not be removed.
HRESULT unregisterServerClasses(const std::wstring& modulePath) noexcept;

}  // namespace AxisSim
