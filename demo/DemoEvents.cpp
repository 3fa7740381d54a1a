// The middle of the demo's story: device events reaching the Java listeners,
// Java's backlight commands reaching the keypad, and failures as Java sees them.

#include "bridge/Messages.h"
#include "demo/DemoStory.h"

namespace Demo {

namespace Dispid = AxisSim::Dispid;
using AxisSim::intArgs;
using Fields = std::map<std::string, jint>;

/// One device event and the one Java callback it must cause (none when `listener` is null).
struct Story::Firing {
    const char* what;  ///< the COM event as the device raises it
    AxisSim::Kind kind;
    int device;
    DISPID dispid;
    std::vector<_variant_t> args;
    On on;
    Listener* listener;
    const char* method;
    Fields fields;
};

namespace {

Fields keyEvent(jint device, jint type, jint button) {
    return {{"fDeviceID", device}, {"fEventType", type}, {"fButtonNumber", button}};
}

Fields dialEvent(jint device, jint type, jint shuttle, jint jogDirection) {
    return {{"fDeviceID", device}, {"fEventType", type}, {"fShuttleState", shuttle}, {"fJogDirection", jogDirection}};
}

}  // namespace

std::string describe(const StandIn::ReceivedEvent& event) {
    auto field = [&](const char* name) {
        auto found = event.fields.find(name);
        return found == event.fields.end() ? std::string("?") : std::to_string(found->second);
    };
    const std::string type = " device=" + field("fDeviceID") + " type=" + field("fEventType");
    if (event.className == StandIn::Java::DialEvent)
        return "DialEvent" + type + " shuttle=" + field("fShuttleState") + " jogDirection=" + field("fJogDirection");
    if (event.className == StandIn::Java::KeyEvent) return "KeyEvent" + type + " button=" + field("fButtonNumber");
    return event.className.empty() ? std::string("null") : event.className;
}

void Story::deliverEvents() {
    say(0, "5. Device events reach the Java listeners");
    const AxisSim::Kind dial = AxisSim::Kind::JogDial;
    const AxisSim::Kind pad = AxisSim::Kind::KeyPad;
    const Firing firings[] = {
        {"jog dial 0 ButtonDown(jogDialId 0, buttonIndex 3)", dial, 0, Dispid::ButtonDown, intArgs({0, 3}),
         On::MainThread, &jogDialKeys_, "onKeyEvent", keyEvent(0, 0, 3)},
        {"jog dial 0 ButtonUp(jogDialId 0, buttonIndex 3)", dial, 0, Dispid::ButtonUp, intArgs({0, 3}), On::MainThread,
         &jogDialKeys_, "onKeyEvent", keyEvent(0, 1, 3)},
        {"jog dial 0 ShuttleMove(jogDialId 0, DialState -3)", dial, 0, Dispid::ShuttleMove, intArgs({0, -3}),
         On::DeviceThread, &dials_, "onDialEvent", dialEvent(0, 0, -3, 0)},
        {"jog dial 0 JogMove(jogDialId 0, joggState +1)", dial, 0, Dispid::JogMove, intArgs({0, 1}), On::DeviceThread,
         &dials_, "onDialEvent", dialEvent(0, 1, 0, 0)},
        {"jog dial 0 JogMove(jogDialId 0, joggState -1)", dial, 0, Dispid::JogMove, intArgs({0, -1}), On::DeviceThread,
         &dials_, "onDialEvent", dialEvent(0, 1, 0, 1)},
        {"keypad 0 ButtonDown(keyPadId 0, buttonIndex 5)", pad, 0, Dispid::ButtonDown, intArgs({0, 5}),
         On::DeviceThread, &keyPadKeys_, "onKeyEvent", keyEvent(0, 0, 5)},
        {"keypad 0 ButtonUp(keyPadId 0, buttonIndex 5)", pad, 0, Dispid::ButtonUp, intArgs({0, 5}), On::KeyPadThread,
         &keyPadKeys_, "onKeyEvent", keyEvent(0, 1, 5)},
        {"jog dial 1 ButtonDown(jogDialId 1, buttonIndex 2)", dial, 1, Dispid::ButtonDown, intArgs({1, 2}),
         On::DeviceThread, nullptr, nullptr, Fields()},
    };
    for (const Firing& firing : firings) fire(firing);
}

std::vector<HRESULT> Story::raise(const Firing& firing) {
    const std::shared_ptr<AxisSim::DeviceProbe> device = sim_.device(firing.kind, firing.device);
    check(device != nullptr, std::string("the simulated driver has no device for ") + firing.what);
    std::vector<HRESULT> results;
    switch (firing.on) {
        case On::MainThread:
            say(3, "%s, fired on the main thread", firing.what);
            return device->fire(firing.dispid, firing.args);
        case On::KeyPadThread:
            say(3, "%s, fired on the keypad thread", firing.what);
            keyPadThread_->run([&] { results = device->fire(firing.dispid, firing.args); });
            return results;
        case On::DeviceThread:
            say(3, "%s, fired on a new native thread", firing.what);
            return device->fireOnNewThread(firing.dispid, firing.args);
    }
    return results;
}

void Story::fire(const Firing& firing) {
    const std::vector<HRESULT> results = raise(firing);
    auto fresh = freshEvents();
    if (firing.listener == nullptr) {
        say(6, "-> no sink advised on this device, no Java call");
        check(results.empty() && fresh.empty(), std::string(firing.what) + " reached Java");
        return;
    }
    check(results == std::vector<HRESULT>{S_OK},
          std::string(firing.what) + ": the device did not find exactly one Dravlo sink answering S_OK");
    check(fresh.size() == 1,
          std::string(firing.what) + " caused " + std::to_string(fresh.size()) + " Java callbacks instead of one");
    const auto& [listener, event] = fresh.front();
    say(6, "-> %s.%s(%s) on %s", listener->name.c_str(), event.method.c_str(), describe(event).c_str(),
        threadName(event.thread).c_str());
    StandIn::ReceivedEvent expected;
    expected.fields = firing.fields;
    expected.className = firing.fields.count("fShuttleState") ? StandIn::Java::DialEvent : StandIn::Java::KeyEvent;
    check(listener == firing.listener && event.method == firing.method && event.fields == firing.fields,
          std::string(firing.what) + " should have reached " + firing.listener->name + "." + firing.method + "(" +
              describe(expected) + ")");
}

std::vector<std::pair<Listener*, StandIn::ReceivedEvent>> Story::freshEvents() {
    std::vector<std::pair<Listener*, StandIn::ReceivedEvent>> fresh;
    for (Listener* listener : {&dials_, &jogDialKeys_, &keyPadKeys_}) {
        const std::vector<StandIn::ReceivedEvent> events = listener->recording.events();
        for (std::size_t i = listener->shown; i < events.size(); ++i) fresh.emplace_back(listener, events[i]);
        listener->shown = events.size();
    }
    return fresh;
}

std::string Story::threadName(std::thread::id thread) const {
    if (thread == mainThread_) return "the main thread";
    if (keyPadThread_ && thread == keyPadThread_->id()) return "the keypad thread";
    return "that native thread, attached to the JVM for the call only";
}

void Story::sendCommands() {
    say(0, "6. Commands from Java to the keypad");
    sim_.log().clear();
    execute(1, 5);
    execute(0, 5);
    std::vector<std::string> backlights;
    for (const std::string& entry : sim_.log().entries())
        if (entry.find(".SetBacklight") != std::string::npos) backlights.push_back(entry);
    for (const std::string& entry : backlights) say(3, "simulated keypad logged %s", entry.c_str());
    check(
        backlights == std::vector<std::string>{"KeyPadDevice#0.SetBacklight(5,1)", "KeyPadDevice#0.SetBacklight(5,0)"},
        "the keypad did not get SetBacklight(5,1) then SetBacklight(5,0):\n" + sim_.log().dump());
}

void Story::execute(jint type, jint buttonNumber) {
    const Fields fields = {{"fDeviceID", 0}, {"fType", type}, {"fButtonNumber", buttonNumber}};
    const std::string what = "KeyPadDriver.executeCommandImpl(new KeyCommand(0, " + std::to_string(type) + ", " +
                             std::to_string(buttonNumber) + ")) on the keypad thread: backlight " +
                             (type == 1 ? "on" : "off");
    expectNoThrow(what, onKeyPadThread([&](JNIEnv* e, jobject self) {
                      natives_.keyPad.executeCommandImpl(e, self,
                                                         vm_.newInstance(e, StandIn::Java::KeyCommand, fields));
                  }));
}

void Story::showFailures() {
    say(0, "7. Failures, the Java way");
    Listener dialOnly(vm_, "dialOnly", {.className = "demo/DialOnlyListener", .onKeyEvent = false});
    expectIOException("KeyPadDriver.registerKeyListenerImpl(an object without onKeyEvent)",
                      onKeyPadHere([&](JNIEnv* e, jobject self) {
                          natives_.keyPad.registerKeyListenerImpl(e, self, dialOnly.recording.newInstance(e));
                      }),
                      std::string("onKeyEvent") + Dravlo::Messages::MemberNotFoundIn + Dravlo::Messages::UnnamedClass);
    fire({"keypad 0 ButtonDown(keyPadId 0, buttonIndex 6)", AxisSim::Kind::KeyPad, 0, Dispid::ButtonDown,
          intArgs({0, 6}), On::DeviceThread, &keyPadKeys_, "onKeyEvent", keyEvent(0, 0, 6)});
    say(6, "(the earlier key listener stays registered)");
    expectIOException("KeyPadDriver.initializeImpl() on the main thread, whose COM the jog dial driver holds",
                      onKeyPadHere([&](JNIEnv* e, jobject self) { natives_.keyPad.initializeImpl(e, self); }),
                      Dravlo::Messages::KeyPadComInitFailed);
    say(6, "(so each driver is initialised on a Java thread of its own)");
}

}  // namespace Demo
