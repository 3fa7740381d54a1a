#pragma once
// Stateless helpers of the eventing layer: connecting a sink to an event
// source's connection point, comparing COM identities, and finding an event
// interface's type information in this library's own type library.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include "com/ComRef.h"

namespace Dravlo {

/// Connects `sink` to the connection point of `source` for `diid`. Null source
/// → E_INVALIDARG. Returns the first failure or Advise's result; *cookie is
/// written only on success. Takes no lasting reference of its own.
HRESULT adviseSink(IUnknown* source, IUnknown* sink, REFIID diid, DWORD* cookie) noexcept;

/// Ends the connection `cookie` on the connection point of `source` for `diid`.
/// Null source → E_INVALIDARG; otherwise the first failure or Unadvise's result.
HRESULT unadviseSink(IUnknown* source, REFIID diid, DWORD cookie) noexcept;

/// True when both are null or both are the same COM object (equal IUnknown
/// identity); false when only one is null. Takes no lasting reference.
bool sameObject(IUnknown* a, IUnknown* b) noexcept;

/// Loads this library's own type library anew and returns in *out the type
/// information of `diid` (one reference, owned by the caller; null on failure).
/// The first library loaded stays referenced for the process's life, so that
/// loads on several threads never meet a library being destroyed.
/// Null out → E_POINTER; module file name unavailable (or of MAX_PATH
/// characters or more) → E_FAIL; otherwise the result of LoadTypeLib /
/// GetTypeInfoOfGuid.
HRESULT loadEventTypeInfo(REFIID diid, ITypeInfo** out) noexcept;

}  // namespace Dravlo
