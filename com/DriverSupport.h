#pragma once
// Pieces the jog dial and keypad drivers share: the COM start-up bookkeeping
// of one driver, an owner for what a driver holds across calls, and the
// device-0 lookup.

#include <windows.h>

#include "bridge/Exceptions.h"
#include "com/AxisDriver.h"

namespace Dravlo {

/// One driver's CoInitialize bookkeeping on the Java thread that initialises
/// it. Every successful CoInitialize (S_OK or S_FALSE) is balanced by exactly
/// one CoUninitialize on that thread: a repeated initialisation that gets
/// S_FALSE balances its own call at once and still fails, while the earlier
/// successful one stays owed until uninitialize.
class ComInitialization {
public:
    /// CoInitialize(nullptr); anything but S_OK throws IOException(`failureMessage`).
    void initialize(const char* failureMessage);
    /// CoUninitialize when a successful initialise is still owed one; otherwise nothing.
    void uninitialize() noexcept;
    /// The result of the last CoInitialize (S_FALSE before the first).
    HRESULT lastResult() const noexcept { return comInitResult; }

private:
    HRESULT comInitResult = S_FALSE;
    bool owed = false;
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

/// The closing steps both drivers share, in their order: the collection goes
/// first (an empty holder is simply freed), then the receiver is stopped and
/// destroyed, which unhooks, stops again, closes and releases the device.
template <class CollectionPtr, class Receiver>
void closeCollectionAndReceiver(DriverOwned<CollectionPtr>& collection, DriverOwned<Receiver>& receiver) {
    collection.reset();
    if (receiver) {
        receiver->stop();
        receiver.reset();
    }
}

}  // namespace Dravlo
