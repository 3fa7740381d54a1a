// AxisSimulator.dll: the simulated Axis driver as an installable in-process
// COM server. The process's simulator (one per load of the DLL) is made when
// COM first asks for a class object: it reads the session then, sends its
// log to the file (ServerLog.h), plays the session of a kind from device
// 0's Start to its Stop, Close or destruction (SessionPlayer.h), and shows its
// panel while device objects live, when asked to (Panel.h).
// Every object takes calls from any thread (ThreadingModel "Both"); no C++
// exception leaves an export or a COM method.

#include <windows.h>

#include <array>
#include <mutex>
#include <vector>

#include "simulator/ModuleThread.h"
#include "simulator/Panel.h"
#include "simulator/ServerLog.h"
#include "simulator/ServerRegistration.h"
#include "simulator/SessionPlayer.h"
#include "simulator/SimulatorCore.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace AxisSim {
namespace {

/// Plays the session of each kind for its device 0. Thread rule: started()
/// and stopped() from any thread; players are swapped under the lock and
/// stopped (joined) outside it, so a sink call in flight may re-enter.
class SessionHost final : public DeviceObserver {
public:
    explicit SessionHost(std::shared_ptr<const Session> session) : session_(std::move(session)) {}

    void started(const std::shared_ptr<SimulatorCore>& core,
                 const std::shared_ptr<DeviceProbe>& device) noexcept override {
        if (device->index() != 0 || session_->empty()) return;
        std::unique_ptr<SessionPlayer> old;
        try {
            const Kind kind = device->kind();
            std::vector<std::shared_ptr<DeviceProbe>> devices{device};
            for (int i = 1; i < session_->devices[static_cast<int>(kind)]; ++i)
                devices.push_back(core->latestDevice(kind, i));
            std::lock_guard lock(mutex_);
            std::unique_ptr<SessionPlayer>& slot = players_[static_cast<int>(kind)];
            if (slot && slot->device() == device.get()) return;  // a second Start: the session plays on
            old = std::move(slot);
            slot = std::make_unique<SessionPlayer>(session_, kind, std::move(devices),
                                                   std::shared_ptr<CallLog>(core, &core->log));
        } catch (...) {
            core->log.note(device->name(), ".Session:failed");
        }
    }

    void stopped(const DeviceProbe& device) noexcept override {
        if (device.index() != 0) return;
        std::unique_ptr<SessionPlayer> player;
        {
            std::lock_guard lock(mutex_);
            std::unique_ptr<SessionPlayer>& slot = players_[static_cast<int>(device.kind())];
            if (slot && slot->device() == &device) player = std::move(slot);
        }
        // player's destructor stops it here, outside the lock.
    }

private:
    std::shared_ptr<const Session> session_;
    std::mutex mutex_;
    std::array<std::unique_ptr<SessionPlayer>, 2> players_;
};

/// Tells every observer in turn.
class Observers final : public DeviceObserver {
public:
    explicit Observers(std::vector<std::shared_ptr<DeviceObserver>> observers) : observers_(std::move(observers)) {}
    void made(const std::shared_ptr<SimulatorCore>& core,
              const std::shared_ptr<DeviceProbe>& device) noexcept override {
        for (const auto& observer : observers_) observer->made(core, device);
    }
    void started(const std::shared_ptr<SimulatorCore>& core,
                 const std::shared_ptr<DeviceProbe>& device) noexcept override {
        for (const auto& observer : observers_) observer->started(core, device);
    }
    void stopped(const DeviceProbe& device) noexcept override {
        for (const auto& observer : observers_) observer->stopped(device);
    }
    void lightsChanged(const DeviceProbe& device) noexcept override {
        for (const auto& observer : observers_) observer->lightsChanged(device);
    }
    void gone(const DeviceProbe& device) noexcept override {
        for (const auto& observer : observers_) observer->gone(device);
    }

private:
    const std::vector<std::shared_ptr<DeviceObserver>> observers_;
};

std::shared_ptr<SimulatorCore> makeCore() {
    auto core = std::make_shared<SimulatorCore>();
    const std::wstring sessionPath = environmentValue(L"AXIS_SIMULATOR_SESSION");
    core->log.writeTo(std::make_shared<FileLog>(logPathFor(sessionPath), sessionPath));
    // Sinks are called as COM's rules have it: each with a reference of its
    // own, outside the device's lock, so a sink may unadvise itself or wait
    // for a thread that unadvises.
    core->deliverOutsideLock = true;
    std::shared_ptr<const Session> session = loadSession(sessionPath, core->log);
    core->config(Kind::JogDial).deviceCount = session->devices[static_cast<int>(Kind::JogDial)];
    core->config(Kind::KeyPad).deviceCount = session->devices[static_cast<int>(Kind::KeyPad)];
    const bool panel = session->panel || environmentValue(L"AXIS_SIMULATOR_PANEL") == L"1";
    std::vector<std::shared_ptr<DeviceObserver>> observers{std::make_shared<SessionHost>(std::move(session))};
    if (panel) observers.push_back(std::make_shared<Panel>());
    core->observer = std::make_shared<Observers>(std::move(observers));
    return core;
}

// The process's simulator, made by the first DllGetClassObject. Owned here and
// destroyed when the DLL is freed; abandoned when the process ends, since its
// objects may then still hold sinks of libraries already gone (see DllMain).
std::mutex coreMutex;
std::unique_ptr<std::shared_ptr<SimulatorCore>> theCore;

std::shared_ptr<SimulatorCore> core() {
    std::lock_guard lock(coreMutex);
    if (!theCore) theCore = std::make_unique<std::shared_ptr<SimulatorCore>>(makeCore());
    return *theCore;
}

std::wstring modulePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

}  // namespace
}  // namespace AxisSim

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) (void)AxisSim::theCore.release();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    AxisSim::Kind kind;
    if (IsEqualCLSID(clsid, CLSID_AxisJogDial))
        kind = AxisSim::Kind::JogDial;
    else if (IsEqualCLSID(clsid, CLSID_AxisKeyPad))
        kind = AxisSim::Kind::KeyPad;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        const Dravlo::ComRef<IClassFactory> factory = AxisSim::createClassFactory(AxisSim::core(), kind);
        return factory->QueryInterface(riid, object);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllCanUnloadNow() {
    std::lock_guard lock(AxisSim::coreMutex);
    if (AxisSim::moduleThreadsRunning() != 0) return S_FALSE;
    if (!AxisSim::theCore) return S_OK;
    const AxisSim::SimulatorCore& core = **AxisSim::theCore;
    return core.liveObjects.load() == 0 && core.serverLocks.load() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    const std::wstring path = AxisSim::modulePath();
    return path.empty() ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : AxisSim::registerServerClasses(path);
}

STDAPI DllUnregisterServer() {
    const std::wstring path = AxisSim::modulePath();
    return path.empty() ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : AxisSim::unregisterServerClasses(path);
}
