#include "com/DeliveryRundown.h"

#include <windows.h>

#include <utility>

namespace Dravlo {

namespace {

// The innermost DeliveryScope of the calling thread. A Windows TLS slot
// rather than thread_local: events arrive on threads the library never saw
// start, and a slot needs no per-thread memory that such a thread would have
// to give back when it ends.
class ThreadScopes {
public:
    ThreadScopes() noexcept : slot_(TlsAlloc()) {}
    ~ThreadScopes() {
        if (slot_ != TLS_OUT_OF_INDEXES) TlsFree(slot_);
    }
    ThreadScopes(const ThreadScopes&) = delete;
    ThreadScopes& operator=(const ThreadScopes&) = delete;

    DeliveryScope* innermost() const noexcept {
        return slot_ == TLS_OUT_OF_INDEXES ? nullptr : static_cast<DeliveryScope*>(TlsGetValue(slot_));
    }
    void setInnermost(DeliveryScope* scope) const noexcept {
        if (slot_ != TLS_OUT_OF_INDEXES) TlsSetValue(slot_, scope);
    }

private:
    DWORD slot_;
};

const ThreadScopes& threadScopes() noexcept {
    static const ThreadScopes scopes;
    return scopes;
}

}  // namespace

bool DeliveryRundown::enter() noexcept {
    long state = state_.load(std::memory_order_acquire);
    do {
        if (state & Closed) return false;
    } while (!state_.compare_exchange_weak(state, state + Step, std::memory_order_acq_rel, std::memory_order_acquire));
    return true;
}

void DeliveryRundown::leave() noexcept {
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
    long own = 0;
    for (const DeliveryScope* scope = threadScopes().innermost(); scope != nullptr; scope = scope->outer_)
        if (scope->rundown_ == this) ++own;
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

DeliveryScope::DeliveryScope(DeliveryRundown* rundown) noexcept
    : rundown_(rundown != nullptr && rundown->enter() ? rundown : nullptr) {
    if (rundown_ == nullptr) return;
    outer_ = threadScopes().innermost();
    threadScopes().setInnermost(this);
}

DeliveryScope::~DeliveryScope() {
    if (rundown_ == nullptr) return;
    threadScopes().setInnermost(outer_);
    rundown_->leave();
}

}  // namespace Dravlo
