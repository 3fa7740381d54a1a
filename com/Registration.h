#pragma once
// Self-registration. The module serves no creatable class, so registering
// the library means registering its own type library "DravloDriver"
// machine-wide, and unregistering means removing exactly that registration;
// no CLSID, ProgID or AppID key is ever written. The type library describes
// the Axis driver's event interfaces, for which RegisterTypeLib writes and
// UnRegisterTypeLib deletes Interface\{IID} keys; an Interface key that
// another component owns (it names another type library, or none) is saved
// before either call and put back after it, in both registry views, so it
// ends exactly as it was. Saving never follows a registry link: it refuses
// one, and a key too deep below; then every saved key must open for writing
// and deleting. Each failure ends the call before anything is written, so a
// key that could not be put back is never changed. Both entry points run on
// the caller's thread, with its thread locale set to LOCALE_SYSTEM_DEFAULT for
// their duration. The library's own file name is taken in UTF-16 (see
// moduleFileName), so no code page stands between it and LoadTypeLib.

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace Dravlo {

/// Levels of subkeys saved below another component's Interface key; a deeper
/// key fails registration with DeepKeyResult before anything is written.
inline constexpr int MaxSavedDepth = 32;
/// What both entry points answer, having changed nothing, when another
/// component's Interface key or a key below it is a registry link: a link is
/// never followed (one that loops back would recurse without end).
inline const HRESULT LinkedKeyResult = HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME);
/// ... when a key lies more than MaxSavedDepth levels below such a key.
inline const HRESULT DeepKeyResult = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

/// Loads the type library of the file `fileName`, else of the ".tlb" beside
/// it: its extension (the last dot after the last backslash) replaced, or
/// ".tlb" appended when it has none. On success *library holds one reference
/// and *path the name that worked, both owned by the caller; on failure both
/// are null and the second load's result is returned (E_OUTOFMEMORY when the
/// name cannot be kept, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) for a
/// name of MAX_PATH characters or more).
HRESULT loadTypeLibNear(const wchar_t* fileName, ITypeLib** library, BSTR* path) noexcept;

/// The length of the directory part of `helpFile`: up to and including its
/// last '/', ':' or '\\' among its first MAX_PATH characters; 0 without one.
std::size_t helpDirectoryLength(const wchar_t* helpFile) noexcept;

/// DllRegisterServer of the library `module`: RegisterTypeLib with the name
/// that loaded and the help file's directory, other components' Interface keys
/// kept as they were; the first failure otherwise.
HRESULT registerServer(HINSTANCE module) noexcept;

/// Writes one registry value as RegSetValueExW does.
using ValueWriter = LSTATUS (*)(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);

/// registerServer, writing the values of other components' keys back through
/// `writeValue`: the tests' way to make that write fail, which the registry
/// does not do on demand. registerServer(module) writes with RegSetValueExW.
HRESULT registerServer(HINSTANCE module, ValueWriter writeValue) noexcept;

/// DllUnregisterServer of the library `module`: UnRegisterTypeLib with the
/// loaded library's own attributes, other components' Interface keys kept as
/// they were; S_OK for any success, else the first failure.
HRESULT unregisterServer(HINSTANCE module) noexcept;

}  // namespace Dravlo
