#include "com/ThreadSlot.h"

#include <atomic>

// ThreadSlot in standard C++, for builds outside Windows (the sanitizer
// builds of the concurrency core): each slot is an index into a table that
// every thread has of its own. Indices are never reused, so a new slot can
// never see a value another slot left on a thread.

namespace Dravlo {

namespace {
constexpr unsigned long Capacity = 64;
constexpr unsigned long NoSlot = Capacity;
std::atomic<unsigned long> slotsTaken{0};
std::atomic<bool> slotFailed{false};
thread_local void* values[Capacity] = {};
}  // namespace

ThreadSlot::ThreadSlot() noexcept : index_(slotsTaken.fetch_add(1)) {
    if (index_ < Capacity) return;
    index_ = NoSlot;
    slotFailed = true;
}

ThreadSlot::~ThreadSlot() = default;

void* ThreadSlot::get() const noexcept { return index_ != NoSlot ? values[index_] : nullptr; }

void ThreadSlot::set(void* value) noexcept {
    if (index_ != NoSlot) values[index_] = value;
}

bool ThreadSlot::anyFailed() noexcept { return slotFailed.load(); }

}  // namespace Dravlo
