// The jog dial receiver on a simulated device: which records its listeners
// get for each event, in what order, what dispatch answers, and what the
// device sees from construction to destruction.

#include "jogdial/JogDial.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <thread>

#include "tests/driver/ReceiverTestSupport.h"

namespace {

using namespace DriverTests;
using AxisSim::errorArgs;
using AxisSim::intArgs;
using Dravlo::ComRef;
using Dravlo::JogDial;
namespace Dispid = AxisSim::Dispid;
using Listener = RecordingNativeListener;

class JogDialReceiver : public ReceiverTest<IJogDialCollection, IJogDialDevice> {};

TEST_F(JogDialReceiver, DeviceEvents_BecomeRecordsOnlyOnceListenersExist) {
    JogDial receiver(takeDevice());
    receiver.open();
    auto device = probe();
    EXPECT_EQ(1u, device->sinkCount());
    EXPECT_EQ(1, moduleLockCount()) << "five events, one node, one sink";
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fire(Dispid::ButtonDown, intArgs({1, 3})));
    EXPECT_TRUE(log->heard().empty()) << "no listener yet: the event vanishes";

    Listener listener(log);
    receiver.addKeyListener(&listener);
    receiver.addDialListener(&listener);
    const auto callsBefore = sim.log().entries();
    for (auto [dispid, args] : std::vector<std::pair<DISPID, std::vector<_variant_t>>>{
             {Dispid::ButtonDown, intArgs({1, 3})},
             {Dispid::ButtonUp, intArgs({1, 3})},
             {Dispid::ShuttleMove, intArgs({1, -7})},
             {Dispid::JogMove, intArgs({1, -1})},
             {Dispid::JogMove, intArgs({2, 0})},
             {Dispid::JogMove, intArgs({2, 5})},
             {Dispid::JogMove, intArgs({-4, INT_MIN})},
             {Dispid::Error, errorArgs(1, 42, L"jammed")},
         })
        EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fire(dispid, args)) << dispid;
    const std::vector<Heard> expected = {
        Listener::key(&listener, 1, 3, 0),      Listener::key(&listener, 1, 3, 1),
        Listener::dial(&listener, 1, -7, 0, 0), Listener::dial(&listener, 1, 0, 1, 1),
        Listener::dial(&listener, 2, 0, 0, 1),  Listener::dial(&listener, 2, 0, 0, 1),
        Listener::dial(&listener, -4, 0, 1, 1),
    };
    EXPECT_EQ(expected, log->heard()) << "the error event reaches nobody";
    EXPECT_EQ(callsBefore, sim.log().entries()) << "events never touch the device";
}

TEST_F(JogDialReceiver, Listeners_CalledOnceEachInAddressOrderOnTheEventThread) {
    Listener listeners[2] = {Listener(log), Listener(log)};
    JogDial receiver(takeDevice());
    receiver.open();
    for (Listener* listener : {&listeners[1], &listeners[0], &listeners[1]}) {
        receiver.addKeyListener(listener);
        receiver.addDialListener(listener);
    }
    probe()->fire(Dispid::ButtonUp, intArgs({0, 9}));
    probe()->fireOnNewThread(Dispid::ShuttleMove, intArgs({0, 12}));
    const std::vector<Heard> expected = {
        Listener::key(&listeners[0], 0, 9, 1),
        Listener::key(&listeners[1], 0, 9, 1),
        Listener::dial(&listeners[0], 0, 12, 0, 0),
        Listener::dial(&listeners[1], 0, 12, 0, 0),
    };
    EXPECT_EQ(expected, log->heard());
    auto threads = log->threads();
    ASSERT_EQ(4u, threads.size());
    EXPECT_EQ(std::this_thread::get_id(), threads[0]);
    EXPECT_NE(std::this_thread::get_id(), threads[2]);
    EXPECT_EQ(threads[2], threads[3]);
}

TEST_F(JogDialReceiver, DispatchWithoutHandler_TouchesNothing) {
    Listener listener(log);
    JogDial receiver(takeDevice());
    receiver.open();
    receiver.addKeyListener(&listener);
    receiver.addDialListener(&listener);
    const auto callsBefore = sim.log().entries();
    for (int code : {9, 10, 13, 3, -2}) EXPECT_EQ(E_FAIL, receiver.dispatch(code, 1, 2, nullptr)) << code;
    EXPECT_EQ(S_FALSE, receiver.dispatch(-1, 1, 2, nullptr));
    EXPECT_EQ(S_OK, receiver.dispatch(JogDial::ErrorCode, 1, 2, nullptr));
    EXPECT_TRUE(log->heard().empty());
    EXPECT_EQ(callsBefore, sim.log().entries());
}

