#pragma once
// Pieces the jog dial and keypad drivers share: the COM start-up bookkeeping
// of one driver, owners for what a driver holds across calls (the receiver's
// safe for other threads), and the device-0 lookup.

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "bridge/Exceptions.h"
#include "com/AxisDriver.h"
#include "com/DeliveryRundown.h"

namespace Dravlo {

/// One driver's CoInitialize bookkeeping on the Java threads that initialise
/// it. Every successful CoInitialize (S_OK or S_FALSE) is balanced by exactly
/// one CoUninitialize on the thread that made it, and never on another: a
/// repeated initialisation that gets S_FALSE balances its own call at once and
/// still fails, while a successful one stays owed until uninitialize runs on
/// its thread. Thread rule: Java serialises a driver's initialise and
/// uninitialise calls, so the owed list needs no lock of its own.
class ComInitialization {
public:
    /// CoInitialize(nullptr); anything but S_OK throws IOException(`failureMessage`).
    void initialize(const char* failureMessage);
    /// CoUninitialize when this thread's successful initialise is still owed
    /// one; on any other thread nothing, whatever COM it has of its own.
    void uninitialize() noexcept;
    /// The result of the last CoInitialize (S_FALSE before the first).
    HRESULT lastResult() const noexcept { return comInitResult; }

private:
    /// A thread, told apart from a later thread that reuses its id.
    struct ThreadIdentity {
        DWORD id = 0;
        ULONGLONG created = 0;
        bool operator==(const ThreadIdentity&) const = default;
        static ThreadIdentity current() noexcept;
    };

    HRESULT comInitResult = S_FALSE;
    std::vector<ThreadIdentity> owed;  ///< threads whose CoInitialize is not yet balanced
};

/// A reference to the module this code lives in (GetModuleHandleEx), so that
/// it stays mapped while a device thread may still call into it, even after
/// the JVM lets go of the library without an uninitialise. Move-only.
class ModuleReference {
public:
    ModuleReference() = default;
    ModuleReference(ModuleReference&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
    ModuleReference& operator=(ModuleReference&& other) noexcept {
        if (this != &other) {
            reset();
            module_ = std::exchange(other.module_, nullptr);
        }
        return *this;
    }
    ~ModuleReference() { reset(); }
    /// One more reference to this module; empty when Windows refuses it.
    static ModuleReference acquire() noexcept;
    /// FreeLibrary once, when held.
    void reset() noexcept;
    /// Lets go without FreeLibrary: the module stays mapped for good.
    void abandon() noexcept { module_ = nullptr; }

private:
    HMODULE module_ = nullptr;
};

/// Owner of one heap object a process-wide driver holds between Java calls.
/// reset() deletes what it held; the destructor, run at library unload,
/// deliberately deletes nothing, since that would call COM from a dying
/// process; adopt() abandons the earlier object without deleting it, for an
/// initialisation that lays a new one over an old one it must not touch.
template <class T>
class DriverOwned {
public:
    DriverOwned() = default;
    DriverOwned(const DriverOwned&) = delete;
    DriverOwned& operator=(const DriverOwned&) = delete;
    ~DriverOwned() = default;  // abandons: see above

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    /// Takes ownership of `object`; whatever was held is abandoned, not deleted.
    void adopt(T* object) noexcept { object_ = object; }
    /// Deletes what is held; empty afterwards.
    void reset() noexcept {
        T* old = object_;
        object_ = nullptr;
        delete old;
    }

private:
    T* object_ = nullptr;
};

/// Count of the collection: preset to 0, the HRESULT ignored. Calling through
/// an empty holder raises _com_error(E_POINTER).
template <class CollectionPtr>
int queryDeviceCount(CollectionPtr& collection) {
    int count = 0;
    collection->GetCount(&count);
    return count;
}

/// Device 0 of the collection (one reference, owned by the caller). The
/// pointer is cleared first so a driver that writes nothing hands over no
/// garbage; a null device throws IOException(`noDeviceMessage`).
template <class Device, class CollectionPtr>
Device* firstDevice(CollectionPtr& collection, const char* noDeviceMessage) {
    Device* device = nullptr;
    collection->GetItem(0, &device);
    if (device == nullptr) throw IOException(noDeviceMessage);
    return device;
}

/// The opening steps both drivers share: COM on this thread, a new collection
/// holder laid over whatever was held (not released: see DriverOwned), filled
/// by the creation sequence, and its device count. An empty holder raises
/// _com_error(E_POINTER) at the count and stays stored.
template <class CollectionPtr>
int openCollection(ComInitialization& com, DriverOwned<CollectionPtr>& collection, REFCLSID clsid,
                   const char* comFailureMessage) {
    com.initialize(comFailureMessage);
    auto* holder = new CollectionPtr;
    createAxisCollection(clsid, *holder);
    collection.adopt(holder);
    return queryDeviceCount(*holder);
}

/// The receiver of device 0 as a driver holds it between Java calls, with a
/// reference to the library's module for as long as it is connected.
/// Thread rule: adopt and retire run on the driver's Java threads, which Java
/// serialises (retire also from inside a listener's callback); whileOpen may
/// run on any thread at any time. The mutex guards only the pointer and the
/// entering of the receiver's rundown; nothing calls out while it is held.
/// The destructor (library unload) abandons whatever is still held.
template <class Receiver>
class ReceiverSlot {
public:
    ReceiverSlot() = default;
    ReceiverSlot(const ReceiverSlot&) = delete;
    ReceiverSlot& operator=(const ReceiverSlot&) = delete;
    ~ReceiverSlot() = default;  // abandons: see DriverOwned

