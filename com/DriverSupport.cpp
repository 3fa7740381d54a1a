#include "com/DriverSupport.h"

#include <objbase.h>

namespace Dravlo {

void ComInitialization::initialize(const char* failureMessage) {
    const HRESULT result = CoInitialize(nullptr);
    if (result == S_OK) {
        owed_.set(this);  // any non-null mark
        return;
    }
    if (result == S_FALSE) CoUninitialize();  // this call's own reference
    throw IOException(failureMessage);
}

void ComInitialization::uninitialize() noexcept {
    if (owed_.get() == nullptr) return;  // nothing of this thread's COM is ours to end
    owed_.set(nullptr);
    CoUninitialize();
}

void pinLibrary() noexcept {
    static std::atomic<bool> pinned{false};
    if (pinned.load(std::memory_order_acquire)) return;
    static const char anchor = 0;  // any address inside this module
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&anchor), &module))
        pinned.store(true, std::memory_order_release);
}

}  // namespace Dravlo
