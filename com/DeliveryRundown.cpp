#include "com/DeliveryRundown.h"

#include <windows.h>

#include <utility>

namespace Dravlo {

std::atomic<unsigned long>* DeliveryRundown::enter() noexcept {
    long state = state_.load(std::memory_order_acquire);
    do {
        if (state & Closed) return nullptr;
    } while (!state_.compare_exchange_weak(state, state + Step, std::memory_order_acq_rel, std::memory_order_acquire));
    const unsigned long self = GetCurrentThreadId();
    for (unsigned start = self % OwnerSlots;; SwitchToThread()) {
        for (unsigned k = 0; k < OwnerSlots; ++k) {
            std::atomic<unsigned long>& owner = owners_[(start + k) % OwnerSlots];
            unsigned long free = 0;
            if (owner.load(std::memory_order_relaxed) == 0 &&
                owner.compare_exchange_strong(free, self, std::memory_order_relaxed))
                return &owner;
        }
    }
}

void DeliveryRundown::leave(std::atomic<unsigned long>& owner) noexcept {
    owner.store(0, std::memory_order_relaxed);
    const long before = state_.fetch_sub(Step, std::memory_order_acq_rel);
    if ((before & Closed) == 0) return;
    // Closing: the teardown may be waiting for this delivery, or may have
    // left the receiver for the last delivery to free.
    void* retired = nullptr;
    void (*deleter)(void*) = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (before == Closed + Step) {
            retired = std::exchange(retired_, nullptr);
            deleter = std::exchange(retiredDeleter_, nullptr);
        }
    }
    idle_.notify_all();
    if (retired != nullptr) deleter(retired);
}

void DeliveryRundown::close() noexcept { state_.fetch_or(Closed, std::memory_order_acq_rel); }

long DeliveryRundown::ownDeliveries() const noexcept {
    // Only this thread writes its own id into a slot or clears it, so the
    // count is exact while this thread is here.
    const unsigned long self = GetCurrentThreadId();
    long own = 0;
    for (const std::atomic<unsigned long>& owner : owners_) own += owner.load(std::memory_order_relaxed) == self;
    return own;
}

void DeliveryRundown::waitForOthers() noexcept {
    const long own = ownDeliveries();
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return running() == own; });
}

void DeliveryRundown::retire(void* object, void (*deleter)(void*)) noexcept {
    if (object == nullptr) return;
    if (ownDeliveries() == 0) {
        deleter(object);
        return;
    }
    // Only this thread's deliveries are left, and only this thread can end
    // them, so the last of them finds the object here.
    std::lock_guard lock(mutex_);
    retired_ = object;
    retiredDeleter_ = deleter;
}

}  // namespace Dravlo