    /// Takes ownership of `receiver`, which must already have its listeners,
    /// hooks its events and starts its device. An earlier receiver is
    /// abandoned, not closed (see DriverOwned), and so is its module reference.
    void adoptAndStart(Receiver* receiver) {
        ModuleReference pinned = ModuleReference::acquire();
        {
            std::lock_guard lock(mutex_);
            if (receiver_ != nullptr) module_.abandon();
            receiver_ = receiver;
            module_ = std::move(pinned);
        }
        receiver->open();
        receiver->start();
    }

    /// Runs `operation(receiver)` inside the receiver's rundown, when there is
    /// a receiver and its teardown has not begun; otherwise nothing.
    template <class Operation>
    void whileOpen(Operation&& operation) {
        std::shared_ptr<DeliveryRundown> rundown;
        Receiver* receiver = nullptr;
        std::optional<DeliveryScope> scope;
        {
            std::lock_guard lock(mutex_);
            if (receiver_ == nullptr) return;
            receiver = receiver_;
            rundown = receiver->rundown();
            scope.emplace(rundown.get());
        }
        if (*scope) operation(*receiver);
    }

    /// Stops the receiver, then closes and frees it (DeviceReceiver::retire)
    /// and lets go of the module. Empty does nothing.
    void retire() noexcept {
        Receiver* receiver = nullptr;
        ModuleReference pinned;
        {
            std::lock_guard lock(mutex_);
            receiver = std::exchange(receiver_, nullptr);
            pinned = std::move(module_);
        }
        if (receiver == nullptr) return;
        receiver->rundown()->close();  // teardown begins: no new delivery or command
        receiver->stop();
        Receiver::retire(receiver);
    }

    /// Whether a receiver is held (for the driver's own thread).
    explicit operator bool() const {
        std::lock_guard lock(mutex_);
        return receiver_ != nullptr;
    }

private:
    mutable std::mutex mutex_;
    Receiver* receiver_ = nullptr;  // owned; freed through retire
    ModuleReference module_;
};

/// The closing steps both drivers share, in their order: the collection goes
/// first (an empty holder is simply freed), then the receiver is stopped and
/// torn down, which unhooks, waits for deliveries on other threads, stops
/// again, closes and releases the device.
template <class CollectionPtr, class Receiver>
void closeCollectionAndReceiver(DriverOwned<CollectionPtr>& collection, ReceiverSlot<Receiver>& receiver) {
    collection.reset();
    receiver.retire();
}

}  // namespace Dravlo
