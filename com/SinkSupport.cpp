#include "com/SinkSupport.h"

#include <ocidl.h>

#include "com/CheckedMutex.h"
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

// The first type library this module loaded, kept for the process's life.
// Wine's LoadTypeLib hands out its cached library under a lock that
// ITypeLib::Release takes only after the count fell to zero, so a load on
// one thread can revive a library that a Release on another is destroying:
// two drivers connecting at once, each device asking its sink for type
// information, crashed both threads in ITypeLib::Release. Held, the count
// never falls to zero. Loads are serialised so that two first loads cannot
// build two libraries, one of them released. The reference is never given
// back: the module is pinned once a sink is connected, and a Release at
// process detach would call into oleaut32 under the loader lock.
struct HeldTypeLibrary {
    CheckedMutex mutex;
    ComRef<ITypeLib> library DRAVLO_GUARDED_BY(mutex);
};

HeldTypeLibrary& heldTypeLibrary() {
    static auto* held = new HeldTypeLibrary();  // never destroyed, see above
    return *held;
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
    {
        // oleaut32 calls nothing of ours back, so holding the lock across
        // LoadTypeLib cannot deadlock.
        HeldTypeLibrary& held = heldTypeLibrary();
        CheckedLock lock(held.mutex);
        HRESULT hr = LoadTypeLib(path, library.put());
        if (FAILED(hr)) return hr;
        if (!library) return E_FAIL;
        if (!held.library) held.library = ComRef<ITypeLib>::copy(library.get());
    }
    HRESULT hr = library->GetTypeInfoOfGuid(diid, out);
    if (FAILED(hr)) *out = nullptr;
    return hr;
}

}  // namespace Dravlo
