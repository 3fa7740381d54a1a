// The eventing base against the simulated driver's connection points: which
// hooks make nodes and connections, what unhook disconnects, and how failed
// Advise and Unadvise calls are left.

#include "tests/com/SinkTestSupport.h"

#include <type_traits>

#include "com/SinkSupport.h"

namespace {

using namespace SinkTests;
using AxisSim::Kind;
using Dravlo::__Impl__IAxisJogDialEvents;
using Dravlo::__Impl__IAxisKeyPadEvents;
using Dravlo::ComRef;
using JogSink = __Impl__IAxisJogDialEvents;
using KeySink = __Impl__IAxisKeyPadEvents;

// The base owns its nodes, and each node its sink and connection: a copy of
// either would free them twice.
static_assert(!std::is_copy_constructible_v<Dravlo::__ComEventingImpl<RecordingReceiver>> &&
              !std::is_copy_assignable_v<Dravlo::__ComEventingImpl<RecordingReceiver>>);

class Eventing : public SinkFixture {
protected:
    // A lone device of `kind` as event source, with its probe.
    ComRef<IUnknown> makeDevice(Kind kind, std::shared_ptr<AxisSim::DeviceProbe>& probe, int index = 0) {
        ComRef<IUnknown> device;
        EXPECT_EQ(S_OK, sim.createDevice(kind, index, device.put(), &probe));
        return device;
    }
    // The five jog dial events bound to codes 4..8, as the jog dial receiver does.
    void hookJogDial(RecordingReceiver& receiver, IUnknown* device) {
        for (int index = 0; index < 5; ++index)
            EXPECT_EQ(S_OK, receiver.hook<JogSink>(&receiver, index + 4, device, index, 5)) << index;
    }
    void unhookJogDial(RecordingReceiver& receiver, IUnknown* device) {
        for (int index = 0; index < 5; ++index)
            EXPECT_EQ(S_OK, receiver.unhook<JogSink>(&receiver, device, index)) << index;
    }
};

TEST_F(Eventing, FiveEventsOfOneSource_ShareOneNodeAndConnection) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::JogDial, probe);
    {
        RecordingReceiver receiver;
        hookJogDial(receiver, device.get());
        EXPECT_EQ(1u, probe->sinkCount());
        EXPECT_EQ(1u, sim.log().countPrefix("JogDialDevice#0.Advise")) << sim.log().dump();
        // A driver asking the sink for its type information at Advise gets the dispinterface.
        EXPECT_TRUE(
            sim.log().inOrder({"JogDialDevice#0.Advise(1)", "JogDialDevice#0.SinkTypeInfo(_IAxisJogDialEvents)"}))
            << sim.log().dump();
        EXPECT_EQ(1, lockCount());
        EXPECT_EQ(std::vector<HRESULT>{S_OK}, probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({1, 3})));
        probe->fire(AxisSim::Dispid::ButtonUp, AxisSim::intArgs({1, 3}));
        probe->fire(AxisSim::Dispid::ShuttleMove, AxisSim::intArgs({1, -7}));
        probe->fire(AxisSim::Dispid::JogMove, AxisSim::intArgs({1, -1}));
        probe->fire(AxisSim::Dispid::Error, AxisSim::errorArgs(1, 42, L"paper jam"));
        const std::vector<Dispatched> expected = {
            {4, 1, 3, std::nullopt},  {5, 1, 3, std::nullopt},  {6, 1, -7, std::nullopt},
            {7, 1, -1, std::nullopt}, {8, 1, 42, L"paper jam"},
        };
        EXPECT_EQ(expected, receiver.calls());

        const long withNode = probe->refCount();
        unhookJogDial(receiver, device.get());
        EXPECT_EQ(0u, probe->sinkCount());
        EXPECT_EQ(1u, sim.log().countPrefix("JogDialDevice#0.Unadvise")) << sim.log().dump();
        EXPECT_EQ(withNode - 1, probe->refCount()) << "the node kept its source";
        EXPECT_EQ(1, lockCount()) << "the node keeps its sink until the base goes";
    }
    EXPECT_EQ(0, lockCount());
}

