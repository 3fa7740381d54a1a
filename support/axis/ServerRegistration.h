#pragma once
// Registration of the installed simulator: the jog dial and keypad classes as
// InprocServer32 of this file with ThreadingModel "Both", under
// HKEY_CLASSES_ROOT\CLSID. A class already registered to another file (or to
// an out-of-process server) is never taken over: registration then fails with
// ClassTakenResult and changes nothing. Unregistration removes a class's key
// only while it names this file.

#include <windows.h>

#include <string>

namespace AxisSim {

/// What DllRegisterServer answers when a class belongs to another server.
inline const HRESULT ClassTakenResult = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

/// Registers both classes for `modulePath`; S_OK, ClassTakenResult or the
/// failing registry call's HRESULT (anything written is then removed again).
HRESULT registerServerClasses(const std::wstring& modulePath) noexcept;

/// Removes each class registered to `modulePath`; leaves others alone. S_OK
/// unless a key of this file could not be removed.
HRESULT unregisterServerClasses(const std::wstring& modulePath) noexcept;

}  // namespace AxisSim
