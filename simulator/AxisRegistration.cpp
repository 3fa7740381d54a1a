// Class objects of the simulated driver and their registration: directly in
// the calling thread's apartment, or through an IInitializeSpy whenever the
// thread enters COM.

#include "simulator/SimulatorCore.h"

#include <utility>

namespace AxisSim {
namespace {

class ClassFactory final : public IClassFactory {
public:
    ClassFactory(std::shared_ptr<SimulatorCore> core, Kind kind) : core_(std::move(core)), kind_(kind) {
        ++core_->serverLocks;
    }
    ~ClassFactory() { --core_->serverLocks; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        long count = --refs_;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv != nullptr) *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return createCollection(core_, kind_, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++core_->serverLocks : --core_->serverLocks;
        return S_OK;
    }

private:
    std::shared_ptr<SimulatorCore> core_;
    Kind kind_;
    std::atomic<long> refs_{0};
};

HRESULT registerClass(const std::shared_ptr<SimulatorCore>& core, Kind kind, DWORD& cookie) {
    if (!core->config(kind).registered) return S_OK;
    // COM takes its own reference while registered; this one goes at the end.
    const Dravlo::ComRef<IClassFactory> factory = createClassFactory(core, kind);
    HRESULT hr =
        CoRegisterClassObject(classIdOf(kind), factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) cookie = 0;
    return hr;
}

}  // namespace

Dravlo::ComRef<IClassFactory> createClassFactory(const std::shared_ptr<SimulatorCore>& core, Kind kind) {
    return Dravlo::ComRef<IClassFactory>::copy(new ClassFactory(core, kind));
}

// ---------------------------------------------------------------------------

InProcessRegistration::InProcessRegistration(std::shared_ptr<SimulatorCore> core) : core_(std::move(core)) {
    result_ = registerClass(core_, Kind::JogDial, jogDialCookie_);
    HRESULT keyPad = registerClass(core_, Kind::KeyPad, keyPadCookie_);
    if (SUCCEEDED(result_)) result_ = keyPad;
}

InProcessRegistration::InProcessRegistration(InProcessRegistration&& other) noexcept
    : core_(std::move(other.core_)),
      jogDialCookie_(std::exchange(other.jogDialCookie_, 0)),
      keyPadCookie_(std::exchange(other.keyPadCookie_, 0)),
      result_(other.result_) {}

InProcessRegistration& InProcessRegistration::operator=(InProcessRegistration&& other) noexcept {
    if (this != &other) {
        revoke();
        core_ = std::move(other.core_);
        jogDialCookie_ = std::exchange(other.jogDialCookie_, 0);
        keyPadCookie_ = std::exchange(other.keyPadCookie_, 0);
        result_ = other.result_;
    }
    return *this;
}

InProcessRegistration::~InProcessRegistration() { revoke(); }

void InProcessRegistration::revoke() noexcept {
    if (jogDialCookie_ != 0) CoRevokeClassObject(std::exchange(jogDialCookie_, 0));
    if (keyPadCookie_ != 0) CoRevokeClassObject(std::exchange(keyPadCookie_, 0));
}

// ---------------------------------------------------------------------------

// Registers the class objects after the thread's first successful entry into
// COM and revokes them before the matching last exit. Only ever called on the
// thread it was registered on, so its state needs no lock.
class InitializeSpyRegistration::Spy final : public IInitializeSpy {
public:
    explicit Spy(std::shared_ptr<SimulatorCore> core) : core_(std::move(core)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IInitializeSpy) return E_NOINTERFACE;
        *ppv = static_cast<IInitializeSpy*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        long count = --refs_;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hrCoInit, DWORD, DWORD newAptRefs) override {
        if (SUCCEEDED(hrCoInit) && newAptRefs == 1 && !registration.active()) {
            registration = InProcessRegistration(core_);
            ++registrations;
        }
        return hrCoInit;  // the spy must hand on CoInitialize's own result
    }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD currentAptRefs) override {
        if (currentAptRefs == 1) registration.revoke();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }

    InProcessRegistration registration;
    int registrations = 0;

private:
    std::shared_ptr<SimulatorCore> core_;
    std::atomic<long> refs_{0};
};

InitializeSpyRegistration::InitializeSpyRegistration(std::shared_ptr<SimulatorCore> core)
    : spy_(Dravlo::ComRef<Spy>::copy(new Spy(std::move(core)))) {
    result_ = CoRegisterInitializeSpy(spy_.get(), &cookie_);
}

InitializeSpyRegistration::InitializeSpyRegistration(InitializeSpyRegistration&& other) noexcept
    : spy_(std::move(other.spy_)), cookie_(other.cookie_), result_(other.result_) {}

InitializeSpyRegistration::~InitializeSpyRegistration() {
    if (!spy_) return;
    if (SUCCEEDED(result_)) CoRevokeInitializeSpy(cookie_);
    spy_->registration.revoke();
    spy_.reset();
}

bool InitializeSpyRegistration::classesRegistered() const noexcept { return spy_ && spy_->registration.active(); }

int InitializeSpyRegistration::registrations() const noexcept { return spy_ ? spy_->registrations : 0; }

}  // namespace AxisSim
