#pragma once
// Device 0 of the collection, as both drivers look it up.

#include "bridge/Exceptions.h"
#include "com/ComRef.h"

namespace Dravlo {

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
