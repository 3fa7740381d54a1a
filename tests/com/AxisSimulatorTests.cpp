// The simulated driver's own behaviour that other tests rely on: fault
// injection, connection points, event delivery and registration.

#include "support/axis/AxisSimulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using AxisSim::Kind;
namespace Dispid = AxisSim::Dispid;

// A minimal event sink: records every Invoke and counts its references. It
// lives on the stack; its owner holds the first reference.
class RecordingSink final : public IDispatch {
public:
    struct Call {
        DISPID dispid;
        std::vector<_variant_t> rgvarg;  // as received: last parameter first
        UINT namedArgs;
        DWORD threadId;
    };

    explicit RecordingSink(const IID& eventIid) : eventIid_(eventIid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        bool wanted =
            riid == IID_IUnknown || (riid == eventIid_ && answerEventIid) || (riid == IID_IDispatch && answerDispatch);
        if (!wanted) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        Call call{dispid, {}, params->cNamedArgs, GetCurrentThreadId()};
        for (UINT i = 0; i < params->cArgs; ++i) call.rgvarg.emplace_back(params->rgvarg[i]);
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        return answer;
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    std::atomic<long> refs{1};
    bool answerEventIid = true;
    bool answerDispatch = true;
    HRESULT answer = S_OK;

private:
    IID eventIid_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Connection point of a device made straight from the simulator (no COM
// registration needed).
class AxisSimulatorEvents : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, sim.createDevice(Kind::JogDial, 0, &device, &probe));
        IConnectionPointContainer* container = nullptr;
        ASSERT_EQ(S_OK, device->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IAxisJogDialEvents, &point));
        container->Release();
    }
    void TearDown() override {
        if (point != nullptr) point->Release();
        if (device != nullptr) device->Release();
        EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump();
        EXPECT_EQ(1, sink.refs.load());
        EXPECT_EQ(1, second.refs.load());
    }

    AxisSim::Simulator sim;
    IUnknown* device = nullptr;
    IConnectionPoint* point = nullptr;
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    RecordingSink sink{DIID__IAxisJogDialEvents};
    RecordingSink second{DIID__IAxisJogDialEvents};
};

TEST_F(AxisSimulatorEvents, Fire_ReversesArgumentsOnCallingThread) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(2, sink.refs.load());
    sink.answer = S_FALSE;

    EXPECT_EQ(std::vector<HRESULT>{S_FALSE}, probe->fire(Dispid::JogMove, AxisSim::intArgs({7, -3})));
    EXPECT_EQ(std::vector<HRESULT>{S_FALSE}, probe->fire(Dispid::Error, AxisSim::errorArgs(7, 42, L"lost")));

    auto calls = sink.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(Dispid::JogMove, calls[0].dispid);
    ASSERT_EQ(2u, calls[0].rgvarg.size());
    EXPECT_EQ(VT_I4, calls[0].rgvarg[0].vt);
    EXPECT_EQ(-3, calls[0].rgvarg[0].lVal);
    EXPECT_EQ(7, calls[0].rgvarg[1].lVal);
    EXPECT_EQ(GetCurrentThreadId(), calls[0].threadId);
    ASSERT_EQ(3u, calls[1].rgvarg.size());
    ASSERT_EQ(VT_BSTR, calls[1].rgvarg[0].vt);
    EXPECT_STREQ(L"lost", calls[1].rgvarg[0].bstrVal);
    EXPECT_EQ(42, calls[1].rgvarg[1].lVal);
    EXPECT_EQ(7, calls[1].rgvarg[2].lVal);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, FireOnNewThread_DeliversFromAnotherThread) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, probe->fireOnNewThread(Dispid::ButtonDown, AxisSim::intArgs({1, 5})));
    auto calls = sink.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(GetCurrentThreadId(), calls[0].threadId);
    EXPECT_EQ(5, calls[0].rgvarg[0].lVal);
    EXPECT_EQ(1, calls[0].rgvarg[1].lVal);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, FireRaw_PassesParamsUnchanged) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    _variant_t args[2] = {_variant_t(L"12"), _variant_t(3L)};
    DISPID named[1] = {0};
    DISPPARAMS params{args, named, 2, 1};
    EXPECT_EQ(1u, probe->fireRawOnNewThread(Dispid::ButtonUp, params).size());
    auto calls = sink.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(1u, calls[0].namedArgs);
    ASSERT_EQ(VT_BSTR, calls[0].rgvarg[0].vt);
    EXPECT_STREQ(L"12", calls[0].rgvarg[0].bstrVal);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(AxisSimulatorEvents, TwoSinks_DistinctCookies_UnadviseEndsDelivery) {
    DWORD first = 0, other = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &first));
    second.answerEventIid = false;  // reached through IDispatch instead
    ASSERT_EQ(S_OK, point->Advise(&second, &other));
    EXPECT_NE(0u, other);
    EXPECT_NE(first, other);
    EXPECT_EQ((std::vector<DWORD>{first, other}), probe->cookies());
    EXPECT_EQ(2u, probe->fire(Dispid::ButtonUp, AxisSim::intArgs({0, 1})).size());

    EXPECT_EQ(S_OK, point->Unadvise(first));
    EXPECT_EQ(1, sink.refs.load());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(first));
    EXPECT_EQ(1u, probe->fire(Dispid::ButtonUp, AxisSim::intArgs({0, 1})).size());
    EXPECT_EQ(1u, sink.calls().size());
    EXPECT_EQ(2u, second.calls().size());
    EXPECT_TRUE(sim.log().inOrder({"JogDialDevice#0.Advise(1)", "JogDialDevice#0.Advise(2)",
                                   "JogDialDevice#0.Unadvise(1)", "JogDialDevice#0.Unadvise(1)->0x80040200"}))
        << sim.log().dump();
    EXPECT_EQ(S_OK, point->Unadvise(other));
}

