#pragma once
// What the jog dial and keypad drivers have in common, as Java sees it
// through the exports: the life cycle of initialise and uninitialise, the
// COM balance on the calling thread, and key events reaching the Java key
// listener. A test program instantiates the suite with its natives table:
//   INSTANTIATE_TYPED_TEST_SUITE_P(JogDial, DriverLifecycle, JogDialNatives);

#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bridge/Messages.h"
#include "tests/driver/DriverTestSupport.h"

namespace DriverTests {

template <class Natives>
class DriverLifecycle : public DriverTest<Natives> {
protected:
    std::string collectionAt() const { return this->sim.collection(Natives::kind)->name() + "."; }
};

TYPED_TEST_SUITE_P(DriverLifecycle);

TYPED_TEST_P(DriverLifecycle, BeforeInitialize_CountIsZeroAndUninitializeOnlyReleasesListeners) {
    StandIn::RecordingListener listener(this->vm);
    const std::size_t globals = this->vm.liveGlobalRefs();
    EXPECT_EQ(0, this->deviceCount());
    EXPECT_FALSE(this->registerKeyListener(&listener));
    EXPECT_EQ(globals + 1, this->vm.liveGlobalRefs());
    EXPECT_FALSE(this->uninitialize());
    EXPECT_EQ(globals, this->vm.liveGlobalRefs());
    EXPECT_TRUE(this->com->initializeResults().empty());
    EXPECT_EQ(0, this->com->uninitializeCalls()) << "no COM call";
    EXPECT_EQ(0, this->sim.collectionsCreated(TypeParam::kind));
    EXPECT_EQ(0, this->deviceCount());
}

TYPED_TEST_P(DriverLifecycle, NoComponent_FailsKeepsCountAndRetriesAfterCleanUninitialize) {
    this->config().deviceCount = 3;
    ASSERT_FALSE(this->initialize());
    ASSERT_FALSE(this->uninitialize());
    this->config().registered = false;
    StandIn::RecordingListener listener(this->vm);
    const std::size_t globals = this->vm.liveGlobalRefs();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(this->registerKeyListener(&listener));
        EXPECT_EQ(ioException(TypeParam::initFailed), this->initialize()) << attempt;
        EXPECT_EQ(3, this->deviceCount()) << "the count of the last initialisation that got that far";
        EXPECT_FALSE(this->uninitialize());
        EXPECT_EQ(0u, this->com->apartmentRefs()) << attempt;
        EXPECT_EQ(globals, this->vm.liveGlobalRefs()) << "the listener was released";
    }
    EXPECT_EQ(1, this->sim.collectionsCreated(TypeParam::kind));
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK}), this->com->initializeResults());
}

TYPED_TEST_P(DriverLifecycle, ZeroDevices_InitializesWithoutJavaBindingsOrReceiver) {
    this->config().deviceCount = 0;
    StandIn::RecordingListener listener(this->vm);
    EXPECT_FALSE(this->registerKeyListener(&listener));
    this->vm.failGetJavaVM();  // binding Java would now fail the initialisation
    EXPECT_FALSE(this->initialize());
    EXPECT_EQ(0, this->deviceCount());
    EXPECT_EQ(0u, this->sim.log().countPrefix(this->collectionAt() + "GetItem")) << this->sim.log().dump();
    EXPECT_FALSE(this->uninitialize());
    EXPECT_TRUE(this->sim.log().contains(this->collectionAt() + "Release->0"));
    EXPECT_EQ(0u, listener.count());
}

TYPED_TEST_P(DriverLifecycle, FailureAfterTheCount_KeepsCountAndUninitializeCleansUp) {
    this->config().deviceCount = 2;
    this->config().getItemNull = true;
    EXPECT_EQ(ioException(TypeParam::noDevice), this->initialize());
    EXPECT_EQ(2, this->deviceCount());
    EXPECT_FALSE(this->uninitialize());
    EXPECT_EQ(0u, this->com->apartmentRefs());

    this->config().getItemNull = false;
    this->sim.log().clear();
    this->vm.removeClass(StandIn::Java::KeyEvent);
    const std::string noClass =
        std::string(Dravlo::Messages::ClassPrefix) + StandIn::Java::KeyEvent + Dravlo::Messages::ClassNotFoundSuffix;
    EXPECT_EQ(ioException(noClass), this->initialize());
    EXPECT_EQ(0u, this->sim.log().countPrefix(this->collectionAt() + "GetItem(")) << "no receiver was built";
    EXPECT_FALSE(this->uninitialize());
}

