#pragma once
// DeliveryRundown: keeps a receiver alive for as long as an event delivery or
// a device command is running in it, however its teardown interleaves.
//
// Who may do what (enforced here):
// - Any thread, at any time, enters through a DeliveryScope before it reads
//   the receiver. Entering fails once close() has run; a failed scope must
//   touch nothing of the receiver. Entering never blocks.
// - Exactly one thread tears the receiver down: close(), then whatever it
//   does to the device, then waitForOthers(), then retire(). It waits for the
//   deliveries running on every other thread, never for those on its own
//   stack: a listener that tears its driver down from its own callback would
//   otherwise wait for itself.
// - retire() frees the receiver at once when the tearing-down thread has no
//   delivery of its own running; otherwise that thread's outermost delivery
//   frees it as it leaves, so nothing the delivery still uses goes away
//   under it.
// - Whoever enters keeps the rundown itself alive (a shared_ptr of its own)
//   until the scope has ended; the receiver holds one too.
// No lock is held while a delivery runs or while the receiver is freed; the
// only wait is in waitForOthers. A retired receiver whose delivery never
// leaves (its thread was killed) is abandoned, not freed.

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace Dravlo {

class DeliveryScope;

class DeliveryRundown {
public:
    DeliveryRundown() = default;
    DeliveryRundown(const DeliveryRundown&) = delete;
    DeliveryRundown& operator=(const DeliveryRundown&) = delete;

    /// From now on no delivery enters. Idempotent.
    void close() noexcept;
    /// Blocks until the only deliveries still running are the calling
    /// thread's own. Call after close(), on the tearing-down thread.
    void waitForOthers() noexcept;
    /// Frees `object` with `deleter` now, or when the calling thread's own
    /// deliveries have all left (see above). Call after waitForOthers().
    void retire(void* object, void (*deleter)(void*)) noexcept;
    template <class T>
    void retire(T* object) noexcept {
        retire(object, [](void* p) { delete static_cast<T*>(p); });
    }

    /// Deliveries running now, on every thread.
    long running() const noexcept { return state_.load(std::memory_order_acquire) / Step; }

private:
    friend class DeliveryScope;

    // The count of running deliveries times Step, plus Closed once closed:
    // one atomic word, so entering costs one compare-and-swap and can never
    // slip in after close() without being counted.
    static constexpr long Closed = 1;
    static constexpr long Step = 2;

    /// Counts the delivery in and records its thread in a free owner slot;
    /// null when closed.
    std::atomic<unsigned long>* enter() noexcept;
    void leave(std::atomic<unsigned long>& owner) noexcept;
    /// How many deliveries of this rundown the calling thread is running.
    long ownDeliveries() const noexcept;

    // The thread of each running delivery, one slot each (0 = free), so that
    // teardown can tell its own thread's deliveries apart without any
    // thread-local storage on the event path. Only the delivery that claimed
    // a slot frees it. More deliveries at once than slots wait for a slot.
    static constexpr unsigned OwnerSlots = 64;
    std::atomic<unsigned long> owners_[OwnerSlots] = {};
    std::atomic<long> state_{0};
    std::mutex mutex_;  // only for the wait and the retired object
    std::condition_variable idle_;
    void* retired_ = nullptr;
    void (*retiredDeleter_)(void*) = nullptr;
};

/// One delivery (or command) in a receiver, from entering to leaving. Test
/// it before using the receiver: false means the receiver is being torn down.
/// Lives on the stack of the thread that made it.
class DeliveryScope {
public:
    explicit DeliveryScope(DeliveryRundown* rundown) noexcept
        : owner_(rundown != nullptr ? rundown->enter() : nullptr), rundown_(owner_ != nullptr ? rundown : nullptr) {}
    ~DeliveryScope() {
        if (rundown_ != nullptr) rundown_->leave(*owner_);
    }
    DeliveryScope(const DeliveryScope&) = delete;
    DeliveryScope& operator=(const DeliveryScope&) = delete;

    explicit operator bool() const noexcept { return rundown_ != nullptr; }

private:
    std::atomic<unsigned long>* owner_;  // the slot naming this thread; null when not entered
    DeliveryRundown* rundown_;           // null when not entered
};

}  // namespace Dravlo
