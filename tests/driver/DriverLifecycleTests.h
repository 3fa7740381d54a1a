#pragma once
// What the jog dial and keypad drivers have in common, as Java sees it
// through the exports: the life cycle of initialise and uninitialise, the
// COM balance on the calling thread, key events reaching the Java key
// listener, and teardown while events are in flight. A test program instantiates the suite with its natives table:
//   INSTANTIATE_TYPED_TEST_SUITE_P(JogDial, DriverLifecycle, JogDialNatives);

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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

TYPED_TEST_P(DriverLifecycle, NoComponent_FailsKeepsCountAndLeavesNothingBehind) {
    this->config().deviceCount = 3;
    ASSERT_FALSE(this->initialize());
    ASSERT_FALSE(this->uninitialize());
    this->config().registered = false;
    StandIn::RecordingListener listener(this->vm);
    const std::size_t globals = this->vm.liveGlobalRefs();
    EXPECT_FALSE(this->registerKeyListener(&listener));
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(ioException(TypeParam::initFailed), this->initialize()) << "the real failure again, not COM's";
        EXPECT_EQ(3, this->deviceCount()) << "the count of the last initialisation that got that far";
        EXPECT_EQ(0u, this->com->apartmentRefs()) << "the failure balanced its own CoInitialize";
    }
    const int balanced = this->com->uninitializeCalls();
    EXPECT_FALSE(this->uninitialize());
    EXPECT_EQ(balanced, this->com->uninitializeCalls()) << "nothing of COM was left to uninitialise";
    EXPECT_EQ(globals, this->vm.liveGlobalRefs()) << "the listener was released";
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

TYPED_TEST_P(DriverLifecycle, FailureAfterTheCount_KeepsCountAndReleasesEverythingElse) {
    this->config().deviceCount = 2;
    this->config().getItemNull = true;
    EXPECT_EQ(ioException(TypeParam::noDevice), this->initialize());
    EXPECT_EQ(2, this->deviceCount());
    EXPECT_EQ(0u, this->com->apartmentRefs()) << "the failure balanced its own CoInitialize";
    EXPECT_TRUE(this->sim.log().contains(this->collectionAt() + "Release->0")) << "the failure kept the collection";
    EXPECT_FALSE(this->uninitialize());

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

TYPED_TEST_P(DriverLifecycle, TeardownWhileAnotherThreadFires_NoListenerCallAfterReturnAndNothingLeft) {
    // A source that calls its sinks outside its own lock, so Unadvise does not
    // wait for a delivery; on odd rounds Unadvise fails and the sink stays
    // connected, so events also arrive after the teardown.
    constexpr int Rounds = 500;
    StandIn::RecordingListener listener(this->vm);
    std::mutex mutex;
    std::shared_ptr<AxisSim::DeviceProbe> target;  // guarded by mutex
    std::atomic<bool> done{false};
    std::atomic<long> fired{0};
    std::thread firing([&] {
        while (!done) {
            std::shared_ptr<AxisSim::DeviceProbe> device;
            {
                std::lock_guard lock(mutex);
                device = target;
            }
            if (!device) continue;
            device->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1}));
            ++fired;
        }
    });
    int overlapped = 0, lateCalls = 0;
    for (int round = 0; round < Rounds; ++round) {
        this->config().unadviseResult = round % 2 ? E_FAIL : S_OK;
        ASSERT_FALSE(this->registerKeyListener(&listener));
        ASSERT_FALSE(this->initialize());
        const std::size_t before = listener.count();
        this->device()->deliverOutsideLock(true);
        {
            std::lock_guard lock(mutex);
            target = this->device();
        }
        listener.waitForCount(before + 1, std::chrono::seconds(1));
        EXPECT_FALSE(this->uninitialize());
        const std::size_t atReturn = listener.count();
        overlapped += atReturn > before;
        for (const long seen = fired.load(); fired < seen + 3;) std::this_thread::yield();
        {
            std::lock_guard lock(mutex);
            target.reset();
        }
        lateCalls += static_cast<int>(listener.count() - atReturn);
        ASSERT_EQ(0, this->sim.liveObjects()) << round << this->sim.log().dump();
    }
    done = true;
    firing.join();
    std::printf("teardown race: %d rounds, %d met a delivery, %ld events fired, %zu heard\n", Rounds, overlapped,
                fired.load(), listener.count());
    EXPECT_EQ(0, lateCalls) << "listener calls began after uninitializeImpl returned";
    EXPECT_GT(overlapped, Rounds / 2) << "the teardowns seldom met a delivery";
    EXPECT_EQ(0u, this->com->apartmentRefs());
    EXPECT_EQ(Rounds, this->com->uninitializeCalls());
}