TEST_F(JogDialReceiver, StartStopAndDestruction_ReachTheDeviceInOrder) {
    {
        JogDial receiver(takeDevice());
        receiver.open();
        receiver.start();
        receiver.stop();
        EXPECT_EQ(1u, probe()->sinkCount()) << "a stopped receiver stays connected";
        EXPECT_EQ(1, moduleLockCount());
    }
    const std::string device = prefix();
    EXPECT_TRUE(sim.log().inOrder({device + "Start", device + "Stop", device + "Unadvise(1)", device + "Stop",
                                   device + "Close", device + "Release->0"}))
        << sim.log().dump();
    EXPECT_EQ(1u, sim.log().countPrefix(device + "Unadvise")) << "the last of the five unhooks disconnects";
    EXPECT_EQ(0u, probe()->sinkCount());
    EXPECT_EQ(0, probe()->refCount());
}

TEST_F(JogDialReceiver, DeviceThatCannotConnect_NeverDeliversAndStillCloses) {
    sim.config(AxisSim::Kind::JogDial).adviseResult = CONNECT_E_ADVISELIMIT;
    Listener listener(log);
    {
        JogDial receiver(takeDevice());
        receiver.open();
        receiver.addKeyListener(&listener);
        EXPECT_EQ(0u, probe()->sinkCount());
        EXPECT_TRUE(probe()->fire(Dispid::ButtonDown, intArgs({0, 1})).empty());
    }
    EXPECT_EQ(0u, sim.log().countPrefix(prefix() + "Unadvise")) << sim.log().dump();
    EXPECT_TRUE(sim.log().inOrder({prefix() + "Stop", prefix() + "Close", prefix() + "Release->0"}))
        << sim.log().dump();
    EXPECT_TRUE(log->heard().empty());
}

TEST_F(JogDialReceiver, NullDevice_HooksNothingAndMakesNoComCall) {
    Listener listener(log);
    {
        JogDial receiver(ComRef<IJogDialDevice>{});
        EXPECT_EQ(0, moduleLockCount());
        receiver.addDialListener(&listener);
        receiver.start();
        receiver.stop();
        EXPECT_EQ(S_OK, receiver.dispatch(JogDial::JogMoveCode, 3, -2, nullptr));
    }
    EXPECT_EQ((std::vector<Heard>{Listener::dial(&listener, 3, 0, 1, 1)}), log->heard());
    EXPECT_TRUE(sim.log().entries().empty()) << sim.log().dump();
}

TEST_F(JogDialReceiver, EventsWhileTheReceiverIsBuilt_FindItWhole) {
    // The device fires without pause while receivers are built on it and
    // destroyed again; an event may reach a sink as soon as it is connected.
    const ComRef<IJogDialDevice> device = takeDevice();
    auto source = probe();
    std::atomic<bool> done{false};
    std::atomic<int> fired{0}, delivered{0};
    std::thread firing([&] {
        for (; !done; ++fired)
            if (!source->fire(Dispid::ButtonDown, intArgs({0, 1})).empty()) ++delivered;
    });
    while (fired == 0) std::this_thread::yield();
    Listener listener(log);
    // Each receiver is built in memory full of garbage, so a member used
    // before it is built fails loudly rather than look like an empty one.
    alignas(JogDial) unsigned char memory[sizeof(JogDial)];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int round = 0; round < 2000 || (delivered < 1000 && std::chrono::steady_clock::now() < deadline); ++round) {
        std::memset(memory, 0xA5, sizeof memory);
        auto* receiver = new (memory) JogDial(ComRef<IJogDialDevice>::copy(device.get()));
        if (round % 2 == 0) receiver->addKeyListener(&listener);
        receiver->open();
        receiver->~JogDial();
    }
    done = true;
    firing.join();
    EXPECT_GT(delivered.load(), 0) << "the events never overlapped a receiver";
    for (const Heard& heard : log->heard()) EXPECT_EQ(Listener::key(&listener, 0, 1, 0), heard);
}

}  // namespace
