#include "com/DravloModule.h"

#include <mutex>

#include "com/Registration.h"

// Provided by the linker for every PE image (MSVC and MinGW alike).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace Dravlo {

namespace {
std::atomic<CAtlModule*> theModule{nullptr};

// Constant-initialised, so it is valid before any module object is built and
// still readable by the entry point whatever the order of construction.
std::atomic<bool> moduleInitFailed{false};
}  // namespace

CriticalSection::CriticalSection() noexcept : initialised_(InitializeCriticalSectionEx(&section_, 0, 0) != FALSE) {
    if (!initialised_) moduleInitFailed.store(true);
}

CriticalSection::~CriticalSection() {
    if (initialised_) DeleteCriticalSection(&section_);
}

void CriticalSection::lock() noexcept {
    if (initialised_) EnterCriticalSection(&section_);
}

void CriticalSection::unlock() noexcept {
    if (initialised_) LeaveCriticalSection(&section_);
}

HRESULT getClassObject(std::span<const ClassEntry> table, bool initFailed, REFCLSID clsid, REFIID riid,
                       void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (initFailed) return E_UNEXPECTED;
    for (const ClassEntry& entry : table) {
        if (IsEqualCLSID(*entry.clsid, clsid)) return entry.getClassObject(riid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

BOOL entryPointAnswer(DWORD reason, bool initFailed) noexcept {
    return reason == DLL_PROCESS_ATTACH && initFailed ? FALSE : TRUE;
}

CAtlModule::CAtlModule(std::span<const ClassEntry> classTable) noexcept
    : instance_(moduleInstance()), classTable_(classTable) {
    theModule.store(this);
}

CAtlModule::~CAtlModule() {
    CAtlModule* self = this;
    theModule.compare_exchange_strong(self, nullptr);
}

bool CAtlModule::InitFailed() noexcept { return moduleInitFailed.load(); }

HRESULT CAtlModule::GetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
    std::lock_guard<CriticalSection> guard(classTableLock_);
    return getClassObject(classTable_, InitFailed(), clsid, riid, object);
}

HRESULT CDravloDriverModule::DllRegisterServer() noexcept { return registerServer(GetModuleInstance()); }

HRESULT CDravloDriverModule::DllUnregisterServer() noexcept { return unregisterServer(GetModuleInstance()); }

CAtlModule* currentModule() noexcept { return theModule.load(); }

HINSTANCE moduleInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HRESULT moduleFileName(HINSTANCE module, wchar_t (&name)[MAX_PATH]) noexcept {
    DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
    if (length == 0) {
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

}  // namespace Dravlo
