// Simulated devices: IJogDialDevice / IKeyPadDevice with one connection point
// for the kind's event DIID. The device owns its connection point object and,
// through its probe, the advised sinks.

#include "simulator/SimulatorCore.h"

#include <new>

namespace AxisSim {
namespace {

// A separate COM object with a count of its own (kept in the device probe).
// It points back at its container without owning it; the device detaches it
// when it dies, as the point may outlive the device.
class ConnectionPointObject final : public IConnectionPoint {
public:
    ConnectionPointObject(std::shared_ptr<SimulatorCore> core, std::shared_ptr<DeviceProbe> device,
                          IConnectionPointContainer* container)
        : core_(std::move(core)), device_(std::move(device)), container_(container) {
        ++core_->liveObjects;
    }
    ~ConnectionPointObject() {
        device_->connectionPoint().markDestroyed();
        --core_->liveObjects;
    }

    /// Called by the dying device: the container is gone.
    void detach() noexcept {
        std::lock_guard lock(mutex_);
        container_ = nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(device_->connectionPoint().addRef()); }
    ULONG STDMETHODCALLTYPE Release() override {
        long count = device_->connectionPoint().release();
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* piid) override {
        if (piid == nullptr) return E_POINTER;
        *piid = device_->eventIid();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
        if (out == nullptr) return E_POINTER;
        std::lock_guard lock(mutex_);
        *out = container_;
        if (container_ == nullptr) return E_UNEXPECTED;
        container_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    template <class... Pieces>
    void record(const Pieces&... pieces) noexcept {
        core_->log.note(device_->name(), ".", pieces...);
    }

    std::shared_ptr<SimulatorCore> core_;
    std::shared_ptr<DeviceProbe> device_;
    std::mutex mutex_;
    IConnectionPointContainer* container_;  // not owned
};

// What a sink says of itself when a driver asks for its type information:
// "(<interface name>)" or "-><failure>". Drivers that describe or check the
// sinks they are given do this at Advise.
std::string sinkTypeInfo(IDispatch* sink) {
    UINT count = 0;
    HRESULT hr = sink->GetTypeInfoCount(&count);
    if (SUCCEEDED(hr) && count == 0) return "->none";
    Dravlo::ComRef<ITypeInfo> info;
    if (SUCCEEDED(hr)) hr = sink->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put());
    if (SUCCEEDED(hr) && !info) hr = E_POINTER;
    BSTR name = nullptr;
    if (SUCCEEDED(hr)) hr = info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    info.reset();
    if (FAILED(hr)) return "->" + hresultText(hr);
    std::string text = "(";
    for (const OLECHAR* c = name; c != nullptr && *c != 0; ++c) text += *c < 0x80 ? static_cast<char>(*c) : '?';
    SysFreeString(name);
    return text + ")";
}

HRESULT ConnectionPointObject::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    KindConfig& config = core_->config(device_->kind());
    if (FAILED(config.adviseResult) && config.adviseFailures != 0) {
        if (config.adviseFailures > 0) --config.adviseFailures;
        *cookie = config.adviseFailureCookie;
        record("Advise->", hresultText(config.adviseResult));
        return config.adviseResult;
    }
    // A real source asks for the event interface, or for IDispatch, and keeps
    // the pointer it got.
    Dravlo::ComRef<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(device_->eventIid(), dispatch.putVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.putVoid()))) {
        record("Advise->", hresultText(CONNECT_E_CANNOTCONNECT));
        return CONNECT_E_CANNOTCONNECT;
    }
    std::string typeInfo;
    try {
        typeInfo = sinkTypeInfo(dispatch.get());
        *cookie = device_->addSink(std::move(dispatch));
    } catch (...) {
        return E_OUTOFMEMORY;  // the owner that held the sink released it
    }
    record("Advise(", *cookie, ")");
    record("SinkTypeInfo", typeInfo);
    return S_OK;
}

HRESULT ConnectionPointObject::Unadvise(DWORD cookie) {
    HRESULT fault = core_->config(device_->kind()).unadviseResult;
    if (SUCCEEDED(fault) && !device_->removeSink(cookie)) fault = CONNECT_E_NOCONNECTION;
    if (FAILED(fault)) {
        record("Unadvise(", cookie, ")->", hresultText(fault));
        return fault;
    }
    record("Unadvise(", cookie, ")");
    return S_OK;
}