TYPED_TEST_P(DriverLifecycle, ListenerUninitializingInItsCallback_TearsDownAndCanInitializeAgain) {
    StandIn::RecordingListener listener(this->vm);
    listener.runInCallbacks([this](JNIEnv* e) {
        EXPECT_EQ(0, this->natives.uninitializeImpl(e, this->vm.newInstance(e, TypeParam::javaClass)));
    });
    ASSERT_FALSE(this->registerKeyListener(&listener));
    ASSERT_FALSE(this->initialize());
    auto device = this->device();
    const std::string at = this->at();
    // On the initialising thread, as a driver firing on its apartment thread does.
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, device->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1})));
    EXPECT_EQ(1u, listener.count());
    EXPECT_TRUE(this->sim.log().inOrder({this->collectionAt() + "Release->0", at + "Stop", at + "Unadvise(1)",
                                         at + "Stop", at + "Close", at + "Release->0"}))
        << this->sim.log().dump();
    EXPECT_EQ(0u, this->com->apartmentRefs()) << "the nested call balanced COM";
    EXPECT_EQ(S_OK, DravloLibrary::instance().canUnloadNow()) << "the receiver went once its delivery left";

    listener.runInCallbacks(nullptr);
    device->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 2}));
    device->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 3}));
    EXPECT_EQ(1u, listener.count()) << "after the teardown nobody hears";

    ASSERT_FALSE(this->registerKeyListener(&listener));
    ASSERT_FALSE(this->initialize());
    this->device()->fire(AxisSim::Dispid::ButtonUp, AxisSim::intArgs({0, 4}));
    ASSERT_EQ(2u, listener.count());
    EXPECT_EQ(4, listener.events()[1].at("fButtonNumber"));
    EXPECT_FALSE(this->uninitialize());

    // An event on another thread while initializeImpl is still starting the
    // device, whose listener uninitialises: the new connection is down before
    // initializeImpl returns, and nothing is delivered after the listener's call.
    listener.runInCallbacks([this](JNIEnv* e) {
        EXPECT_EQ(0, this->natives.uninitializeImpl(e, this->vm.newInstance(e, TypeParam::javaClass)));
    });
    ASSERT_FALSE(this->registerKeyListener(&listener));
    this->config().onStart = [](AxisSim::DeviceProbe& device) {
        device.fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 5}));
        device.fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 6}));
    };
    this->sim.log().clear();
    ASSERT_FALSE(this->initialize());
    this->config().onStart = nullptr;
    const std::string again = this->at();
    EXPECT_EQ(3u, listener.count()) << "delivered after the listener's uninitializeImpl returned";
    EXPECT_TRUE(this->sim.log().inOrder(
        {again + "Start", again + "Stop", again + "Unadvise(1)", again + "Close", again + "Release->0"}))
        << this->sim.log().dump();
    EXPECT_FALSE(this->registerKeyListener(nullptr));
    EXPECT_FALSE(this->uninitialize());

    // A listener initialises again from its callback, and the new device
    // delivers from Start on that very thread, where the listener
    // uninitialises and registers a listener for later. The connect below it
    // on its stack tears down once hooked; only then does that thread's COM
    // end, and the later registration stays.
    const std::size_t globals = this->vm.liveGlobalRefs();
    StandIn::RecordingListener later(this->vm);
    const auto comAlive = [] {
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        return CoGetApartmentType(&type, &qualifier) == S_OK;
    };
    listener.runInCallbacks([&](JNIEnv* e) {
        const jobject self = this->vm.newInstance(e, TypeParam::javaClass);
        if (listener.count() == 4) {
            const AxisSim::InitializeSpyRegistration classes = this->sim.registerOnInitialize();
            EXPECT_EQ(0, this->natives.initializeImpl(e, self));
            EXPECT_FALSE(comAlive()) << "the nested uninitializeImpl left this thread's COM";
            return;
        }
        EXPECT_EQ(0, this->natives.uninitializeImpl(e, self));
        EXPECT_TRUE(comAlive() || this->sim.log().count(this->at() + "Release->0") == 2)
            << "COM ended under the device";
        this->natives.registerKeyListenerImpl(e, self, later.newInstance(e));
    });
    ASSERT_FALSE(this->registerKeyListener(&listener));
    ASSERT_FALSE(this->initialize());
    this->config().onStart = [](AxisSim::DeviceProbe& device) {
        device.fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 8}));
    };
    this->sim.log().clear();
    this->device()->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 7}));
    this->config().onStart = nullptr;
    EXPECT_EQ(5u, listener.count());
    EXPECT_EQ(2u, this->sim.log().count(this->at() + "Release->0")) << "both connections went";
    EXPECT_EQ(globals + 1, this->vm.liveGlobalRefs()) << "the later registration was released";
    EXPECT_FALSE(this->uninitialize());
}

