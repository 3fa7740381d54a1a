#pragma once
// State shared by the simulator and every COM object it made: the log, the
// configuration, the live-object count and the latest objects of each kind.
// Internal to the simulated driver.

#include "simulator/AxisSimulator.h"

#include <array>

namespace AxisSim {

struct SimulatorCore;

/// Names and interfaces that tell the two kinds apart.
struct JogDialTraits {
    using Collection = IJogDialCollection;
    using Device = IJogDialDevice;
    static constexpr Kind kind = Kind::JogDial;
    static constexpr const char* collectionName = "JogDialCollection";
    static constexpr const char* collectionInterfaceName = "IJogDialCollection";
    static constexpr const char* className = "JogDialClass";
};

struct KeyPadTraits {
    using Collection = IKeyPadCollection;
    using Device = IKeyPadDevice;
    static constexpr Kind kind = Kind::KeyPad;
    static constexpr const char* collectionName = "KeyPadCollection";
    static constexpr const char* collectionInterfaceName = "IKeyPadCollection";
    static constexpr const char* className = "KeyPadClass";
};

/// "JogDialDevice#2" and the like.
std::string deviceName(Kind kind, int index);
/// "0x80004005": an HRESULT for log entries.
std::string hresultText(HRESULT hr);
const CLSID& classIdOf(Kind kind) noexcept;

/// Told by the simulated devices when they are made, start, stop, light a
/// button and go; the installed simulator plays its session and drives its
/// panel through it. Called on the thread of the call concerned, with no
/// simulator lock held. Each does nothing unless overridden.
class DeviceObserver {
public:
    virtual ~DeviceObserver() = default;
    /// `device`'s object was made by `core` with a driver object, which is
    /// recorded (latestCollection, latestDevice) by now.
    virtual void made(const std::shared_ptr<SimulatorCore>& core, const std::shared_ptr<DeviceProbe>& device) noexcept {
    }
    /// `device` received Start; `core` made it.
    virtual void started(const std::shared_ptr<SimulatorCore>& core,
                         const std::shared_ptr<DeviceProbe>& device) noexcept {}
    /// `device` received Stop or Close, or is being destroyed.
    virtual void stopped(const DeviceProbe& device) noexcept {}
    /// Keypad `device` received SetBacklight; its probe holds the new state.
    virtual void lightsChanged(const DeviceProbe& device) noexcept {}
    /// `device`'s object is destroyed: its sinks are released.
    virtual void gone(const DeviceProbe& device) noexcept {}
};

/// Fires `dispid` at every sink of `device` on the calling thread, as
/// DeviceProbe::fire does, then logs "<device>.Fire:<shown>-><n> sink(s)":
/// how sessions and the panel raise events. Returns n.
std::size_t fireLogged(DeviceProbe& device, DISPID dispid, const std::vector<_variant_t>& paramsInOrder,
                       std::string_view shown, CallLog& log);

struct SimulatorCore {
    CallLog log;
    std::atomic<long> liveObjects{0};
    /// Class objects alive plus LockServer locks (the installed server's unload rule).
    std::atomic<long> serverLocks{0};
    /// Set before the first object is made; null in tests.
    std::shared_ptr<DeviceObserver> observer;
    /// Devices made from now on deliver outside their lock (see
    /// DeviceProbe::deliverOutsideLock): the installed server's way. Set
    /// before the first object is made; tests keep the stricter default.
    bool deliverOutsideLock = false;

    KindConfig& config(Kind kind) noexcept { return configs[static_cast<int>(kind)]; }

    /// Records a new driver object and its devices as the latest of `kind`.
    void recordCollection(Kind kind, std::shared_ptr<ObjectProbe> collection,
                          std::vector<std::shared_ptr<DeviceProbe>> devices);
    std::shared_ptr<ObjectProbe> latestCollection(Kind kind) const;
    std::shared_ptr<DeviceProbe> latestDevice(Kind kind, int index) const;
    int collectionsCreated(Kind kind) const;

private:
    struct Latest {
        std::shared_ptr<ObjectProbe> collection;
        std::vector<std::shared_ptr<DeviceProbe>> devices;
        int created = 0;
    };
    std::array<KindConfig, 2> configs{};
    mutable std::mutex mutex_;
    std::array<Latest, 2> latest_{};
};

/// Makes a driver object (collection) of `kind` with its devices and answers
/// QueryInterface(iid) on it; *out gets one reference or null.
HRESULT createCollection(const std::shared_ptr<SimulatorCore>& core, Kind kind, REFIID iid, void** out);

/// Makes one device with one reference, and sets `probe` to its probe.
Dravlo::ComRef<IJogDialDevice> createJogDialDevice(const std::shared_ptr<SimulatorCore>& core, int index,
                                                   std::shared_ptr<DeviceProbe>& probe);
Dravlo::ComRef<IKeyPadDevice> createKeyPadDevice(const std::shared_ptr<SimulatorCore>& core, int index,
                                                 std::shared_ptr<DeviceProbe>& probe);
inline Dravlo::ComRef<IJogDialDevice> createDevice(JogDialTraits, const std::shared_ptr<SimulatorCore>& core, int index,
                                                   std::shared_ptr<DeviceProbe>& probe) {
    return createJogDialDevice(core, index, probe);
}
inline Dravlo::ComRef<IKeyPadDevice> createDevice(KeyPadTraits, const std::shared_ptr<SimulatorCore>& core, int index,
                                                  std::shared_ptr<DeviceProbe>& probe) {
    return createKeyPadDevice(core, index, probe);
}

/// A new class object for `kind` with one reference.
Dravlo::ComRef<IClassFactory> createClassFactory(const std::shared_ptr<SimulatorCore>& core, Kind kind);

}  // namespace AxisSim
