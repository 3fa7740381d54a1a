#pragma once
// Threads of the simulator that outlive the call that starts them (a session
// player's, the panel's). Each holds a reference on the module it runs in and
// gives it up only as it exits (FreeLibraryAndExitThread), so a host that
// unloads the DLL as soon as DllCanUnloadNow allows never unmaps code such a
// thread still runs.

#include <windows.h>

#include <functional>

namespace AxisSim {

/// Runs `body` on a new thread, passing it this module. `body`, and all it
/// holds, is destroyed on that thread before the thread counts itself out of
/// moduleThreadsRunning(). Returns the thread's handle, which the caller owns,
/// and its id in *threadId when asked. Throws std::system_error when the thread
/// cannot start; `body` is then destroyed on the calling thread.
HANDLE startModuleThread(std::function<void(HMODULE module)> body, DWORD* threadId = nullptr);

/// Threads started so that have not ended yet, in the whole process.
long moduleThreadsRunning() noexcept;

}  // namespace AxisSim
