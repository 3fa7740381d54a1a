#pragma once
// DeviceReceiver: what the jog dial and keypad receivers share. It owns the
// device reference the receiver was built on, hooks the device's events to
// dispatch codes 4, 5, ... at construction, starts and stops the device, and
// closes it: unhook every event, Stop, Close, Release.
// Thread rule: built, closed and destroyed on the thread that initialises the
// driver (its COM apartment); events arrive on any thread through the sinks.

#include <windows.h>

#include "com/ComEventing.h"

namespace Dravlo {

/// `Derived` is the receiver (it implements dispatch); `Device` the Axis
/// device interface; `EventCount` the number of events of its dispinterface.
template <class Derived, class Device, int EventCount>
class DeviceReceiver : public __ComEventingImpl<Derived> {
public:
    /// The first dispatch code; event i is bound to code FirstDispatchCode + i.
    static constexpr int FirstDispatchCode = 4;

    DeviceReceiver(const DeviceReceiver&) = delete;
    DeviceReceiver& operator=(const DeviceReceiver&) = delete;

    /// Device Start, when there is a device.
    void start() {
        if (device) device->Start();
    }
    /// Device Stop, when there is a device.
    void stop() {
        if (device) device->Stop();
    }

    /// Binds every event of the device to its dispatch code; results ignored:
    /// a device that cannot be connected just never delivers.
    void hookEvents() {
        for (int index = 0; index < EventCount; ++index)
            this->hook(self(), FirstDispatchCode + index, device, index, EventCount);
    }
    /// Removes every binding; the last one disconnects the sink.
    void unhookEvents() {
        for (int index = 0; index < EventCount; ++index) this->unhook(self(), device, index);
    }

protected:
    /// Adopts `device` (one reference, may be null) and hooks its events.
    explicit DeviceReceiver(Device* device) : device(device) {
        if (device) hookEvents();
    }
    ~DeviceReceiver() { closeDevice(); }

    /// Unhook, Stop, Close, Release. The derived receiver calls it first in
    /// its own destructor, so no event can reach it once its members go;
    /// later calls do nothing.
    void closeDevice() noexcept {
        if (!device) return;
        unhookEvents();
        device->Stop();
        device->Close();
        device->Release();
        device = nullptr;
    }

    Device* device;  ///< owned reference, null when closed or never given

private:
    Derived* self() noexcept { return static_cast<Derived*>(this); }
};

}  // namespace Dravlo
