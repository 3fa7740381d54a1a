#pragma once
// DeviceReceiver: what the jog dial and keypad receivers share. It owns the
// device reference the receiver was built on, hooks the device's events to
// dispatch codes 4, 5, ... once the receiver is built, starts and stops the
// device, and closes it: unhook every event, Stop, Close, Release.
// Thread rule: built, closed and destroyed on the thread that initialises the
// driver (its COM apartment); events arrive on any thread through the sinks.

#include <windows.h>

#include "com/ComEventing.h"

namespace Dravlo {

/// `Derived` is the receiver; `Device` the Axis device interface;
/// `EventCount` the number of events of its dispinterface. Derived supplies
/// `handlers`: for each event index, the member that handles the event's two
/// integers, or null for an event that is consumed without effect.
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

    /// Runs the handler bound to `dispatchCode`: S_FALSE for -1 (an event
    /// without a handler), S_OK for one of this receiver's codes, E_FAIL for
    /// any other code. `errorInfo` (borrowed) is not used by any handler.
    HRESULT dispatch(int dispatchCode, int first, int second, BSTR errorInfo) final {
        if (dispatchCode == NoDispatchCode) return S_FALSE;
        const int index = dispatchCode - FirstDispatchCode;
        if (index < 0 || index >= EventCount) return E_FAIL;
        if (const Handler handler = Derived::handlers[index]) (self()->*handler)(first, second);
        return S_OK;
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
    using Handler = void (Derived::*)(int, int);

    /// Adopts `device` (one reference, may be null); hooks nothing yet.
    explicit DeviceReceiver(Device* device) : device(device) {}
    ~DeviceReceiver() { closeDevice(); }

    /// Hooks the device's events, when there is a device. The derived
    /// receiver calls it last in its own constructor: an event may arrive on
    /// another thread as soon as the first hook connects, and must find the
    /// receiver's members built and its dispatch in place.
    void openDevice() {
        if (device) hookEvents();
    }

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
