#include "com/ThreadSlot.h"

#include <windows.h>

#include <atomic>

namespace Dravlo {

namespace {
std::atomic<bool> slotFailed{false};
}

ThreadSlot::ThreadSlot() noexcept : index_(TlsAlloc()) {
    if (index_ == TLS_OUT_OF_INDEXES) slotFailed = true;
}

ThreadSlot::~ThreadSlot() {
    if (index_ != TLS_OUT_OF_INDEXES) TlsFree(index_);
}

void* ThreadSlot::get() const noexcept { return index_ != TLS_OUT_OF_INDEXES ? TlsGetValue(index_) : nullptr; }

void ThreadSlot::set(void* value) noexcept {
    if (index_ != TLS_OUT_OF_INDEXES) TlsSetValue(index_, value);
}

bool ThreadSlot::anyFailed() noexcept { return slotFailed.load(); }

}  // namespace Dravlo
