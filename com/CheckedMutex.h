#pragma once
// CheckedMutex and CheckedLock: std::mutex and std::unique_lock with the
// annotations Clang's thread-safety analysis (-Wthread-safety) reads, so the
// second compiler proves at every build that a guarded member is touched only
// under its lock and that a function which calls out (into Java, into the
// device, or into a wait) is never entered with the lock held. Other
// compilers see plain std::mutex and std::unique_lock.
//
// Thread rule: those of std::mutex; a CheckedLock stays on its thread.

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define DRAVLO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DRAVLO_THREAD_ANNOTATION(x)
#endif

/// The member is read and written only with `mutex` held.
#define DRAVLO_GUARDED_BY(mutex) DRAVLO_THREAD_ANNOTATION(guarded_by(mutex))
/// The function takes `mutex` itself, or calls out: never call it holding `mutex`.
#define DRAVLO_EXCLUDES(...) DRAVLO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
/// The caller holds `mutex`.
#define DRAVLO_REQUIRES(...) DRAVLO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))

namespace Dravlo {

class DRAVLO_THREAD_ANNOTATION(capability("mutex")) CheckedMutex {
public:
    CheckedMutex() = default;
    CheckedMutex(const CheckedMutex&) = delete;
    CheckedMutex& operator=(const CheckedMutex&) = delete;
    ~CheckedMutex() = default;

private:
    friend class CheckedLock;
    std::mutex mutex_;
};

/// Holds a CheckedMutex from construction to destruction; wait() sleeps on a
/// condition variable with the lock given up meanwhile and held again after.
class DRAVLO_THREAD_ANNOTATION(scoped_lockable) CheckedLock {
public:
    explicit CheckedLock(CheckedMutex& mutex) DRAVLO_THREAD_ANNOTATION(acquire_capability(mutex))
        : lock_(mutex.mutex_) {}
    CheckedLock(const CheckedLock&) = delete;
    CheckedLock& operator=(const CheckedLock&) = delete;
    ~CheckedLock() DRAVLO_THREAD_ANNOTATION(release_capability()) = default;

    /// condition.wait(lock) for the caller's predicate loop.
    void wait(std::condition_variable& condition) { condition.wait(lock_); }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace Dravlo
