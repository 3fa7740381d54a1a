// A thread that holds a reference on this module (ModuleThread.h).

#include "simulator/ModuleThread.h"

#include <atomic>
#include <memory>
#include <system_error>

namespace AxisSim {
namespace {

std::atomic<long> running{0};

/// What the thread owns; all of it is let go before the thread exits.
struct Start {
    std::function<void(HMODULE)> body;
    HMODULE module = nullptr;  // one reference, given up by FreeLibraryAndExitThread
};

DWORD WINAPI threadMain(void* raw) {
    HMODULE module = nullptr;
    {
        const std::unique_ptr<Start> start(static_cast<Start*>(raw));
        module = start->module;
        start->body(module);
    }  // the simulator, when the body held the last reference, goes here
    --running;
    // Nothing of this module runs after this call returns to Windows.
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

HANDLE startModuleThread(std::function<void(HMODULE module)> body, DWORD* threadId) {
    auto start = std::make_unique<Start>(Start{std::move(body)});
    static const char anchor = 0;  // any address inside this module
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&anchor), &start->module))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "GetModuleHandleExW");
    ++running;
    HANDLE thread = CreateThread(nullptr, 0, &threadMain, start.get(), 0, threadId);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        --running;
        FreeLibrary(start->module);
        throw std::system_error(static_cast<int>(error), std::system_category(), "CreateThread");
    }
    (void)start.release();  // the thread's now
    return thread;
}

long moduleThreadsRunning() noexcept { return running.load(); }

}  // namespace AxisSim
