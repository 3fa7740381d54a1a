#pragma once
// The COM server module: written after ATL's class design (CAtlModule ->
// CAtlModuleT -> CAtlDllModuleT -> CDravloDriverModule) without ATL itself.
// One static instance per process (see LibraryObjects.cpp); it registers
// itself as the process's module object, which every live sink locks.
// Thread rule: only the lock count is touched from arbitrary threads, and
// it is atomic.

#include <windows.h>

#include <atomic>

namespace Dravlo {

class CAtlModule {
public:
    /// Atomic increment of the lock count; returns the new count.
    LONG Lock() noexcept { return ++lockCount_; }
    /// Atomic decrement of the lock count; returns the new count.
    LONG Unlock() noexcept { return --lockCount_; }
    LONG GetLockCount() const noexcept { return lockCount_.load(); }

protected:
    CAtlModule() noexcept;
    ~CAtlModule();
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;

private:
    std::atomic<LONG> lockCount_{0};
};

template <class T>
class CAtlModuleT : public CAtlModule {};

template <class T>
class CAtlDllModuleT : public CAtlModuleT<T> {};

class CDravloDriverModule : public CAtlDllModuleT<CDravloDriverModule> {
public:
    CDravloDriverModule() noexcept = default;
};

/// The process's module object, or null before it is built / after it is gone.
CAtlModule* currentModule() noexcept;

/// The instance handle of the module this code is linked into (the DLL in
/// the product; the test program when the code is linked statically).
HINSTANCE moduleInstance() noexcept;

}  // namespace Dravlo
