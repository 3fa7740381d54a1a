// Simulated driver objects: the jog dial and keypad collections. The object
// CoCreateInstance makes is the collection itself; it also implements
// IRunnableObject so that OleRun reaches it (and can be made to fail).

#include "simulator/SimulatorCore.h"

#include <algorithm>
#include <new>

namespace AxisSim {
namespace {

template <class Traits>
class CollectionObject final : public Traits::Collection, public IRunnableObject {
public:
    using Device = typename Traits::Device;

    explicit CollectionObject(std::shared_ptr<SimulatorCore> core)
        : core_(std::move(core)), probe_(std::make_shared<ObjectProbe>(Traits::collectionName)) {
        ++core_->liveObjects;
        std::vector<std::shared_ptr<DeviceProbe>> probes;
        // Reserved, so that every device made is in both lists: each one tells
        // gone() when destroyed, and made() has to come first.
        const auto count = static_cast<std::size_t>(std::max(config().deviceCount, 0));
        devices_.reserve(count);
        probes.reserve(count);
        try {
            for (int i = 0; i < config().deviceCount; ++i) {
                std::shared_ptr<DeviceProbe> probe;
                devices_.push_back(createDevice(Traits{}, core_, i, probe));
                probes.push_back(std::move(probe));
            }
            core_->recordCollection(Traits::kind, probe_, probes);
        } catch (...) {
            tellMade(probes);  // those made go now, each telling gone()
            throw;
        }
        // Told only now that they are the latest of their kind: an observer
        // that looks them up (the panel draws device 0) finds these.
        tellMade(probes);
    }
    ~CollectionObject() {
        devices_.clear();
        probe_->markDestroyed();
        --core_->liveObjects;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<typename Traits::Collection*>(this));
        } else if (riid == __uuidof(typename Traits::Collection)) {
            record("QueryInterface(", Traits::collectionInterfaceName, ")");
            if (!config().collectionInterface) return E_NOINTERFACE;
            *ppv = static_cast<typename Traits::Collection*>(this);
        } else if (riid == IID_IRunnableObject) {
            *ppv = static_cast<IRunnableObject*>(this);
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

    HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
        record("GetCount");
        if (count == nullptr) return E_POINTER;
        HRESULT fault = config().getCountResult;
        if (FAILED(fault)) return fault;
        *count = static_cast<int>(devices_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetItem(int index, Device** device) override {
        record("GetItem(", index, ")");
        if (device == nullptr) return E_POINTER;
        *device = nullptr;
        if (config().getItemNull) return config().getItemNullResult;
        if (index < 0 || static_cast<std::size_t>(index) >= devices_.size()) return E_INVALIDARG;
        *device = devices_[static_cast<std::size_t>(index)].get();
        (*device)->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID clsid) override {
        if (clsid == nullptr) return E_POINTER;
        *clsid = classIdOf(Traits::kind);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override {
        record("Run");
        return config().runResult;
    }
    BOOL STDMETHODCALLTYPE IsRunning() override { return TRUE; }
    HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }

private:
    KindConfig& config() { return core_->config(Traits::kind); }
    void tellMade(const std::vector<std::shared_ptr<DeviceProbe>>& probes) noexcept {
        if (!core_->observer) return;
        for (const auto& probe : probes) core_->observer->made(core_, probe);
    }
    template <class... Pieces>
    void record(const Pieces&... pieces) noexcept {
        core_->log.note(probe_->name(), ".", pieces...);
    }
    HRESULT unused(const char* slot) noexcept {
        record(slot);
        return E_NOTIMPL;
    }

    std::shared_ptr<SimulatorCore> core_;
    std::shared_ptr<ObjectProbe> probe_;
    std::vector<Dravlo::ComRef<Device>> devices_;
};

template <class Traits>
HRESULT createCollectionOf(const std::shared_ptr<SimulatorCore>& core, REFIID iid, void** out) {
    const auto collection = Dravlo::ComRef<CollectionObject<Traits>>::copy(new CollectionObject<Traits>(core));
    return collection->QueryInterface(iid, out);
}

}  // namespace

HRESULT createCollection(const std::shared_ptr<SimulatorCore>& core, Kind kind, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!core->config(kind).registered) return REGDB_E_CLASSNOTREG;
    try {
        return kind == Kind::JogDial ? createCollectionOf<JogDialTraits>(core, iid, out)
                                     : createCollectionOf<KeyPadTraits>(core, iid, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;  // nothing leaves a COM method as an exception
    }
}

}  // namespace AxisSim
