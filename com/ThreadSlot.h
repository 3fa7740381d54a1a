#pragma once
// ThreadSlot: one pointer-sized value per thread for each instance: a Win32
// TLS slot in the library (ThreadSlot.cpp), a thread_local table in native
// builds outside Windows (ThreadSlotStd.cpp). Reading or writing it is a
// plain call (about 7 ns under Wine), with no lock and no atomic operation,
// and a thread that exits leaves nothing behind. Slots are few per process
// (about a thousand under Windows, 64 outside), so only long-lived objects
// own one.
//
// This is the library's only seam for thread-local state: the delivery
// rundown's frame lists (each owned by a thread_local that its thread
// touches once, on its first delivery) are found here, and a driver's COM
// debt lives here, so that a build for another platform (or a sanitizer run)
// swaps this one file's implementation.
//
// Thread rule: get and set touch the calling thread's value only; the slot
// itself is allocated and freed with the object (the library's static
// objects, at load and unload).

namespace Dravlo {

class ThreadSlot {
public:
    /// Allocates the slot; every thread's value starts null. When no slot is
    /// left, failed() is true and the library refuses to load (see DllMain).
    ThreadSlot() noexcept;
    ~ThreadSlot();
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    /// The calling thread's value; null when never set (or the slot failed).
    void* get() const noexcept;
    /// Sets the calling thread's value; does nothing when the slot failed.
    void set(void* value) noexcept;

    /// Process-wide: true once any slot could not be allocated.
    static bool anyFailed() noexcept;

private:
    unsigned long index_;
};

}  // namespace Dravlo
