#pragma once
// Shared by the jog dial and keypad driver tests, which reach the drivers the
// way Java does: through the natives that Dravlo.dll exports, called on the
// test thread as Java methods of the JVM stand-in, against the simulated Axis
// driver whose class objects appear when the library's own CoInitialize runs.
// The fixture checks after every test that the simulated objects are gone,
// no sink is alive, COM is balanced on the test thread and the stand-in has
// no reference, attachment or pending exception left.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "applet_utils_dravlo_JogDialDriver.h"
#include "applet_utils_dravlo_KeyPadDriver.h"
#include "bridge/Messages.h"
#include "simulator/AxisSimulator.h"
#include "support/jvm/GTestSupport.h"

namespace DriverTests {

/// Dravlo.dll from the program's directory, loaded on first use and kept for
/// the life of the process (its drivers are process-wide).
class DravloLibrary {
public:
    static const DravloLibrary& instance();
    HMODULE module() const noexcept { return module_; }
    /// The export `name`, or null.
    FARPROC entry(const char* name) const noexcept { return module_ ? GetProcAddress(module_, name) : nullptr; }
    /// The library's DllCanUnloadNow: S_OK when no sink is alive.
    HRESULT canUnloadNow() const;

private:
    DravloLibrary();
    HMODULE module_;
};

/// The export `name` as a pointer of type F; a missing one is appended to `missing`.
template <class F>
F nativeEntry(const char* name, std::string& missing) {
    FARPROC found = DravloLibrary::instance().entry(name);
    if (found == nullptr) missing += std::string(name) + " ";
    return reinterpret_cast<F>(reinterpret_cast<void*>(found));
}

/// A member `name` of a natives table: the export of Java class `cls`, typed
/// by the prototype javac generated. Needs a `std::string missing` before it.
#define DRAVLO_NATIVE(cls, name)                                                        \
    decltype(&Java_applet_utils_dravlo_##cls##_##name) name =                           \
        ::DriverTests::nativeEntry<decltype(&Java_applet_utils_dravlo_##cls##_##name)>( \
            "Java_applet_utils_dravlo_" #cls "_" #name, missing)

/// Counts the CoInitialize and CoUninitialize calls made on the thread that
/// builds it (an IInitializeSpy), until it is destroyed on that thread.
class ComCallCounter final : public IInitializeSpy {
public:
    ComCallCounter();
    ~ComCallCounter();
    ComCallCounter(const ComCallCounter&) = delete;
    ComCallCounter& operator=(const ComCallCounter&) = delete;

    /// The result of every CoInitialize, in order.
    const std::vector<HRESULT>& initializeResults() const noexcept { return initializeResults_; }
    int uninitializeCalls() const noexcept { return uninitializeCalls_; }
    /// CoUninitialize calls made while COM was not initialised on the thread.
    int mismatchedUninitializeCalls() const noexcept { return mismatched_; }
    /// Whether the spy is registered (it counts nothing otherwise).
    bool active() const noexcept { return registered_; }
    /// CoInitialize calls not yet balanced.
    DWORD apartmentRefs() const noexcept { return apartmentRefs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the fixture, not on the heap
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT result, DWORD, DWORD newRefs) override;
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD currentRefs) override;
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD newRefs) override;

private:
    ULONG refs_ = 0;
    ULARGE_INTEGER cookie_{};
    bool registered_ = false;
    std::vector<HRESULT> initializeResults_;
    int uninitializeCalls_ = 0;
    int mismatched_ = 0;
    DWORD apartmentRefs_ = 0;
};

/// The natives table of each driver (see DriverTest).
struct JogDialNatives {
    static constexpr const char* javaClass = StandIn::Java::JogDialDriver;
    static constexpr AxisSim::Kind kind = AxisSim::Kind::JogDial;
    static constexpr const char* comInitFailed = Dravlo::Messages::JogDialComInitFailed;
    static constexpr const char* initFailed = Dravlo::Messages::JogDialInitFailed;
    static constexpr const char* noDevice = Dravlo::Messages::JogDialNoDevice;

    std::string missing;
    DRAVLO_NATIVE(JogDialDriver, initializeImpl);
    DRAVLO_NATIVE(JogDialDriver, uninitializeImpl);
    DRAVLO_NATIVE(JogDialDriver, getNumberOfDevicesImpl);
    DRAVLO_NATIVE(JogDialDriver, registerKeyListenerImpl);
    DRAVLO_NATIVE(JogDialDriver, registerDialListenerImpl);
};

struct KeyPadNatives {
    static constexpr const char* javaClass = StandIn::Java::KeyPadDriver;
    static constexpr AxisSim::Kind kind = AxisSim::Kind::KeyPad;
    static constexpr const char* comInitFailed = Dravlo::Messages::KeyPadComInitFailed;
    static constexpr const char* initFailed = Dravlo::Messages::KeyPadInitFailed;
    static constexpr const char* noDevice = Dravlo::Messages::KeyPadNoDevice;