TYPED_TEST_P(DriverLifecycle, InitializeTwiceOnOneThread_SecondFailsAndFirstStaysOpenUntilUninitialize) {
    StandIn::RecordingListener listener(this->vm);
    ASSERT_FALSE(this->initialize());
    EXPECT_EQ(ioException(TypeParam::comInitFailed), this->initialize());
    EXPECT_EQ(1u, this->com->apartmentRefs()) << "the refused call is balanced at once";
    EXPECT_EQ(1, this->sim.collectionsCreated(TypeParam::kind));
    EXPECT_FALSE(this->registerKeyListener(&listener));
    this->device()->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1}));
    EXPECT_EQ(1u, listener.count()) << "the first initialisation still delivers";
    EXPECT_FALSE(this->uninitialize());
    EXPECT_EQ(0u, this->com->apartmentRefs()) << "uninitialize balances the first initialisation";
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_FALSE}), this->com->initializeResults());
    EXPECT_TRUE(this->sim.log().contains(this->at() + "Release->0"));
}

TYPED_TEST_P(DriverLifecycle, Uninitialize_ReleasesCollectionFirstThenStopsClosesAndReleasesDevice) {
    ASSERT_FALSE(this->initialize());
    const std::string device = this->at(), collection = this->collectionAt();
    EXPECT_TRUE(this->sim.log().inOrder({collection + "GetItem(0)", device + "Advise(1)", device + "Start"}))
        << this->sim.log().dump();
    this->sim.log().clear();
    EXPECT_FALSE(this->uninitialize());
    const std::vector<std::string> expected = {collection + "Release->0", device + "Stop",  device + "Unadvise(1)",
                                               device + "Stop",           device + "Close", device + "Release->0"};
    EXPECT_EQ(expected, this->sim.log().entries());
    EXPECT_EQ(1, this->com->uninitializeCalls());

    this->sim.log().clear();
    EXPECT_FALSE(this->uninitialize());
    EXPECT_TRUE(this->sim.log().entries().empty()) << this->sim.log().dump();
    EXPECT_EQ(1, this->com->uninitializeCalls()) << "nothing left to balance";
}

TYPED_TEST_P(DriverLifecycle, KeyEvents_ReachTheRegisteredJavaListenerFromAnyThread) {
    StandIn::RecordingListener early(this->vm), late(this->vm);
    EXPECT_FALSE(this->registerKeyListener(&early));
    ASSERT_FALSE(this->initialize());
    const std::size_t attaches = this->vm.attaches();
    auto device = this->device();
    device->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({2, 7}));
    device->fire(AxisSim::Dispid::ButtonUp, AxisSim::intArgs({2, 7}));  // on the Java test thread
    const auto events = early.events();
    ASSERT_EQ(2u, events.size());
    for (int type : {0, 1}) {
        const StandIn::ReceivedEvent& event = events[type];
        EXPECT_EQ(StandIn::Java::OnKeyEvent, event.method);
        EXPECT_EQ(StandIn::Java::KeyEvent, event.className);
        EXPECT_EQ((std::map<std::string, jint>{{"fDeviceID", 2}, {"fButtonNumber", 7}, {"fEventType", type}}),
                  event.fields);
    }
    EXPECT_NE(std::this_thread::get_id(), events[0].thread);
    EXPECT_EQ(std::this_thread::get_id(), events[1].thread);
    EXPECT_EQ(attaches + 1, this->vm.attaches()) << "the Java thread is used as it is";
    EXPECT_EQ(this->vm.attaches(), this->vm.detaches());

    EXPECT_FALSE(this->registerKeyListener(&late));
    device->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({2, 8}));
    EXPECT_FALSE(this->registerKeyListener(nullptr));
    device->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({2, 9}));
    EXPECT_EQ(2u, early.count());
    ASSERT_EQ(1u, late.count());
    EXPECT_EQ(8, late.events()[0].at("fButtonNumber"));
    EXPECT_EQ(4u, this->vm.instancesCreated(StandIn::Java::KeyEvent)) << "built, then dropped unheard";
    EXPECT_FALSE(this->uninitialize());
}

REGISTER_TYPED_TEST_SUITE_P(DriverLifecycle, BeforeInitialize_CountIsZeroAndUninitializeOnlyReleasesListeners,
                            NoComponent_FailsKeepsCountAndRetriesAfterCleanUninitialize,
                            ZeroDevices_InitializesWithoutJavaBindingsOrReceiver,
                            FailureAfterTheCount_KeepsCountAndUninitializeCleansUp,
                            InitializeTwiceOnOneThread_SecondFailsAndFirstStaysOpenUntilUninitialize,
                            Uninitialize_ReleasesCollectionFirstThenStopsClosesAndReleasesDevice,
                            KeyEvents_ReachTheRegisteredJavaListenerFromAnyThread);

}  // namespace DriverTests
