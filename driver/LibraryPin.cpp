#include "driver/LibraryPin.h"

#include <windows.h>

#include <atomic>

namespace Dravlo {

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