TYPED_TEST_P(DriverLifecycle, UninitializeOnAnotherThreadWithItsOwnCom_LeavesThatComAndOwesTheInitialisingThread) {
    ASSERT_FALSE(this->initialize());
    HRESULT ownCom = E_FAIL, afterwards = E_FAIL;
    std::optional<StandIn::ThrowableInfo> thrown;
    std::thread other([&] {
        ownCom = CoInitialize(nullptr);
        thrown = this->uninitialize();
        afterwards = CoInitialize(nullptr);  // S_FALSE: its apartment is still there
        if (SUCCEEDED(afterwards)) CoUninitialize();
        if (SUCCEEDED(ownCom)) CoUninitialize();
    });
    other.join();
    EXPECT_EQ(S_OK, ownCom);
    EXPECT_FALSE(thrown);
    EXPECT_EQ(S_FALSE, afterwards) << "uninitializeImpl ended another thread's COM";
    EXPECT_TRUE(this->sim.log().contains(this->at() + "Release->0")) << "the driver was torn down all the same";
    EXPECT_EQ(1u, this->com->apartmentRefs()) << "the initialising thread is still owed";
    EXPECT_FALSE(this->uninitialize());
    EXPECT_FALSE(this->uninitialize());
    EXPECT_EQ(0u, this->com->apartmentRefs());
    EXPECT_EQ(1, this->com->uninitializeCalls()) << "paid once, on its own thread";
}

TYPED_TEST_P(DriverLifecycle, ReplacingListenersUnderLoad_DeliversEveryEventExactlyOnce) {
    constexpr int Threads = 4, PerThread = 10000;
    StandIn::RecordingListener listeners[2] = {StandIn::RecordingListener(this->vm),
                                               StandIn::RecordingListener(this->vm)};
    ASSERT_FALSE(this->registerKeyListener(&listeners[0]));
    ASSERT_FALSE(this->initialize());
    auto device = this->device();
    device->deliverOutsideLock(true);
    std::atomic<int> running{Threads};
    std::vector<std::thread> firing;
    for (int t = 0; t < Threads; ++t)
        firing.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i) device->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({t, i}));
            --running;
        });
    int registrations = 0;
    for (; running > 0; ++registrations) ASSERT_FALSE(this->registerKeyListener(&listeners[(registrations + 1) % 2]));
    for (std::thread& thread : firing) thread.join();
    EXPECT_FALSE(this->uninitialize());

    std::vector<char> seen(Threads * PerThread, 0);
    std::size_t malformed = 0, duplicated = 0;
    for (const StandIn::RecordingListener& listener : listeners) {
        for (const StandIn::ReceivedEvent& event : listener.events()) {
            const auto field = [&](const char* name) { return event.fields.count(name) ? event.fields.at(name) : -1; };
            const jint t = field("fDeviceID"), i = field("fButtonNumber");
            if (event.className != StandIn::Java::KeyEvent || field("fEventType") != 0 || t < 0 || t >= Threads ||
                i < 0 || i >= PerThread) {
                ++malformed;
                continue;
            }
            duplicated += seen[t * PerThread + i]++ != 0;
        }
    }
    EXPECT_EQ(0u, malformed);
    EXPECT_EQ(0u, duplicated);
    EXPECT_EQ(static_cast<std::size_t>(Threads * PerThread), listeners[0].count() + listeners[1].count())
        << "events lost while a listener was registered";
    EXPECT_GT(registrations, 1);
}

