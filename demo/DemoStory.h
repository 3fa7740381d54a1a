#pragma once
// The demo's story: what a Java program does with Dravlo.dll, chapter by
// chapter, against the simulated Axis driver. Each chapter prints what
// happened and throws Demo::Failure when it is not what should happen.
//
// Threads: the calling thread is the Java main thread and owns the jog dial
// driver; the keypad driver is initialised, commanded and uninitialised on a
// Java thread of its own, because each driver makes the thread that
// initialises it a COM apartment of its own and refuses a thread whose COM is
// already initialised. Devices fire from either thread or from a plain native
// thread, which the library attaches to the JVM for each event.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "demo/DemoSupport.h"
#include "simulator/AxisSimulator.h"
#include "support/jvm/Contract.h"

namespace Demo {

/// A Java listener class of the stand-in under the name the story gives it,
/// with the number of its callbacks already shown.
struct Listener {
    Listener(StandIn::JvmStandIn& vm, std::string name, StandIn::ListenerOptions options = {})
        : name(std::move(name)), recording(vm, std::move(options)) {}
    std::string name;
    StandIn::RecordingListener recording;
    std::size_t shown = 0;
};

/// "DialEvent device=0 type=1 shuttle=0 jogDirection=1" or "KeyEvent device=0 type=0 button=3".
std::string describe(const StandIn::ReceivedEvent& event);

/// Where a device fires an event from.
enum class On { MainThread, KeyPadThread, DeviceThread };

class Story {
public:
    /// Must be built on the Java main thread, before anything initialises COM on it.
    Story(StandIn::JvmStandIn& vm, const Natives& natives);
    ~Story();
    Story(const Story&) = delete;
    Story& operator=(const Story&) = delete;

    void setUpSimulatedDriver(int jogDials, int keyPads);
    void registerListenersAndInitialize();
    void deliverEvents();
    void sendCommands();
    void showFailures();
    void shutDown();
    void initializeWithoutJogDialComponent();
    /// `canUnloadNow` is the library's DllCanUnloadNow. Ends the keypad thread.
    void checkBalances(HRESULT(STDAPICALLTYPE* canUnloadNow)());

private:
    using Thrown = std::optional<StandIn::ThrowableInfo>;
    using NativeCall = std::function<void(JNIEnv*, jobject)>;

    /// Runs `call` as a native method of a new object of Java class `javaClass`
    /// on the calling Java thread; the Java exception it left pending.
    Thrown callJava(const char* javaClass, const NativeCall& call);
    Thrown onJogDial(const NativeCall& call) { return callJava(StandIn::Java::JogDialDriver, call); }
    Thrown onKeyPadHere(const NativeCall& call) { return callJava(StandIn::Java::KeyPadDriver, call); }
    /// As onKeyPadHere, on the keypad thread.
    Thrown onKeyPadThread(const NativeCall& call);
    using IntNative = decltype(Natives::JogDial::initializeImpl);
    /// Calls initializeImpl or uninitializeImpl (on a new object of the driver
    /// class that owns the thread `on`) and prints "<what> -> 0"; fails on an
    /// exception or another result.
    void expectZero(const std::string& what, IntNative native, On on);
    /// Prints "<what> -> <result>" and fails when Java saw an exception.
    void expectNoThrow(const std::string& what, const Thrown& thrown, const char* result = nullptr);
    /// Prints the exception Java saw and fails unless it is an IOException with `message`.
    void expectIOException(const std::string& what, const Thrown& thrown, const std::string& message);

    // Events (DemoEvents.cpp).
    struct Firing;
    /// Fires one event and checks the Java callback it caused.
    void fire(const Firing& firing);
    /// Has the device raise the event from the firing's thread; each sink's HRESULT.
    std::vector<HRESULT> raise(const Firing& firing);
    /// Callbacks not shown yet, of every listener, paired with the listener.
    std::vector<std::pair<Listener*, StandIn::ReceivedEvent>> freshEvents();
    std::string threadName(std::thread::id thread) const;
    void execute(jint type, jint buttonNumber);

    /// Device entries of the call log with the device's name stripped, comma-separated.
    std::string deviceCalls(const std::string& device);

    StandIn::JvmStandIn& vm_;
    const Natives& natives_;
    AxisSim::Simulator sim_;
    int jogDials_ = 0;
    int keyPads_ = 0;
    std::thread::id mainThread_;
    std::optional<AxisSim::InitializeSpyRegistration> mainClasses_;
    std::optional<JavaThread> keyPadThread_;
    std::optional<AxisSim::InitializeSpyRegistration> keyPadClasses_;  // lives on the keypad thread
    Listener dials_;
    Listener jogDialKeys_;
    Listener keyPadKeys_;
};

}  // namespace Demo
