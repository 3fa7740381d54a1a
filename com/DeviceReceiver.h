#pragma once
// DeviceReceiver: what the jog dial and keypad receivers share. It owns the
// device reference the receiver was built on, hooks the device's events to
// dispatch codes 4, 5, ... once the receiver's listeners are in place, starts
// and stops the device, and tears it down.
// Thread rule: built, opened and torn down by the driver's one operation at a
// time (DriverConnection), on whatever Java thread runs it, a listener's
// included. Events arrive on any thread through the sinks and commands on any
// Java thread; both enter the rundown (ComEventing.h) before they touch the
// receiver, and commands also enter a rundown of their own, which is what
// makes teardown safe while they run.

#include <windows.h>

#include <memory>
#include <utility>

#include "com/ComEventing.h"
#include "com/ComRef.h"

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
            this->hook(self(), FirstDispatchCode + index, device.get(), index, EventCount);
    }
    /// Removes every binding; the last one disconnects the sink.
    void unhookEvents() {
        for (int index = 0; index < EventCount; ++index) this->unhook(self(), device.get(), index);
    }

    /// Hooks the device's events, when there is a device. Call it once the
    /// listeners are in place: an event may arrive on another thread as soon
    /// as the first hook connects.
    void open() {
        if (device) hookEvents();
    }

    /// The rundown every command enters besides rundown(), so that a teardown
    /// can wait for commands even where it must not wait for deliveries.
    const std::shared_ptr<DeliveryRundown>& commands() const noexcept { return commands_; }

    /// The first step of a teardown: from here on no delivery or command
    /// enters. Idempotent.
    void refuseEntries() noexcept {
        this->rundown()->close();
        commands_->close();
    }
    /// Blocks until no command of another thread is running (a command on the
    /// caller's own stack cannot be waited for). After refuseEntries().
    void waitForCommands() noexcept { commands_->waitForOthers(); }

    /// Teardown: no new delivery or command; unhook; unless the calling thread
    /// is delivering an event itself (a listener tearing down, which must not
    /// wait for other threads), wait for the deliveries on other threads; then
    /// Stop, Close, Release. Later calls do nothing more. The receiver's memory
    /// is freed by retire(), not here.
    void close() noexcept {
        refuseEntries();
        if (!device) return;
        unhookEvents();
        if (!DeliveryRundown::callingThreadDelivers()) this->rundown()->waitForOthers();
        device->Stop();
        device->Close();
        device.reset();
    }

    /// Closes `receiver` and frees it, at once or, while deliveries still run
    /// in it, as the last of them leaves. Null does nothing.
    static void retire(Derived* receiver) noexcept {
        if (receiver == nullptr) return;
        receiver->close();
        const std::shared_ptr<DeliveryRundown> rundown = receiver->rundown();
        rundown->retire(receiver);
    }

protected:
    using Handler = void (Derived::*)(int, int);

    /// Takes over `device` (may be empty); hooks nothing yet.
    explicit DeviceReceiver(ComRef<Device> device) noexcept : device(std::move(device)) {}
    /// Closes, when retire() has not; the caller must then know that no
    /// delivery is running.
    ~DeviceReceiver() { close(); }

    /// A reference of the caller's own to the device, for a command that
    /// calls it: a teardown on the command's own stack (a device calling back
    /// into a listener) may release the receiver's reference meanwhile.
    ComRef<Device> deviceForCall() const noexcept { return ComRef<Device>::copy(device.get()); }

private:
    Derived* self() noexcept { return static_cast<Derived*>(this); }

    ComRef<Device> device;  ///< null when closed or never given
    std::shared_ptr<DeliveryRundown> commands_ = std::make_shared<DeliveryRundown>();
};

}  // namespace Dravlo
