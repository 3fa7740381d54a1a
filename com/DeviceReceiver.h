#pragma once
// DeviceReceiver: what the jog dial and keypad receivers share. It owns the
// device reference the receiver was built on, hooks the device's events to
// dispatch codes 4, 5, ... once the receiver's listeners are in place, starts
// and stops the device, and tears it down: no new delivery, unhook every
// event, wait for the deliveries on other threads, Stop, Close, Release.
// Thread rule: built, opened, torn down and destroyed on the thread that
// initialises the driver (Java serialises those calls). Events arrive on any
// thread through the sinks and commands on any Java thread; both enter the
// rundown (ComEventing.h) before they touch the receiver, which is what
// makes teardown safe while they run.

#include <windows.h>

#include <memory>

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

    /// Hooks the device's events, when there is a device. Call it once the
    /// listeners are in place: an event may arrive on another thread as soon
    /// as the first hook connects.
    void open() {
        if (device) hookEvents();
    }

    /// Teardown: from here on no delivery or command enters; unhook, then
    /// wait for the deliveries running on other threads (never for the
    /// caller's own), then Stop, Close, Release. Later calls do nothing more.
    /// The receiver's memory is freed by retire(), not here.
    void close() noexcept {
        this->rundown()->close();
        if (!device) return;
        unhookEvents();
        this->rundown()->waitForOthers();
        device->Stop();
        device->Close();
        device->Release();
        device = nullptr;
    }

    /// Closes `receiver` and frees it, at once or, when the calling thread is
    /// delivering an event to it (a listener tearing its driver down), as
    /// that delivery leaves. Null does nothing.
    static void retire(Derived* receiver) noexcept {
        if (receiver == nullptr) return;
        receiver->close();
        const std::shared_ptr<DeliveryRundown> rundown = receiver->rundown();
        rundown->retire(receiver);
    }

protected:
    using Handler = void (Derived::*)(int, int);

    /// Adopts `device` (one reference, may be null); hooks nothing yet.
    explicit DeviceReceiver(Device* device) : device(device) {}
    /// Closes, when retire() has not; the caller must then know that no
    /// delivery is running on its own thread.
    ~DeviceReceiver() { close(); }

    Device* device;  ///< owned reference, null when closed or never given

private:
    Derived* self() noexcept { return static_cast<Derived*>(this); }
};

}  // namespace Dravlo
