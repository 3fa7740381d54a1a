// The simulator as tests see it: configuration, log, probes, registration.

#include "simulator/SimulatorCore.h"

namespace AxisSim {

Simulator::Simulator() : core_(std::make_shared<SimulatorCore>()) {}

Simulator::~Simulator() = default;

KindConfig& Simulator::config(Kind kind) { return core_->config(kind); }

CallLog& Simulator::log() { return core_->log; }

long Simulator::liveObjects() const { return core_->liveObjects.load(); }

std::shared_ptr<ObjectProbe> Simulator::collection(Kind kind) const { return core_->latestCollection(kind); }

int Simulator::collectionsCreated(Kind kind) const { return core_->collectionsCreated(kind); }

std::shared_ptr<DeviceProbe> Simulator::device(Kind kind, int index) const { return core_->latestDevice(kind, index); }

HRESULT Simulator::createDriverObject(Kind kind, REFIID iid, void** out) {
    return createCollection(core_, kind, iid, out);
}

HRESULT Simulator::createDevice(Kind kind, int index, IUnknown** out, std::shared_ptr<DeviceProbe>* probe) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    std::shared_ptr<DeviceProbe> made;
    try {
        if (kind == Kind::JogDial)
            *out = createJogDialDevice(core_, index, made).detach();
        else
            *out = createKeyPadDevice(core_, index, made).detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (probe != nullptr) *probe = std::move(made);
    return S_OK;
}

InProcessRegistration Simulator::registerInProcess() { return InProcessRegistration(core_); }

InitializeSpyRegistration Simulator::registerOnInitialize() { return InitializeSpyRegistration(core_); }

}  // namespace AxisSim
