#include "com/SinkSupport.h"

#include <ocidl.h>

#include "com/DravloModule.h"

namespace Dravlo {

namespace {

// The connection point of `source` for `diid`, or the first failure.
HRESULT findConnectionPoint(IUnknown* source, REFIID diid, ComRef<IConnectionPoint>& point) noexcept {
    if (source == nullptr) return E_INVALIDARG;
    ComRef<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
    if (FAILED(hr)) return hr;
    if (!container) return E_NOINTERFACE;
    hr = container->FindConnectionPoint(diid, point.put());
    if (SUCCEEDED(hr) && !point) hr = E_POINTER;
    return hr;
}

// The identity (IUnknown) of `object`; null when it cannot be asked.
ComRef<IUnknown> identityOf(IUnknown* object) noexcept {
    ComRef<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_IUnknown, identity.putVoid()))) identity.reset();
    return identity;
}

}  // namespace

HRESULT adviseSink(IUnknown* source, IUnknown* sink, REFIID diid, DWORD* cookie) noexcept {
    if (cookie == nullptr) return E_POINTER;
    ComRef<IConnectionPoint> point;
    HRESULT hr = findConnectionPoint(source, diid, point);
    if (FAILED(hr)) return hr;
    DWORD granted = 0;
    hr = point->Advise(sink, &granted);
    // A connection point may scribble on the cookie before failing; the caller's
    // zero cookie is what marks a node as not connected.
    if (SUCCEEDED(hr)) *cookie = granted;
    return hr;
}

HRESULT unadviseSink(IUnknown* source, REFIID diid, DWORD cookie) noexcept {
    ComRef<IConnectionPoint> point;
    HRESULT hr = findConnectionPoint(source, diid, point);
    if (FAILED(hr)) return hr;
    return point->Unadvise(cookie);
}

bool sameObject(IUnknown* a, IUnknown* b) noexcept {
    if (a == nullptr || b == nullptr) return a == b;
    ComRef<IUnknown> identityA = identityOf(a);
    ComRef<IUnknown> identityB = identityOf(b);
    return identityA && identityA.get() == identityB.get();
}

HRESULT loadEventTypeInfo(REFIID diid, ITypeInfo** out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    wchar_t path[MAX_PATH];
    if (FAILED(moduleFileName(moduleInstance(), path))) return E_FAIL;
    ComRef<ITypeLib> library;
    HRESULT hr = LoadTypeLib(path, library.put());
    if (FAILED(hr)) return hr;
    if (!library) return E_FAIL;
    hr = library->GetTypeInfoOfGuid(diid, out);
    if (FAILED(hr)) *out = nullptr;
    return hr;
}

}  // namespace Dravlo