TYPED_TEST_P(DriverLifecycle, Library_StaysMappedOnceConnected_ForLateEventsAndReturningListeners) {
    // Private copies of the library, so that unmapping one harms nobody. A
    // pinned copy stays loaded until the process ends; earlier runs' copies
    // are deleted here.
    wchar_t path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(DravloLibrary::instance().module(), path, MAX_PATH));
    const std::wstring stem = std::wstring(path) + L".copy-";
    const std::wstring folder = std::wstring(path, std::wcsrchr(path, L'\\') + 1);
    WIN32_FIND_DATAW found;
    if (HANDLE search = FindFirstFileW((stem + L"*").c_str(), &found); search != INVALID_HANDLE_VALUE) {
        do DeleteFileW((folder + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    const auto loadCopy = [&](const wchar_t* tag) {
        const std::wstring copy = stem + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
        EXPECT_TRUE(CopyFileW(path, copy.c_str(), FALSE));
        return std::pair{copy, LoadLibraryW(copy.c_str())};
    };
    const std::string prefix = std::string("Java_applet_utils_dravlo_") + (std::strrchr(TypeParam::javaClass, '/') + 1);
    const auto native = [&](HMODULE module, const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(module, (prefix + name).c_str()));
    };
    using Call = jint(JNICALL*)(JNIEnv*, jobject);
    const auto call = [&](HMODULE module, const char* name) {
        return this->callJava([&](JNIEnv* e, jobject self) { reinterpret_cast<Call>(native(module, name))(e, self); });
    };

    // A device that copied its sink list before Unadvise fires after the
    // teardown, and after the host let go of the library.
    const auto [lateCopy, late] = loadCopy(L"late");
    ASSERT_NE(nullptr, late);
    EXPECT_FALSE(call(late, "_initializeImpl"));
    std::vector<AxisSim::IDispatchPtr> kept = this->device()->sinks();
    ASSERT_EQ(1u, kept.size());
    EXPECT_FALSE(call(late, "_uninitializeImpl"));
    FreeLibrary(late);
    EXPECT_EQ(late, GetModuleHandleW(lateCopy.c_str())) << "unmapped while a device may still call it";
    std::vector<_variant_t> args = AxisSim::intArgs({1, 0});  // reversed: button 1 of device 0
    DISPPARAMS params{reinterpret_cast<VARIANTARG*>(args.data()), nullptr, 2, 0};
    EXPECT_EQ(S_OK, kept[0]->Invoke(AxisSim::Dispid::ButtonDown, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                    &params, nullptr, nullptr, nullptr));
    kept.clear();

    // A listener tears its driver down while the host frees the library on
    // another thread; then the listener returns into the library.
    const auto [returnCopy, returning] = loadCopy(L"return");
    ASSERT_NE(nullptr, returning);
    StandIn::RecordingListener listener(this->vm);
    listener.runInCallbacks([&, module = returning](JNIEnv* e) {
        reinterpret_cast<Call>(native(module, "_uninitializeImpl"))(e, this->vm.newInstance(e, TypeParam::javaClass));
        std::thread([module] { FreeLibrary(module); }).join();
    });
    using Register = void(JNICALL*)(JNIEnv*, jobject, jobject);
    EXPECT_FALSE(this->callJava([&, module = returning](JNIEnv* e, jobject self) {
        reinterpret_cast<Register>(native(module, "_registerKeyListenerImpl"))(e, self, listener.newInstance(e));
    }));
    EXPECT_FALSE(call(returning, "_initializeImpl"));
    EXPECT_EQ(std::vector<HRESULT>{S_OK}, this->device()->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1})));
    EXPECT_EQ(1u, listener.count());
    EXPECT_EQ(returning, GetModuleHandleW(returnCopy.c_str()));
}

