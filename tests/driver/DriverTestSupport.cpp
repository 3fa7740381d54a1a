#include "tests/driver/DriverTestSupport.h"

namespace DriverTests {

const DravloLibrary& DravloLibrary::instance() {
    static const DravloLibrary library;
    return library;
}

// Found beside the test program, which is where the build puts both.
DravloLibrary::DravloLibrary() : module_(LoadLibraryW(L"Dravlo.dll")) {}

HRESULT DravloLibrary::canUnloadNow() const {
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(entry("DllCanUnloadNow")));
    return canUnload != nullptr ? canUnload() : E_NOTIMPL;
}

ComCallCounter::ComCallCounter() { registered_ = SUCCEEDED(CoRegisterInitializeSpy(this, &cookie_)); }

ComCallCounter::~ComCallCounter() {
    if (registered_) CoRevokeInitializeSpy(cookie_);
}

HRESULT ComCallCounter::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IInitializeSpy) return E_NOINTERFACE;
    *object = static_cast<IInitializeSpy*>(this);
    AddRef();
    return S_OK;
}

HRESULT ComCallCounter::PostInitialize(HRESULT result, DWORD, DWORD newRefs) {
    initializeResults_.push_back(result);
    apartmentRefs_ = newRefs;
    return result;
}

HRESULT ComCallCounter::PreUninitialize(DWORD currentRefs) {
    ++uninitializeCalls_;
    if (currentRefs == 0) ++mismatched_;
    return S_OK;
}

HRESULT ComCallCounter::PostUninitialize(DWORD newRefs) {
    apartmentRefs_ = newRefs;
    return S_OK;
}

}  // namespace DriverTests
