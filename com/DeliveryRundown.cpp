#include "com/DeliveryRundown.h"

#include <cassert>
#include <utility>

#include "com/ThreadSlot.h"

namespace Dravlo {

// The scopes a thread has entered, innermost first, each linking to the one
// outside it. Each thread's own: only that thread reads or writes it.
struct DeliveryFrames {
    DeliveryScope* innermost = nullptr;
};

namespace {

// Each thread's frame list, once the thread has entered a scope. Only the
// owning thread reads or writes its list, so a scope finds it with one read
// of the slot and changes it with plain stores.
ThreadSlot frames;

// The calling thread's list, if it has ever entered a scope.
DeliveryFrames* knownFrames() noexcept { return static_cast<DeliveryFrames*>(frames.get()); }

// The calling thread's list, made on its first scope. The list lives as long
// as its thread: a thread_local owns it, touched once per thread, and every
// later scope reaches it through the slot (a Win32 TLS slot in the library:
// one call instead of the emulated thread_local's dearer one).
DeliveryFrames& threadFrames() noexcept {
    DeliveryFrames* list = knownFrames();
    if (list == nullptr) {
        thread_local DeliveryFrames own;
        frames.set(&own);
        list = &own;
    }
    return *list;
}

}  // namespace

DeliveryScope::DeliveryScope(DeliveryRundown* rundown) noexcept
    : rundown_(rundown != nullptr && rundown->enter() ? rundown : nullptr) {
    if (rundown_ == nullptr) return;
    frames_ = &threadFrames();
    outer_ = frames_->innermost;
    frames_->innermost = this;
}

DeliveryScope::~DeliveryScope() {
    if (rundown_ == nullptr) return;
    // Left on the thread that entered it, innermost first.
    assert(frames_ == knownFrames() && frames_->innermost == this);
    frames_->innermost = outer_;
    rundown_->leave();  // may free the receiver, and the rundown with it
}

bool DeliveryRundown::enter() noexcept {
    State state = state_.load(std::memory_order_relaxed);
    do {
        if (state & Closed) return false;
    } while (!state_.compare_exchange_weak(state, state + Step, std::memory_order_acquire, std::memory_order_relaxed));
    return true;
}

void DeliveryRundown::leave() noexcept {
    // Open: nobody waits and nobody frees, so counting out is all.
    State state = state_.load(std::memory_order_relaxed);
    while ((state & Closed) == 0) {
        if (state_.compare_exchange_weak(state, state - Step, std::memory_order_release, std::memory_order_relaxed))
            return;
    }
    leaveWhileClosing();
}

void DeliveryRundown::leaveWhileClosing() noexcept {
    // Once this delivery is counted out, another one may free the receiver,
    // and with it the last other owner of this rundown. (lock() rather than
    // shared_from_this(), which may throw: this function must not.)
    const std::shared_ptr<DeliveryRundown> self = weak_from_this().lock();
    const State before = state_.fetch_sub(Step, std::memory_order_acq_rel);
    {
        // Taken so that a waiter between its test and its sleep cannot miss this.
        std::lock_guard lock(mutex_);
    }
    idle_.notify_all();
    if (before == (Closed | Retired | Step)) freeRetired();
}

void DeliveryRundown::freeRetired() noexcept {
    void* object = std::exchange(retired_, nullptr);
    if (object != nullptr) retiredDeleter_(object);
}

void DeliveryRundown::close() noexcept { state_.fetch_or(Closed, std::memory_order_acq_rel); }

bool DeliveryRundown::callingThreadDelivers() noexcept {
    const DeliveryFrames* list = knownFrames();
    return list != nullptr && list->innermost != nullptr;
}

long DeliveryRundown::ownDeliveries() const noexcept {
    const DeliveryFrames* list = knownFrames();
    long own = 0;
    for (const DeliveryScope* frame = list != nullptr ? list->innermost : nullptr; frame != nullptr;
         frame = frame->outer_)
        own += frame->rundown_ == this;
    return own;
}

void DeliveryRundown::waitForOthers() noexcept {
    assert(state_.load() & Closed);  // otherwise new deliveries could keep it waiting for ever
    const long own = ownDeliveries();
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return running() == own; });
}

void DeliveryRundown::retire(void* object, void (*deleter)(void*)) noexcept {
    if (object == nullptr) return;
    assert((state_.load() & (Closed | Retired)) == Closed);  // closed, and retired by one thread only
    retired_ = object;
    retiredDeleter_ = deleter;
    // Whoever makes "retired" and "none running" true together frees it:
    // here, or the last delivery to leave.
    const State before = state_.fetch_or(Retired, std::memory_order_acq_rel);
    if (before / Step == 0) freeRetired();
}

}  // namespace Dravlo