template <class Itf>
class DeviceObject : public Itf, public IConnectionPointContainer {
public:
    DeviceObject(std::shared_ptr<SimulatorCore> core, std::shared_ptr<DeviceProbe> probe)
        : core_(std::move(core)),
          probe_(std::move(probe)),
          point_(Dravlo::ComRef<ConnectionPointObject>::copy(new ConnectionPointObject(core_, probe_, this))) {
        ++core_->liveObjects;  // made() is told by the driver object that makes it (AxisCollections.cpp)
    }
    virtual ~DeviceObject() {
        if (core_->observer) core_->observer->stopped(*probe_);
        point_->detach();
        probe_->releaseAllSinks();
        point_.reset();
        probe_->markDestroyed();
        if (core_->observer) core_->observer->gone(*probe_);
        --core_->liveObjects;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<Itf*>(this));
        } else if (riid == IID_IConnectionPointContainer && core_->config(probe_->kind()).connectionPointContainer) {
            *ppv = static_cast<IConnectionPointContainer*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(probe_->addRef()); }
    ULONG STDMETHODCALLTYPE Release() override {
        long count = probe_->release();
        if (count == 0) {
            record("Release->0");
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE Slot3() override { return unused("Slot3"); }
    HRESULT STDMETHODCALLTYPE Slot4() override { return unused("Slot4"); }
    HRESULT STDMETHODCALLTYPE Slot5() override { return unused("Slot5"); }
    HRESULT STDMETHODCALLTYPE Slot6() override { return unused("Slot6"); }
    HRESULT STDMETHODCALLTYPE Start() override {
        record("Start");
        if (const auto& onStart = core_->config(probe_->kind()).onStart) onStart(*probe_);
        if (core_->observer) core_->observer->started(core_, probe_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return halt("Stop"); }
    HRESULT STDMETHODCALLTYPE Close() override { return halt("Close"); }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid != probe_->eventIid()) return CONNECT_E_NOCONNECTION;
        point_->AddRef();
        *out = point_.get();
        return S_OK;
    }

protected:
    template <class... Pieces>
    void record(const Pieces&... pieces) noexcept {
        core_->log.note(probe_->name(), ".", pieces...);
    }
    HRESULT halt(const char* what) noexcept {
        record(what);
        if (core_->observer) core_->observer->stopped(*probe_);
        return S_OK;
    }
    HRESULT unused(const char* slot) noexcept {
        record(slot);
        return E_NOTIMPL;
    }
    /// Keeps the keypad's new backlight state, tells the observer, and does
    /// whatever the configuration has a keypad do once SetBacklight is logged.
    void afterBacklight(int buttonNumber, int on) {
        probe_->setLight(buttonNumber, on != 0);
        if (core_->observer) core_->observer->lightsChanged(*probe_);
        if (const auto& hook = core_->config(probe_->kind()).onSetBacklight) hook(*probe_);
    }
    /// Takes as long as the configuration asks of SetBacklight.
    void takeBacklightTime() const noexcept {
        if (const unsigned ms = core_->config(probe_->kind()).setBacklightMs) Sleep(ms);
    }

private:
    std::shared_ptr<SimulatorCore> core_;
    std::shared_ptr<DeviceProbe> probe_;
    Dravlo::ComRef<ConnectionPointObject> point_;
};

using JogDialDeviceObject = DeviceObject<IJogDialDevice>;

class KeyPadDeviceObject final : public DeviceObject<IKeyPadDevice> {
public:
    using DeviceObject::DeviceObject;
    HRESULT STDMETHODCALLTYPE SetBacklight(int buttonNumber, int on) override {
        takeBacklightTime();
        record("SetBacklight(", buttonNumber, ",", on, ")");
        afterBacklight(buttonNumber, on);
        return S_OK;
    }
};

template <class Object>
Dravlo::ComRef<Object> makeDevice(const std::shared_ptr<SimulatorCore>& core, Kind kind, int index,
                                  std::shared_ptr<DeviceProbe>& probe) {
    probe = std::make_shared<DeviceProbe>(kind, index);
    probe->deliverOutsideLock(core->deliverOutsideLock);
    return Dravlo::ComRef<Object>::copy(new Object(core, probe));
}

}  // namespace

Dravlo::ComRef<IJogDialDevice> createJogDialDevice(const std::shared_ptr<SimulatorCore>& core, int index,
                                                   std::shared_ptr<DeviceProbe>& probe) {
    return Dravlo::ComRef<IJogDialDevice>::adopt(
        makeDevice<JogDialDeviceObject>(core, Kind::JogDial, index, probe).detach());
}

Dravlo::ComRef<IKeyPadDevice> createKeyPadDevice(const std::shared_ptr<SimulatorCore>& core, int index,
                                                 std::shared_ptr<DeviceProbe>& probe) {
    return Dravlo::ComRef<IKeyPadDevice>::adopt(
        makeDevice<KeyPadDeviceObject>(core, Kind::KeyPad, index, probe).detach());
}

}  // namespace AxisSim
