#include "com/DriverSupport.h"

#include <objbase.h>

#include <algorithm>

namespace Dravlo {

ComInitialization::ThreadIdentity ComInitialization::ThreadIdentity::current() noexcept {
    ThreadIdentity identity;
    identity.id = GetCurrentThreadId();
    FILETIME created{}, exited{}, kernel{}, user{};
    if (GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        identity.created = (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
    return identity;
}

void ComInitialization::initialize(const char* failureMessage) {
    owed.reserve(owed.size() + 1);  // so that recording the debt cannot fail after COM said yes
    comInitResult = CoInitialize(nullptr);
    if (comInitResult == S_OK) {
        owed.push_back(ThreadIdentity::current());
        return;
    }
    if (comInitResult == S_FALSE) CoUninitialize();  // this call's own reference
    throw IOException(failureMessage);
}

void ComInitialization::uninitialize() noexcept {
    const auto here = std::find(owed.begin(), owed.end(), ThreadIdentity::current());
    if (here == owed.end()) return;  // another thread's COM is not ours to end
    owed.erase(here);
    CoUninitialize();
}

ModuleReference ModuleReference::acquire() noexcept {
    ModuleReference reference;
    static const char anchor = 0;  // any address inside this module
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&anchor),
                            &reference.module_))
        reference.module_ = nullptr;
    return reference;
}

void ModuleReference::reset() noexcept {
    if (HMODULE module = std::exchange(module_, nullptr)) FreeLibrary(module);
}

}  // namespace Dravlo