    std::string missing;
    DRAVLO_NATIVE(KeyPadDriver, initializeImpl);
    DRAVLO_NATIVE(KeyPadDriver, uninitializeImpl);
    DRAVLO_NATIVE(KeyPadDriver, getNumberOfDevicesImpl);
    DRAVLO_NATIVE(KeyPadDriver, registerKeyListenerImpl);
    DRAVLO_NATIVE(KeyPadDriver, executeCommandImpl);
};

/// A java.io.IOException with `message`, as callNative reports it.
inline StandIn::ThrowableInfo ioException(const std::string& message) { return {StandIn::Java::IOException, message}; }

/// A driver test over one natives table `Natives`, which names the driver's
/// Java class (`javaClass`), its Axis kind (`kind`), its messages
/// (`comInitFailed`, `initFailed`, `noDevice`) and holds at least the
/// exports initializeImpl, uninitializeImpl, getNumberOfDevicesImpl and
/// registerKeyListenerImpl (DRAVLO_NATIVE).
template <class Natives>
class DriverTest : public StandIn::JvmTest {
protected:
    using Thrown = std::optional<StandIn::ThrowableInfo>;
    static constexpr AxisSim::Kind kind = Natives::kind;

    void SetUp() override {
        JvmTest::SetUp();
        ASSERT_NE(nullptr, DravloLibrary::instance().module()) << "Dravlo.dll not loaded";
        ASSERT_EQ("", natives.missing) << "not exported";
        com.emplace();
        ASSERT_TRUE(com->active());
        classes.emplace(sim.registerOnInitialize());
        ASSERT_EQ(S_OK, classes->result());
    }
    void TearDown() override {
        EXPECT_EQ(0, sim.liveObjects()) << sim.log().dump();
        EXPECT_EQ(S_OK, DravloLibrary::instance().canUnloadNow()) << "a sink is still alive";
        classes.reset();
        if (com) {
            EXPECT_EQ(0u, com->apartmentRefs()) << "CoInitialize left unbalanced";
            EXPECT_EQ(0, com->mismatchedUninitializeCalls());
            com.reset();
        }
        const HRESULT again = CoInitialize(nullptr);
        EXPECT_EQ(S_OK, again) << "COM is still initialised on the test thread";
        if (SUCCEEDED(again)) CoUninitialize();
        JvmTest::TearDown();
    }

    /// Runs `body` as a native method called on a new Java driver object; the
    /// Java exception it left pending, if any.
    Thrown callJava(const std::function<void(JNIEnv*, jobject)>& body) {
        return vm.callNative([&](JNIEnv* e) { body(e, vm.newInstance(e, Natives::javaClass)); });
    }
    Thrown initialize() {
        return callJava([&](JNIEnv* e, jobject self) { EXPECT_EQ(0, natives.initializeImpl(e, self)); });
    }
    Thrown uninitialize() {
        return callJava([&](JNIEnv* e, jobject self) { EXPECT_EQ(0, natives.uninitializeImpl(e, self)); });
    }
    jint deviceCount() {
        jint count = -1;
        callJava([&](JNIEnv* e, jobject self) { count = natives.getNumberOfDevicesImpl(e, self); });
        return count;
    }
    /// Registers a new object of `listener`'s class; null unregisters.
    Thrown registerKeyListener(const StandIn::RecordingListener* listener) {
        return callJava([&](JNIEnv* e, jobject self) {
            natives.registerKeyListenerImpl(e, self, listener ? listener->newInstance(e) : nullptr);
        });
    }

    std::shared_ptr<AxisSim::DeviceProbe> device(int index = 0) const { return sim.device(kind, index); }
    /// "JogDialDevice#0." and the like: the prefix of a device's log entries.
    std::string at(int index = 0) const { return device(index)->name() + "."; }
    AxisSim::KindConfig& config() { return sim.config(kind); }

    Natives natives;
    AxisSim::Simulator sim;
    std::optional<ComCallCounter> com;
    std::optional<AxisSim::InitializeSpyRegistration> classes;
};

}  // namespace DriverTests