TYPED_TEST_P(DriverLifecycle, TeardownFromListenerWhileAnotherRuns_DoesNotWaitButTheJavaThreadDoes) {
    StandIn::RecordingListener listener(this->vm);
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    bool slowRunning = false, slowFinished = false, released = false;  // guarded by mutex
    listener.runInCallbacks([&](JNIEnv* e) {
        std::unique_lock lock(mutex);
        if (calls++ == 0) {  // the slow call: runs until the test lets it go
            slowRunning = true;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(10), [&] { return released; });
            slowFinished = true;
        } else {  // a "power" button: tears its driver down
            lock.unlock();
            EXPECT_EQ(0, this->natives.uninitializeImpl(e, this->vm.newInstance(e, TypeParam::javaClass)));
        }
    });
    ASSERT_FALSE(this->registerKeyListener(&listener));
    ASSERT_FALSE(this->initialize());
    auto device = this->device();
    device->deliverOutsideLock(true);
    std::thread slow([&] { device->fire(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1})); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return slowRunning; }));
    }
    device->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 2}));
    {
        std::lock_guard lock(mutex);
        EXPECT_FALSE(slowFinished) << "the listener's teardown waited for another thread's listener call";
    }
    EXPECT_TRUE(this->sim.log().contains(this->at() + "Release->0")) << this->sim.log().dump();
    // Let the slow call go only a while after the Java thread's uninitialise
    // began, so a call that returns early is caught.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    });
    EXPECT_FALSE(this->uninitialize());
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(slowFinished) << "uninitializeImpl returned while a listener call was still running";
    }
    releaser.join();
    slow.join();
    EXPECT_EQ(2u, listener.count());
    EXPECT_EQ(1, this->com->uninitializeCalls()) << "COM balanced once, on the initialising thread";
    EXPECT_EQ(0u, this->com->apartmentRefs());
}

TYPED_TEST_P(DriverLifecycle, InitializeOnAnotherThreadWhileConnected_ReconnectsAndDeliversEachEventOnce) {
    StandIn::RecordingListener listener(this->vm);
    ASSERT_FALSE(this->registerKeyListener(&listener));
    ASSERT_FALSE(this->initialize());
    const std::string device = this->at();
    this->device()->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 1}));
    std::thread other([&] {
        const AxisSim::InitializeSpyRegistration classes = this->sim.registerOnInitialize();
        EXPECT_FALSE(this->initialize());
        this->device()->fireOnNewThread(AxisSim::Dispid::ButtonDown, AxisSim::intArgs({0, 2}));
        EXPECT_FALSE(this->uninitialize());
    });
    other.join();
    EXPECT_EQ(2, this->sim.collectionsCreated(TypeParam::kind));
    ASSERT_EQ(2u, listener.count()) << "the listener survives a new initialisation";
    EXPECT_EQ(1, listener.events()[0].at("fButtonNumber"));
    EXPECT_EQ(2, listener.events()[1].at("fButtonNumber"));
    EXPECT_EQ(2u, this->sim.log().count(device + "Advise(1)")) << this->sim.log().dump();
    EXPECT_EQ(2u, this->sim.log().count(device + "Unadvise(1)"));
    const std::ptrdiff_t second =
        this->sim.log().indexOf(device + "Advise(1)", 1 + this->sim.log().indexOf(device + "Advise(1)"));
    EXPECT_GT(second, this->sim.log().indexOf(device + "Release->0"))
        << "the first connection went before the second came";
    EXPECT_EQ(1u, this->com->apartmentRefs()) << "the test thread still owes its own CoUninitialize";
    EXPECT_FALSE(this->uninitialize());
    EXPECT_EQ(1, this->com->uninitializeCalls());
}

REGISTER_TYPED_TEST_SUITE_P(DriverLifecycle, BeforeInitialize_CountIsZeroAndUninitializeOnlyReleasesListeners,
                            NoComponent_FailsKeepsCountAndLeavesNothingBehind,
                            ZeroDevices_InitializesWithoutJavaBindingsOrReceiver,
                            FailureAfterTheCount_KeepsCountAndReleasesEverythingElse,
                            InitializeTwiceOnOneThread_SecondFailsAndFirstStaysOpenUntilUninitialize,
                            Uninitialize_ReleasesCollectionFirstThenStopsClosesAndReleasesDevice,
                            KeyEvents_ReachTheRegisteredJavaListenerFromAnyThread,
                            TeardownWhileAnotherThreadFires_NoListenerCallAfterReturnAndNothingLeft,
                            ListenerUninitializingInItsCallback_TearsDownAndCanInitializeAgain,
                            UninitializeOnAnotherThreadWithItsOwnCom_LeavesThatComAndOwesTheInitialisingThread,
                            ReplacingListenersUnderLoad_DeliversEveryEventExactlyOnce,
                            Library_StaysMappedOnceConnected_ForLateEventsAndReturningListeners,
                            TeardownFromListenerWhileAnotherRuns_DoesNotWaitButTheJavaThreadDoes,
                            InitializeOnAnotherThreadWhileConnected_ReconnectsAndDeliversEachEventOnce);

}  // namespace DriverTests
