#pragma once
// DeliveryRundown: keeps a receiver alive for as long as an event delivery or
// a device command is running in it, however its teardown interleaves.
//
// Who may do what:
// - Any thread, at any time, enters through a DeliveryScope before it reads
//   the receiver, and any number of threads may be in at once. Entering never
//   waits or locks, and there is no limit to take a slot from: a
//   compare-and-swap on the rundown's state word, tried again only when
//   another thread changed the word in between, and one read of the thread's
//   slot to find its frame list, which the scope then pushes itself onto
//   with plain memory operations (only the owning thread touches its list).
//   Leaving an open rundown is a pop and a compare-and-swap; leaving a
//   closed one also takes the waiters' mutex for a moment (nobody holds it
//   across a call) so that no waiter misses its wake-up.
//   Entering fails once close() has run; a failed scope must touch nothing of
//   the receiver.
// - One thread tears the receiver down: close(), then whatever it does to the
//   device, then, when it may wait, waitForOthers(), then retire(). Debug
//   builds assert the order that matters: waitForOthers() and retire() only
//   after close(), and retire() once. It never waits for the deliveries on
//   its own stack.
// - retire() frees the receiver at once when no delivery is running;
//   otherwise the last delivery to leave frees it, so nothing a delivery
//   still uses goes away under it.
// - Anyone else may wait for the deliveries to drain (waitForOthers) while it
//   holds a shared_ptr to the rundown.
// The rundown must be owned by a shared_ptr (make_shared): a delivery that
// leaves while the rundown closes keeps it alive (shared_from_this) until it
// is done with it, since the last delivery may free the receiver that owns it.
// No lock is held while a delivery runs or while the receiver is freed; the
// only waits are in waitForOthers. A retired receiver whose delivery never
// leaves (its thread was killed) is abandoned, not freed.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace Dravlo {

class DeliveryScope;
struct DeliveryFrames;  // a thread's entered scopes (DeliveryRundown.cpp)

class DeliveryRundown : public std::enable_shared_from_this<DeliveryRundown> {
public:
    DeliveryRundown() = default;
    DeliveryRundown(const DeliveryRundown&) = delete;
    DeliveryRundown& operator=(const DeliveryRundown&) = delete;
    ~DeliveryRundown() = default;

    /// From now on no delivery enters. Idempotent; any thread.
    void close() noexcept;
    /// Blocks until the only deliveries still running are the calling
    /// thread's own. Call after close(); the caller keeps the rundown alive.
    void waitForOthers() noexcept;
    /// Frees `object` with `deleter` now, or as the last running delivery
    /// leaves. Call once, after close(), on the tearing-down thread.
    void retire(void* object, void (*deleter)(void*)) noexcept;
    template <class T>
    void retire(T* object) noexcept {
        retire(object, [](void* p) { delete static_cast<T*>(p); });
    }

    /// Deliveries running now, on every thread.
    long running() const noexcept { return static_cast<long>(state_.load(std::memory_order_acquire) / Step); }
    /// How many deliveries of this rundown the calling thread is running.
    long ownDeliveries() const noexcept;
    /// True when the calling thread is running a delivery or command of any
    /// rundown: it is inside a listener's callback (or a device's call), so a
    /// teardown it starts must not wait for other threads.
    static bool callingThreadDelivers() noexcept;

private:
    friend class DeliveryScope;

    // The count of running deliveries times Step, plus the Closed and
    // Retired bits: one atomic word, so entering can never slip in after
    // close() without being counted, and exactly one thread sees both
    // "retired" and "none running" and frees the receiver.
    using State = unsigned long long;
    static constexpr State Closed = 1;
    static constexpr State Retired = 2;
    static constexpr State Step = 4;

    /// Counts the delivery in; false when closed.
    bool enter() noexcept;
    void leave() noexcept;
    void leaveWhileClosing() noexcept;
    void freeRetired() noexcept;

    std::atomic<State> state_{0};
    // Written once by retire() before it sets Retired; read by whoever frees.
    void* retired_ = nullptr;
    void (*retiredDeleter_)(void*) = nullptr;
    std::mutex mutex_;  // only for waitForOthers' sleep
    std::condition_variable idle_;
};

/// One delivery (or command) in a receiver, from entering to leaving. Test
/// it before using the receiver: false means the receiver is being torn down.
/// Lives on the stack of the thread that made it and is left there, innermost
/// first; while entered it is a frame of that thread's list (see
/// DeliveryRundown::ownDeliveries). Debug builds assert both.
class DeliveryScope {
public:
    /// Enters `rundown` (borrowed; null never enters).
    explicit DeliveryScope(DeliveryRundown* rundown) noexcept;
    ~DeliveryScope();
    DeliveryScope(const DeliveryScope&) = delete;
    DeliveryScope& operator=(const DeliveryScope&) = delete;

    explicit operator bool() const noexcept { return rundown_ != nullptr; }

private:
    friend class DeliveryRundown;
    DeliveryRundown* rundown_;          // null when not entered
    DeliveryFrames* frames_ = nullptr;  // the entering thread's list, while entered
    DeliveryScope* outer_ = nullptr;    // the thread's previous frame
};

}  // namespace Dravlo
