#pragma once
// The COM start-up bookkeeping of one driver on the Java threads that
// initialise it.

#include "com/ThreadSlot.h"

namespace Dravlo {

/// One driver's CoInitialize bookkeeping on the Java threads that initialise
/// it. Every successful CoInitialize (S_OK) is balanced by exactly one
/// CoUninitialize on the thread that made it, and never on another: a
/// refused one (S_FALSE) is balanced at once. The debt lives with the thread
/// that owes it (a TLS slot), so a thread that exits leaves nothing behind
/// and a later thread can never be mistaken for it.
/// Thread rule: any thread; each touches only its own debt.
class ComInitialization {
public:
    /// Begins an initialisation on this thread: forgets its last COM failure,
    /// then CoInitialize(nullptr); anything but S_OK is kept as that failure
    /// and throws IOException(`failureMessage`).
    void initialize(const char* failureMessage);
    /// CoUninitialize when this thread's successful initialise is still owed
    /// one; otherwise nothing, whatever COM the thread has of its own.
    void uninitialize() noexcept;

private:
    ThreadSlot owed_;  // non-null on a thread whose CoInitialize is not yet balanced
};

}  // namespace Dravlo
