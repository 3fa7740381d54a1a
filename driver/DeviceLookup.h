#pragma once
// The collection's count and device 0, as both drivers look them up.

#include "bridge/Exceptions.h"
#include "com/ComRef.h"

namespace Dravlo {

/// Count of the collection: preset to 0, the HRESULT ignored. Calling through
/// an empty holder raises _com_error(E_POINTER).
template <class CollectionPtr>
int queryDeviceCount(CollectionPtr& collection) {
    int count = 0;
    collection->GetCount(&count);
    return count;
}

/// Device 0 of the collection, adopting the reference GetItem hands out. The
/// slot is cleared first so a driver that writes nothing hands over no
/// garbage; a null device throws IOException(`noDeviceMessage`).
template <class Device, class CollectionPtr>
ComRef<Device> firstDevice(CollectionPtr& collection, const char* noDeviceMessage) {
    ComRef<Device> device;
    collection->GetItem(0, device.put());
    if (!device) throw IOException(noDeviceMessage);
    return device;
}

}  // namespace Dravlo
