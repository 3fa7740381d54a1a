#pragma once
// The COM server module: written after ATL's class design (CAtlModule ->
// CAtlModuleT -> CAtlDllModuleT -> CDravloDriverModule) without ATL itself.
// One static instance per process (see dll/LibraryObjects.cpp); it registers
// itself as the process's module object, which every live sink locks.
// The module data that ATL keeps beside the module (the library's instance
// handle, the class table and the lock guarding it) lives in the module
// object here, so it is built and torn down with it.
// Thread rule: only the lock count is touched from arbitrary threads, and
// it is atomic.

#include <windows.h>

#include <atomic>
#include <span>

#include "com/UniqueResource.h"

namespace Dravlo {

// {6E2A41D7-0B93-3C58-A1F4-27D9C30E85B6}: the type library "DravloDriver".
inline constexpr GUID LIBID_DravloDriver = {
    0x6E2A41D7, 0x0B93, 0x3C58, {0xA1, 0xF4, 0x27, 0xD9, 0xC3, 0x0E, 0x85, 0xB6}};
// {3B8F0C21-7D4E-3A96-8E15-C42F7A09D3E1}: the jog dial sink class (described, not creatable).
inline constexpr CLSID CLSID_ImplAxisJogDialEvents = {
    0x3B8F0C21, 0x7D4E, 0x3A96, {0x8E, 0x15, 0xC4, 0x2F, 0x7A, 0x09, 0xD3, 0xE1}};
// {A4D71E95-2C60-3F0B-9B37-5E81D6C2F04A}: the keypad sink class (described, not creatable).
inline constexpr CLSID CLSID_ImplAxisKeyPadEvents = {
    0xA4D71E95, 0x2C60, 0x3F0B, {0x9B, 0x37, 0x5E, 0x81, 0xD6, 0xC2, 0xF0, 0x4A}};

/// One CRITICAL_SECTION, initialised on construction and deleted on
/// destruction. When initialisation fails, initialised() is false and the
/// section is never entered nor deleted; lock() and unlock() do nothing.
class CriticalSection {
public:
    CriticalSection() noexcept;
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    bool initialised() const noexcept { return initialised_; }
    void lock() noexcept;
    void unlock() noexcept;

private:
    CRITICAL_SECTION section_{};
    bool initialised_ = false;
};

/// One entry of a class table: a class this server hands out, and the
/// function that gives its class object (one reference, owned by the caller).
struct ClassEntry {
    const CLSID* clsid;
    HRESULT (*getClassObject)(REFIID riid, void** object);
};

/// DllGetClassObject over `table`: E_POINTER for a null `object`; otherwise
/// *object is cleared, E_UNEXPECTED when the module data failed to initialise,
/// the entry's answer for a CLSID in the table, else CLASS_E_CLASSNOTAVAILABLE.
HRESULT getClassObject(std::span<const ClassEntry> table, bool initFailed, REFCLSID clsid, REFIID riid,
                       void** object) noexcept;

/// The entry point's answer for `reason`: FALSE only on process attach when
/// the module data failed to initialise, TRUE otherwise.
BOOL entryPointAnswer(DWORD reason, bool initFailed) noexcept;

class CAtlModule {
public:
    /// Atomic increment of the lock count; returns the new count.
    LONG Lock() noexcept { return ++lockCount_; }
    /// Atomic decrement of the lock count; returns the new count.
    LONG Unlock() noexcept { return --lockCount_; }
    LONG GetLockCount() const noexcept { return lockCount_.load(); }

    /// The library's instance handle, taken when the module was built.
    HINSTANCE GetModuleInstance() const noexcept { return instance_; }
    /// Process-wide: true once a critical section of any module object could
    /// not be initialised; the library's load is then refused.
    static bool InitFailed() noexcept;

protected:
    explicit CAtlModule(std::span<const ClassEntry> classTable = {}) noexcept;
    ~CAtlModule();
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;

    /// getClassObject over this module's class table, under its lock.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept;

private:
    std::atomic<LONG> lockCount_{0};
    HINSTANCE instance_;
    std::span<const ClassEntry> classTable_;
    CriticalSection classTableLock_;
};

template <class T>
class CAtlModuleT : public CAtlModule {
protected:
    using CAtlModule::CAtlModule;
};

/// The class-object entry points of a DLL module (registration is the
/// concrete module's).
template <class T>
class CAtlDllModuleT : public CAtlModuleT<T> {
public:
    /// S_OK when no lock is held (no sink alive), else S_FALSE.
    HRESULT DllCanUnloadNow() noexcept { return this->GetLockCount() == 0 ? S_OK : S_FALSE; }
    /// getClassObject over the class table; see there.
    HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
        return this->GetClassObject(clsid, riid, object);
    }

protected:
    using CAtlModuleT<T>::CAtlModuleT;
};

/// This library's module, whose type library is LIBID_DravloDriver. It serves
/// no creatable class: its class table is empty.
class CDravloDriverModule : public CAtlDllModuleT<CDravloDriverModule> {
public:
    CDravloDriverModule() noexcept = default;

    /// Registers the type library machine-wide (see Registration.h).
    HRESULT DllRegisterServer() noexcept;
    /// Removes that registration; S_OK for any success.
    HRESULT DllUnregisterServer() noexcept;
};

/// The process's module object, or null before it is built / after it is gone.
CAtlModule* currentModule() noexcept;

namespace ResourceClose {
inline void moduleLock(CAtlModule* module) noexcept { module->Unlock(); }
}  // namespace ResourceClose
/// One lock on a module object (Unlock at the end).
using ModuleLock = UniqueResource<NullableTraits<CAtlModule*, ResourceClose::moduleLock>>;

/// Locks the process's module object and hands back that lock; an empty lock
/// when there is no module object.
inline ModuleLock lockCurrentModule() noexcept {
    CAtlModule* module = currentModule();
    if (module != nullptr) module->Lock();
    return ModuleLock(module);
}

/// The instance handle of the module this code is linked into (the DLL in
/// the product; the test program when the code is linked statically).
HINSTANCE moduleInstance() noexcept;

/// The full file name of `module` in UTF-16, so that a folder named in any
/// script survives: S_OK; HRESULT_FROM_WIN32 of the thread's last error when
/// the call fails (E_FAIL should it leave none);
/// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when the name fills the buffer.
HRESULT moduleFileName(HINSTANCE module, wchar_t (&name)[MAX_PATH]) noexcept;

}  // namespace Dravlo
