// Set-up, shutdown and balances of the demo's story; the events, commands and
// failures in between are in DemoEvents.cpp.

#include "demo/DemoStory.h"

#include <objbase.h>

#include <algorithm>

#include "bridge/Messages.h"

namespace Demo {

namespace {

// "java/io/IOException" as Java writes it: "java.io.IOException".
std::string javaName(std::string jniName) {
    std::replace(jniName.begin(), jniName.end(), '/', '.');
    return jniName;
}

}  // namespace

Story::Story(StandIn::JvmStandIn& vm, const Natives& natives)
    : vm_(vm),
      natives_(natives),
      mainThread_(std::this_thread::get_id()),
      dials_(vm, "dialListener", {.className = "demo/DialListener", .onKeyEvent = false}),
      jogDialKeys_(vm, "jogDialKeyListener", {.className = "demo/JogDialKeyListener", .onDialEvent = false}),
      keyPadKeys_(vm, "keyPadKeyListener", {.className = "demo/KeyPadKeyListener", .onDialEvent = false}) {}

Story::~Story() {
    // The keypad thread's class registration must be revoked on that thread.
    if (keyPadThread_ && keyPadClasses_) {
        try {
            keyPadThread_->run([this] { keyPadClasses_.reset(); });
        } catch (...) {
        }
    }
}

void Story::setUpSimulatedDriver(int jogDials, int keyPads) {
    say(0, "3. Simulated Axis device driver");
    sim_.config(AxisSim::Kind::JogDial).deviceCount = jogDials;
    sim_.config(AxisSim::Kind::KeyPad).deviceCount = keyPads;
    // Its class objects appear in each thread's apartment when the library's
    // own CoInitialize enters it, as an installed driver's would.
    mainClasses_.emplace(sim_.registerOnInitialize());
    check(mainClasses_->result() == S_OK, "the simulated driver could not watch the main thread's COM start-up");
    keyPadThread_.emplace(vm_, "keypad");
    keyPadThread_->run([this] {
        keyPadClasses_.emplace(sim_.registerOnInitialize());
        check(keyPadClasses_->result() == S_OK,
              "the simulated driver could not watch the keypad thread's COM start-up");
    });
    jogDials_ = jogDials;
    keyPads_ = keyPads;
    say(3, "%d jog dials, %d keypads; Java threads: main, keypad", jogDials, keyPads);
}

void Story::registerListenersAndInitialize() {
    say(0, "4. Listeners and initialisation");
    expectNoThrow("JogDialDriver.registerDialListenerImpl(new DialListener())", onJogDial([&](JNIEnv* e, jobject self) {
                      natives_.jogDial.registerDialListenerImpl(e, self, dials_.recording.newInstance(e));
                  }));
    expectNoThrow("JogDialDriver.registerKeyListenerImpl(new JogDialKeyListener())",
                  onJogDial([&](JNIEnv* e, jobject self) {
                      natives_.jogDial.registerKeyListenerImpl(e, self, jogDialKeys_.recording.newInstance(e));
                  }));
    expectNoThrow("KeyPadDriver.registerKeyListenerImpl(new KeyPadKeyListener())",
                  onKeyPadHere([&](JNIEnv* e, jobject self) {
                      natives_.keyPad.registerKeyListenerImpl(e, self, keyPadKeys_.recording.newInstance(e));
                  }));
    expectZero("JogDialDriver.initializeImpl() on the main thread", natives_.jogDial.initializeImpl, On::MainThread);
    expectZero("KeyPadDriver.initializeImpl() on the keypad thread", natives_.keyPad.initializeImpl, On::KeyPadThread);
    jint jogDials = -1;
    jint keyPads = -1;
    onJogDial([&](JNIEnv* e, jobject self) { jogDials = natives_.jogDial.getNumberOfDevicesImpl(e, self); });
    onKeyPadHere([&](JNIEnv* e, jobject self) { keyPads = natives_.keyPad.getNumberOfDevicesImpl(e, self); });
    say(3, "JogDialDriver.getNumberOfDevicesImpl() = %d", static_cast<int>(jogDials));
    say(3, "KeyPadDriver.getNumberOfDevicesImpl() = %d", static_cast<int>(keyPads));
    check(jogDials == jogDials_ && keyPads == keyPads_, "the device counts are not those of the simulated driver");
    check(sim_.log().contains("JogDialDevice#0.Start") && sim_.log().contains("KeyPadDevice#0.Start"),
          "jog dial 0 and keypad 0 were not started:\n" + sim_.log().dump());
    say(3, "jog dial 0 and keypad 0 started; Dravlo listens to device 0 of each kind");
}

void Story::shutDown() {
    say(0, "8. Shutdown");
    sim_.log().clear();
    expectZero("JogDialDriver.uninitializeImpl() on the main thread", natives_.jogDial.uninitializeImpl,
               On::MainThread);
    expectZero("KeyPadDriver.uninitializeImpl() on the keypad thread", natives_.keyPad.uninitializeImpl,
               On::KeyPadThread);

    for (const char* device : {"JogDialDevice#0", "KeyPadDevice#0"}) {
        const std::string name = device;
        say(3, "%s calls: %s", device, deviceCalls(name).c_str());
        check(sim_.log().inOrder({name + ".Stop", name + ".Stop", name + ".Close", name + ".Release->0"}),
              name + " was not stopped, stopped, closed and released in this order:\n" + sim_.log().dump());
    }
}

void Story::initializeWithoutJogDialComponent() {
    say(0, "9. A machine without the Axis jog dial component");
    sim_.config(AxisSim::Kind::JogDial).registered = false;
    expectIOException("JogDialDriver.initializeImpl()",
                      onJogDial([&](JNIEnv* e, jobject self) { natives_.jogDial.initializeImpl(e, self); }),
                      Dravlo::Messages::JogDialInitFailed);
    jint count = -1;
    onJogDial([&](JNIEnv* e, jobject self) { count = natives_.jogDial.getNumberOfDevicesImpl(e, self); });
    say(3, "JogDialDriver.getNumberOfDevicesImpl() = %d (the count of the last initialisation that got that far)",
        static_cast<int>(count));
    check(count == jogDials_, "the device count changed after a failed initialisation");
    expectZero("JogDialDriver.uninitializeImpl()", natives_.jogDial.uninitializeImpl, On::MainThread);
    sim_.config(AxisSim::Kind::JogDial).registered = true;
}

void Story::checkBalances(HRESULT(STDAPICALLTYPE* canUnloadNow)()) {
    say(0, "10. Balances");
    // A thread whose CoInitialize answers S_OK had no apartment left open.
    HRESULT keyPadCom = E_FAIL;
    keyPadThread_->run([&] {
        keyPadClasses_.reset();
        keyPadCom = CoInitialize(nullptr);
        if (SUCCEEDED(keyPadCom)) CoUninitialize();
    });
    keyPadThread_.reset();
    mainClasses_.reset();
    const HRESULT mainCom = CoInitialize(nullptr);
    if (SUCCEEDED(mainCom)) CoUninitialize();

    const long live = sim_.liveObjects();
    say(3, "simulated driver objects alive: %ld", live);
    check(live == 0, "simulated driver objects still alive:\n" + sim_.log().dump());
    const HRESULT unload = canUnloadNow();
    say(3, "DllCanUnloadNow() = %s", unload == S_OK ? "S_OK (no sink alive)" : "S_FALSE");
    check(unload == S_OK, "DllCanUnloadNow says a sink is still alive");
    say(3, "COM on the main and keypad threads: %s",
        mainCom == S_OK && keyPadCom == S_OK ? "not initialised (every CoInitialize balanced)" : "still initialised");
    check(mainCom == S_OK, "the library left COM initialised on the main thread");
    check(keyPadCom == S_OK, "the library left COM initialised on the keypad thread");

    say(3, "JNI global references: %zu, local references: %zu", vm_.liveGlobalRefs(), vm_.liveLocalRefs());
    say(3, "JVM attaches of native threads: %zu, detaches: %zu", vm_.attaches(), vm_.detaches());
    say(3, "JNI misuse reported by the JVM: %zu; uncaught Java exceptions: %zu", vm_.violations().size(),
        vm_.uncaughtExceptions().size());
    check(vm_.attaches() == vm_.detaches(), "a native thread attached to the JVM was not detached");
    check(vm_.violations().empty(), "JNI misuse: " + (vm_.violations().empty() ? "" : vm_.violations().front()));
    check(vm_.uncaughtExceptions().empty(), "a Java exception went uncaught");
    const std::string leftOver = vm_.imbalance();
    check(leftOver.empty(), "left over in the JVM: " + leftOver);
}

// ---------------------------------------------------------------------------

Story::Thrown Story::callJava(const char* javaClass, const NativeCall& call) {
    return vm_.callNative([&](JNIEnv* env) { call(env, vm_.newInstance(env, javaClass)); });
}

Story::Thrown Story::onKeyPadThread(const NativeCall& call) {
    Thrown thrown;
    keyPadThread_->run([&] { thrown = onKeyPadHere(call); });
    return thrown;
}

void Story::expectZero(const std::string& what, IntNative native, On on) {
    const char* javaClass = on == On::MainThread ? StandIn::Java::JogDialDriver : StandIn::Java::KeyPadDriver;
    jint result = -1;
    auto call = [&] { return callJava(javaClass, [&](JNIEnv* e, jobject self) { result = native(e, self); }); };
    Thrown thrown;
    if (on == On::KeyPadThread)
        keyPadThread_->run([&] { thrown = call(); });
    else
        thrown = call();
    expectNoThrow(what, thrown, std::to_string(result).c_str());
    check(result == 0, what + " returned " + std::to_string(result));
}

void Story::expectNoThrow(const std::string& what, const Thrown& thrown, const char* result) {
    if (thrown) {
        const std::string exception = javaName(thrown->className) + ": " + thrown->message;
        say(3, "%s -> throws %s", what.c_str(), exception.c_str());
        throw Failure(what + " threw " + exception);
    }
    if (result != nullptr)
        say(3, "%s -> %s", what.c_str(), result);
    else
        say(3, "%s", what.c_str());
}

void Story::expectIOException(const std::string& what, const Thrown& thrown, const std::string& message) {
    check(thrown.has_value(), what + " threw nothing; expected java.io.IOException: " + message);
    say(3, "%s -> throws %s: \"%s\"", what.c_str(), javaName(thrown->className).c_str(), thrown->message.c_str());
    check(thrown->className == StandIn::Java::IOException && thrown->message == message,
          what + " threw the wrong exception; expected java.io.IOException: " + message);
}

std::string Story::deviceCalls(const std::string& device) {
    const std::string prefix = device + ".";
    std::string calls;
    for (const std::string& entry : sim_.log().entries()) {
        if (entry.rfind(prefix, 0) != 0) continue;
        if (!calls.empty()) calls += ", ";
        calls += entry.substr(prefix.size());
    }
    return calls;
}

}  // namespace Demo