TEST_F(Eventing, OneEventBoundTwice_MakesTwoNodesAndReachesBothCodes) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::KeyPad, probe);
    RecordingReceiver receiver;
    EXPECT_EQ(S_OK, receiver.hook<KeySink>(&receiver, 4, device.get(), 0, 3));
    EXPECT_EQ(S_OK, receiver.hook<KeySink>(&receiver, 9, device.get(), 0, 3));
    EXPECT_EQ(2u, probe->sinkCount());
    EXPECT_EQ(2, lockCount());
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK}), probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({2, 5})));
    EXPECT_EQ((std::vector<Dispatched>{{4, 2, 5, std::nullopt}, {9, 2, 5, std::nullopt}}), receiver.calls());

    EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 0));
    EXPECT_EQ(1u, probe->sinkCount());
    EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 0));
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(E_FAIL, receiver.unhook<KeySink>(&receiver, device.get(), 0));
}

TEST_F(Eventing, UnboundEventOfConnectedNode_DispatchesMinusOne) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::KeyPad, probe);
    RecordingReceiver receiver;
    EXPECT_EQ(S_OK, receiver.hook<KeySink>(&receiver, 4, device.get(), 0, 3));
    EXPECT_EQ(S_OK, receiver.hook<KeySink>(&receiver, 6, device.get(), 2, 3));
    EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 0));
    EXPECT_EQ(1u, probe->sinkCount());
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({2, 5})));
    EXPECT_EQ(std::vector<HRESULT>{DISP_E_MEMBERNOTFOUND},
              probe->fire(AxisSim::Dispid::ShuttleMove, AxisSim::intArgs({2, 5})));
    EXPECT_EQ((std::vector<Dispatched>{{-1, 2, 5, std::nullopt}}), receiver.calls());
    EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 2));
}

TEST_F(Eventing, UnhookOfUnboundEvent_FailsAndChangesNothing) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::JogDial, probe);
    RecordingReceiver receiver;
    EXPECT_EQ(E_FAIL, receiver.unhook<JogSink>(&receiver, device.get(), 2));
    EXPECT_EQ(S_OK, receiver.hook<JogSink>(&receiver, 4, device.get(), 0, 5));
    EXPECT_EQ(E_FAIL, receiver.unhook<JogSink>(&receiver, device.get(), 1));
    RecordingReceiver stranger;
    EXPECT_EQ(E_FAIL, receiver.unhook<JogSink>(&stranger, device.get(), 0));
    EXPECT_EQ(E_FAIL, receiver.unhook<KeySink>(&receiver, device.get(), 0));
    EXPECT_EQ(1u, probe->sinkCount());
    probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1}));
    EXPECT_EQ((std::vector<Dispatched>{{4, 0, 1, std::nullopt}}), receiver.calls());
    EXPECT_EQ(S_OK, receiver.unhook<JogSink>(&receiver, device.get(), 0));
}

TEST_F(Eventing, FailedAdvise_KeepsBindingUnconnectedAndIsRetriedByNextHook) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::JogDial, probe);
    RecordingReceiver receiver;
    sim.config(Kind::JogDial).adviseResult = CONNECT_E_ADVISELIMIT;
    sim.config(Kind::JogDial).adviseFailureCookie = 77;  // written before the failure
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, receiver.hook<JogSink>(&receiver, 4, device.get(), 0, 5));
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(1, lockCount());
    sim.config(Kind::JogDial).adviseResult = S_OK;
    EXPECT_EQ(S_OK, receiver.hook<JogSink>(&receiver, 7, device.get(), 3, 5));
    EXPECT_EQ(1u, probe->sinkCount());
    EXPECT_EQ(1, lockCount()) << "the retry made a second node";
    probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1}));
    probe->fire(AxisSim::Dispid::JogMove, AxisSim::intArgs({0, 2}));
    EXPECT_EQ((std::vector<Dispatched>{{4, 0, 1, std::nullopt}, {7, 0, 2, std::nullopt}}), receiver.calls());
    EXPECT_EQ(S_OK, receiver.unhook<JogSink>(&receiver, device.get(), 0));
    EXPECT_EQ(S_OK, receiver.unhook<JogSink>(&receiver, device.get(), 3));
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(0u, sim.log().countPrefix("JogDialDevice#0.Unadvise(77)")) << sim.log().dump();
}

