#pragma once
// Self-registration. The module serves no creatable class, so registering
// the library means registering its own type library "DravloDriver"
// machine-wide, and unregistering means removing exactly that registration;
// no CLSID, ProgID or AppID key is ever written. The type library describes
// the Axis driver's event interfaces, for which RegisterTypeLib writes and
// UnRegisterTypeLib deletes Interface\{IID} keys; an Interface key that
// another component owns (it names another type library, or none) is saved
// before either call and put back after it, in both registry views, so it
// ends exactly as it was. Both entry points run on the caller's thread, with
// its thread locale set to LOCALE_SYSTEM_DEFAULT for their duration (so
// CP_THREAD_ACP is the system's ANSI code page, the one the 8-bit
// module-file-name call answers in).

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace Dravlo {

/// The file name of `module` by the 8-bit module-file-name call into `name`:
/// S_OK; HRESULT_FROM_WIN32 of the thread's last error when the call fails
/// (E_FAIL should it leave none); HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
/// when the name fills the buffer.
HRESULT moduleFileName(HINSTANCE module, char (&name)[MAX_PATH]) noexcept;

/// Loads the type library of the file `fileName` (8-bit, thread's ANSI code
/// page), else of the ".tlb" beside it: its extension (the last dot after the
/// last backslash) replaced, or ".tlb" appended when it has none. On success
/// *library holds one reference and *path the name that worked, both owned by
/// the caller; on failure both are null and the second load's result (or
/// E_OUTOFMEMORY) is returned.
HRESULT loadTypeLibNear(const char* fileName, ITypeLib** library, BSTR* path) noexcept;

/// The length of the directory part of `helpFile`: up to and including its
/// last '/', ':' or '\\' among its first MAX_PATH characters; 0 without one.
std::size_t helpDirectoryLength(const wchar_t* helpFile) noexcept;

/// DllRegisterServer of the library `module`: RegisterTypeLib with the name
/// that loaded and the help file's directory, other components' Interface keys
/// kept as they were; the first failure otherwise.
HRESULT registerServer(HINSTANCE module) noexcept;

/// DllUnregisterServer of the library `module`: UnRegisterTypeLib with the
/// loaded library's own attributes, other components' Interface keys kept as
/// they were; S_OK for any success, else the first failure.
HRESULT unregisterServer(HINSTANCE module) noexcept;

}  // namespace Dravlo