TEST_F(AxisSimulatorEvents, UnadviseDuringDeliveryFromOtherThread_NoEventAfterReturn) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    std::atomic<bool> stop{false};
    std::thread firing([&] {
        while (!stop) probe->fire(Dispid::JogMove, AxisSim::intArgs({0, 1}));
    });
    while (sink.calls().size() < 50) Sleep(0);
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    std::size_t delivered = sink.calls().size();
    Sleep(20);
    stop = true;
    firing.join();
    EXPECT_EQ(delivered, sink.calls().size());
}

TEST_F(AxisSimulatorEvents, AdviseFaults_HoldNothing) {
    DWORD cookie = 77;
    sink.answerEventIid = sink.answerDispatch = false;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&sink, &cookie));
    EXPECT_EQ(0u, cookie);
    sink.answerDispatch = true;
    sim.config(Kind::JogDial).adviseResult = CONNECT_E_ADVISELIMIT;
    cookie = 77;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, point->Advise(&sink, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(1, sink.refs.load());
}

TEST_F(AxisSimulatorEvents, UnadviseFault_KeepsSinkUntilDeviceDies) {
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    sim.config(Kind::JogDial).unadviseResult = E_FAIL;
    EXPECT_EQ(E_FAIL, point->Unadvise(cookie));
    EXPECT_EQ(1u, probe->sinkCount());
    // The dying device drops its connections; the point outlives it detached.
    device->Release();
    device = nullptr;
    EXPECT_FALSE(probe->alive());
    EXPECT_EQ(1, sink.refs.load());
    EXPECT_TRUE(probe->connectionPoint().alive());
    IConnectionPointContainer* container = reinterpret_cast<IConnectionPointContainer*>(1);
    EXPECT_EQ(E_UNEXPECTED, point->GetConnectionPointContainer(&container));
    EXPECT_EQ(nullptr, container);
}

TEST(AxisSimulatorDevice, ConnectionPointsServeTheirKindOnly) {
    AxisSim::Simulator sim;
    IUnknown* keypad = nullptr;
    ASSERT_EQ(S_OK, sim.createDevice(Kind::KeyPad, 4, &keypad));
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(S_OK, keypad->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IConnectionPoint* point = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(DIID__IAxisJogDialEvents, &point));
    EXPECT_EQ(nullptr, point);
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IAxisKeyPadEvents, &point));
    IID served{};
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&served));
    EXPECT_EQ(DIID__IAxisKeyPadEvents, served);
    point->Release();
    container->Release();

    sim.config(Kind::KeyPad).connectionPointContainer = false;
    EXPECT_EQ(E_NOINTERFACE,
              keypad->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    keypad->Release();
    EXPECT_TRUE(sim.log().contains("KeyPadDevice#4.Release->0"));
    EXPECT_EQ(0, sim.liveObjects());
}

}  // namespace