TEST_F(Eventing, SourceWithoutContainer_BindsUnconnectedAndUnhooksWithoutUnadvise) {
    sim.config(Kind::KeyPad).connectionPointContainer = false;
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::KeyPad, probe);
    const long before = probe->refCount();
    {
        RecordingReceiver receiver;
        EXPECT_EQ(E_NOINTERFACE, receiver.hook<KeySink>(&receiver, 4, device.get(), 0, 3));
        EXPECT_EQ(E_NOINTERFACE, receiver.hook<KeySink>(&receiver, 5, device.get(), 1, 3));
        EXPECT_EQ(1, lockCount());
        EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 0));
        EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 1));
        EXPECT_EQ(0u, sim.log().countPrefix("KeyPadDevice#0.Unadvise")) << sim.log().dump();
        EXPECT_EQ(before + 1, probe->refCount()) << "an unconnected node keeps its source until it is freed";
    }
    EXPECT_EQ(before, probe->refCount());
}

TEST_F(Eventing, FailedUnadvise_KeepsCookieAndSource) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::JogDial, probe);
    RecordingReceiver receiver;
    EXPECT_EQ(S_OK, receiver.hook<JogSink>(&receiver, 4, device.get(), 0, 5));
    const std::vector<DWORD> cookies = probe->cookies();
    const long withNode = probe->refCount();
    sim.config(Kind::JogDial).unadviseResult = E_UNEXPECTED;
    EXPECT_EQ(E_UNEXPECTED, receiver.unhook<JogSink>(&receiver, device.get(), 0));
    EXPECT_EQ(cookies, probe->cookies());
    EXPECT_EQ(withNode, probe->refCount());
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1})));
    EXPECT_EQ((std::vector<Dispatched>{{-1, 0, 1, std::nullopt}}), receiver.calls());
    // The same node is found again, and the kept cookie disconnects it.
    sim.config(Kind::JogDial).unadviseResult = S_OK;
    EXPECT_EQ(S_OK, receiver.unhook<JogSink>(&receiver, device.get(), 0));
    EXPECT_TRUE(sim.log().contains("JogDialDevice#0.Unadvise(" + std::to_string(cookies.at(0)) + ")"))
        << sim.log().dump();
    EXPECT_EQ(0u, probe->sinkCount());
    EXPECT_EQ(withNode - 1, probe->refCount());
}

TEST_F(Eventing, HookAfterDisconnect_MakesFreshNode) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::JogDial, probe);
    RecordingReceiver receiver;
    hookJogDial(receiver, device.get());
    unhookJogDial(receiver, device.get());
    hookJogDial(receiver, device.get());
    EXPECT_EQ(1u, probe->sinkCount());
    EXPECT_EQ(2u, sim.log().countPrefix("JogDialDevice#0.Advise")) << sim.log().dump();
    EXPECT_EQ(2, lockCount()) << "the disconnected node stays in the list";
    probe->fire(AxisSim::Dispid::JogMove, AxisSim::intArgs({0, 3}));
    EXPECT_EQ((std::vector<Dispatched>{{7, 0, 3, std::nullopt}}), receiver.calls());
    unhookJogDial(receiver, device.get());
}

TEST_F(Eventing, SourcesAndReceivers_EachGetTheirOwnNode) {
    std::shared_ptr<AxisSim::DeviceProbe> probe0, probe1;
    auto device0 = makeDevice(Kind::JogDial, probe0, 0);
    auto device1 = makeDevice(Kind::JogDial, probe1, 1);
    auto log = std::make_shared<DispatchLog>();
    RecordingReceiver first(log), second(log);
    EXPECT_EQ(S_OK, first.hook<JogSink>(&first, 4, device0.get(), 0, 5));
    EXPECT_EQ(S_OK, first.hook<JogSink>(&first, 14, device1.get(), 0, 5));
    EXPECT_EQ(S_OK, second.hook<JogSink>(&second, 24, device0.get(), 0, 5));
    // Another interface pointer of the same device is the same source.
    ComRef<IConnectionPointContainer> sameDevice;
    ASSERT_EQ(S_OK, device0->QueryInterface(IID_IConnectionPointContainer, sameDevice.putVoid()));
    EXPECT_EQ(S_OK, first.hook<JogSink>(&first, 5, sameDevice.get(), 1, 5));
    EXPECT_EQ(2u, probe0->sinkCount());
    EXPECT_EQ(1u, probe1->sinkCount());
    probe0->fire(AxisSim::Dispid::ButtonUp, AxisSim::intArgs({0, 2}));
    probe1->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({1, 2}));
    const std::vector<Dispatched> expected = {
        {5, 0, 2, std::nullopt}, {-1, 0, 2, std::nullopt}, {14, 1, 2, std::nullopt}};
    EXPECT_EQ(expected, log->calls());
    EXPECT_EQ(S_OK, first.unhook<JogSink>(&first, device0.get(), 0));
    EXPECT_EQ(S_OK, first.unhook<JogSink>(&first, sameDevice.get(), 1));
    EXPECT_EQ(S_OK, first.unhook<JogSink>(&first, device1.get(), 0));
    EXPECT_EQ(S_OK, second.unhook<JogSink>(&second, device0.get(), 0));
    EXPECT_EQ(0u, probe0->sinkCount() + probe1->sinkCount());
}

TEST_F(Eventing, NullOrOutOfRangeArguments_AreRefused) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::KeyPad, probe);
    RecordingReceiver receiver;
    EXPECT_EQ(E_FAIL, receiver.hook<KeySink>(&receiver, 4, nullptr, 0, 3));
    EXPECT_EQ(E_FAIL, receiver.hook<KeySink>(nullptr, 4, device.get(), 0, 3));
    EXPECT_EQ(E_INVALIDARG, receiver.hook<KeySink>(&receiver, 4, device.get(), 3, 3));
    EXPECT_EQ(E_INVALIDARG, receiver.hook<KeySink>(&receiver, 4, device.get(), -1, 3));
    EXPECT_EQ(0, lockCount());
    EXPECT_EQ(S_OK, receiver.hook<KeySink>(&receiver, 4, device.get(), 1, 2));
    // A larger count than the node was made with must not reach past its codes.
    EXPECT_EQ(E_INVALIDARG, receiver.hook<KeySink>(&receiver, 6, device.get(), 2, 3));
    EXPECT_EQ(E_FAIL, receiver.unhook<KeySink>(&receiver, device.get(), 2));
    EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 1));
}

TEST_F(Eventing, EventsFromAnotherThread_ReachTheReceiver) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::KeyPad, probe);
    RecordingReceiver receiver;
    EXPECT_EQ(S_OK, receiver.hook<KeySink>(&receiver, 6, device.get(), 2, 3));
    EXPECT_EQ(std::vector<HRESULT>{S_OK},
              probe->fireOnNewThread(AxisSim::Dispid::Error, AxisSim::errorArgs(3, 9, L"cold")));
    EXPECT_EQ((std::vector<Dispatched>{{6, 3, 9, L"cold"}}), receiver.calls());
    EXPECT_EQ(S_OK, receiver.unhook<KeySink>(&receiver, device.get(), 2));
}

TEST_F(Eventing, ReceiverGoneWhileConnected_SinkDropsLaterEvents) {
    std::shared_ptr<AxisSim::DeviceProbe> probe;
    auto device = makeDevice(Kind::JogDial, probe);
    auto log = std::make_shared<DispatchLog>();
    {
        RecordingReceiver receiver(log);
        EXPECT_EQ(S_OK, receiver.hook<JogSink>(&receiver, 4, device.get(), 0, 5));
    }
    EXPECT_EQ(1, lockCount()) << "the connection point still holds the sink";
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, probe->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1})));
    EXPECT_TRUE(log->calls().empty());
    device.reset();  // the device releases the sink it still holds
}

TEST_F(Eventing, DeviceInterfaceSource_PicksItsSink) {
    ComRef<IJogDialCollection> collection;
    ASSERT_EQ(S_OK, sim.createDriverObject(Kind::JogDial, __uuidof(IJogDialCollection), collection.putVoid()));
    ComRef<IJogDialDevice> device;
    ASSERT_EQ(S_OK, collection->GetItem(0, device.put()));
    ASSERT_TRUE(device);
    RecordingReceiver receiver;
    for (int index = 0; index < 5; ++index)
        EXPECT_EQ(S_OK, receiver.hook(&receiver, index + 4, device.get(), index, 5));
    auto probe = sim.jogDialDevice(0);
    ASSERT_TRUE(probe);
    EXPECT_TRUE(IsEqualIID(DIID__IAxisJogDialEvents, probe->eventIid()));
    EXPECT_EQ(1u, probe->sinkCount());
    probe->fire(AxisSim::Dispid::ShuttleMove, AxisSim::intArgs({0, 4}));
    EXPECT_EQ((std::vector<Dispatched>{{6, 0, 4, std::nullopt}}), receiver.calls());
    for (int index = 0; index < 5; ++index) EXPECT_EQ(S_OK, receiver.unhook(&receiver, device.get(), index));
    EXPECT_EQ(0u, probe->sinkCount());
}

}  // namespace
