// The demo through the registry: Dravlo.dll and AxisSimulator.dll installed
// with regsvr32 (scripts/demo.sh does that in a fresh Wine prefix), and a Java
// program's session with both drivers played through the JVM stand-in. COM
// finds the Axis driver in the registry and loads AxisSimulator.dll, which
// plays its session (AXIS_SIMULATOR_SESSION or its default) from threads of
// its own. The demo prints every event as the Java listeners received it and
// every device call as the simulator logged it, grouped by object, so the
// output does not depend on how the two session threads interleave.
// Exit code 0 only when Java received exactly the session's events of device
// 0 of each kind and the keypad took every backlight command.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "demo/DemoStory.h"
#include "simulator/ServerLog.h"
#include "simulator/Session.h"
#include "support/jvm/Contract.h"

namespace {

using AxisSim::Kind;
using Demo::check;
using Demo::say;

/// One line of the simulator's log:
/// "<time> pid=<id> thread=<id> step=<n> <object>.<call>".
struct LogEntry {
    unsigned long thread = 0;
    std::string object;
    std::string call;
};

/// The entries this process made; other processes may share the log.
std::vector<LogEntry> readLog(const std::wstring& path) {
    std::vector<LogEntry> entries;
    const std::string mine = " pid=" + std::to_string(GetCurrentProcessId()) + " thread=";
    std::ifstream file{std::filesystem::path(path)};
    for (std::string line; std::getline(file, line);) {
        const std::size_t pid = line.find(mine);
        const std::size_t step = line.find(" step=", pid);
        const std::size_t text = line.find(' ', step + 1);
        if (pid == std::string::npos || step == std::string::npos || text == std::string::npos) continue;
        LogEntry entry;
        entry.thread = std::stoul(line.substr(pid + mine.size(), step - pid - mine.size()));
        const std::size_t dot = line.find('.', text + 1);
        entry.object = line.substr(text + 1, dot - text - 1);
        entry.call = dot == std::string::npos ? std::string() : line.substr(dot + 1);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool logged(const std::vector<LogEntry>& log, const std::string& object, const std::string& call) {
    for (const LogEntry& entry : log)
        if (entry.object == object && entry.call == call) return true;
    return false;
}

/// What Java should receive: the session's events of device 0 that Dravlo forwards.
struct Expected {
    std::size_t dial = 0;         ///< ShuttleMove and JogMove of jog dial 0
    std::size_t jogDialKeys = 0;  ///< buttons of jog dial 0
    std::size_t keyPadKeys = 0;   ///< buttons of keypad 0
    std::set<long> keyPadButtonsPressed;
    bool plays = false;
    unsigned totalWaitMs = 0;
};

Expected expectationsOf(const AxisSim::Session& session) {
    Expected expected;
    expected.plays = !session.empty();
    AxisSim::SessionWalk walk(session);
    while (const AxisSim::SessionStep* step = walk.next()) {
        if (step->op == AxisSim::SessionStep::Op::Wait) {
            expected.totalWaitMs += static_cast<unsigned>(step->value);
            continue;
        }
        if (step->device != 0 || step->dispid == AxisSim::Dispid::Error) continue;
        const bool button = step->dispid == AxisSim::Dispid::ButtonDown || step->dispid == AxisSim::Dispid::ButtonUp;
        if (step->kind == Kind::KeyPad) {
            ++expected.keyPadKeys;
            if (step->dispid == AxisSim::Dispid::ButtonDown) expected.keyPadButtonsPressed.insert(step->value);
        } else {
            ++(button ? expected.jogDialKeys : expected.dial);
        }
    }
    return expected;
}

class RegistryDemo {
public:
    RegistryDemo(StandIn::JvmStandIn& vm, const Demo::Natives& natives)
        : vm_(vm),
          natives_(natives),
          dials_(vm, "dialListener", {.className = "demo/DialListener", .onKeyEvent = false}),
          jogDialKeys_(vm, "jogDialKeyListener", {.className = "demo/JogDialKeyListener", .onDialEvent = false}),
          keyPadKeys_(vm, "keyPadKeyListener", {.className = "demo/KeyPadKeyListener", .onDialEvent = false}),
          keyPadThread_(vm, "keypad") {
        keyPadThread_.run([this] { keyPadThreadId_ = GetCurrentThreadId(); });
    }

    int run() {
        sessionPath_ = AxisSim::environmentValue(L"AXIS_SIMULATOR_SESSION");
        logPath_ = AxisSim::logPathFor(sessionPath_);
        const Expected expected = expectations();

        say(0, "2. Listeners, and the drivers initialised: COM finds the Axis driver in the registry");
        registerListeners();
        initialize();

        say(0, "3. The simulator plays its session from threads of its own");
        waitForSession(expected);

        say(0, "4. Backlight commands from Java for every keypad button pressed");
        for (long button : expected.keyPadButtonsPressed) {
            command(1, button);
            command(0, button);
        }

        say(0, "5. Shutdown");
        callInt("JogDialDriver.uninitializeImpl() on the main thread", natives_.jogDial.uninitializeImpl, false);
        callInt("KeyPadDriver.uninitializeImpl() on the keypad thread", natives_.keyPad.uninitializeImpl, true);

        showJavaEvents();
        const std::vector<LogEntry> log = readLog(logPath_);
        showLog(log);
        return verify(expected, log);
    }

private:
    using Thrown = std::optional<StandIn::ThrowableInfo>;
    using Call = std::function<void(JNIEnv*, jobject)>;

    Expected expectations() {
        say(0, "1. The session");
        if (sessionPath_.empty()) {
            say(3, "the simulator's default session (AXIS_SIMULATOR_SESSION is not set)");
            if (AxisSim::environmentValue(L"AXIS_SIMULATOR_LOG").empty())
                say(3, "its log: %%TEMP%%\\AxisSimulator.log");
            else
                say(3, "its log: %ls", logPath_.c_str());
            return expectationsOf(std::get<AxisSim::Session>(AxisSim::parseSession(AxisSim::defaultSessionText())));
        }
        say(3, "AXIS_SIMULATOR_SESSION=%ls", sessionPath_.c_str());
        say(3, "its log: %ls", logPath_.c_str());
        std::ifstream file{std::filesystem::path(sessionPath_), std::ios::binary};
        const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        auto parsed = AxisSim::parseSession(text);
        if (auto* error = std::get_if<AxisSim::SessionError>(&parsed)) {
            say(3, "malformed at line %d (%s): the simulator will play nothing", error->line, error->reason.c_str());
            malformed_ = true;
            return {};
        }
        return expectationsOf(std::get<AxisSim::Session>(parsed));
    }

    Thrown callJava(const char* javaClass, const Call& call, bool onKeyPadThread) {
        Thrown thrown;
        auto run = [&] { thrown = vm_.callNative([&](JNIEnv* env) { call(env, vm_.newInstance(env, javaClass)); }); };
        if (onKeyPadThread)
            keyPadThread_.run(run);
        else
            run();
        return thrown;
    }

    void expectNoThrow(const std::string& what, const Thrown& thrown, const std::string& result) {
        check(!thrown, what + " threw " + (thrown ? thrown->className + ": " + thrown->message : std::string()));
        say(3, "%s -> %s", what.c_str(), result.c_str());
    }

    using IntNative = decltype(Demo::Natives::JogDial::initializeImpl);
    jint callInt(const std::string& what, IntNative native, bool keyPad, bool mustBeZero = true) {
        jint result = -1;
        const char* javaClass = keyPad ? StandIn::Java::KeyPadDriver : StandIn::Java::JogDialDriver;
        const Thrown thrown = callJava(
            javaClass, [&](JNIEnv* e, jobject self) { result = native(e, self); }, keyPad);
        expectNoThrow(what, thrown, std::to_string(result));
        check(!mustBeZero || result == 0, what + " returned " + std::to_string(result));
        return result;
    }

    void registerListeners() {
        auto listen = [&](const std::string& what, bool keyPad, auto native, Demo::Listener& listener) {
            const char* javaClass = keyPad ? StandIn::Java::KeyPadDriver : StandIn::Java::JogDialDriver;
            expectNoThrow(
                what,
                callJava(
                    javaClass, [&](JNIEnv* e, jobject self) { native(e, self, listener.recording.newInstance(e)); },
                    false),
                "ok");
        };
        listen("JogDialDriver.registerDialListenerImpl(new DialListener())", false,
               natives_.jogDial.registerDialListenerImpl, dials_);
        listen("JogDialDriver.registerKeyListenerImpl(new JogDialKeyListener())", false,
               natives_.jogDial.registerKeyListenerImpl, jogDialKeys_);
        listen("KeyPadDriver.registerKeyListenerImpl(new KeyPadKeyListener())", true,
               natives_.keyPad.registerKeyListenerImpl, keyPadKeys_);
    }

    void initialize() {
        callInt("JogDialDriver.initializeImpl() on the main thread", natives_.jogDial.initializeImpl, false);
        callInt("KeyPadDriver.initializeImpl() on the keypad thread", natives_.keyPad.initializeImpl, true);
        check(GetModuleHandleW(L"AxisSimulator.dll") != nullptr, "COM did not load AxisSimulator.dll");
        say(3, "AxisSimulator.dll was loaded by COM as the registered InprocServer32 of both classes");
        callInt("JogDialDriver.getNumberOfDevicesImpl()", natives_.jogDial.getNumberOfDevicesImpl, false, false);
        callInt("KeyPadDriver.getNumberOfDevicesImpl()", natives_.keyPad.getNumberOfDevicesImpl, true, false);
    }

    void waitForSession(const Expected& expected) {
        if (!expected.plays) {
            say(3, "nothing to play");
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(expected.totalWaitMs) +
                              std::chrono::seconds(20);
        for (;;) {
            const std::vector<LogEntry> log = readLog(logPath_);
            if (logged(log, "JogDialDevice#0", "Session:end") && logged(log, "KeyPadDevice#0", "Session:end")) break;
            check(std::chrono::steady_clock::now() < deadline, "the simulator did not finish its session");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        say(3, "both sessions ended (the simulator logged Session:end for jog dial 0 and keypad 0)");
    }

    void command(jint type, long button) {
        const std::string what = "KeyPadDriver.executeCommandImpl(new KeyCommand(0, " + std::to_string(type) + ", " +
                                 std::to_string(button) + ")) on the keypad thread";
        const std::map<std::string, jint> fields = {{"fDeviceID", 0}, {"fType", type}, {"fButtonNumber", button}};
        expectNoThrow(what,
                      callJava(
                          StandIn::Java::KeyPadDriver,
                          [&](JNIEnv* e, jobject self) {
                              natives_.keyPad.executeCommandImpl(e, self,
                                                                 vm_.newInstance(e, StandIn::Java::KeyCommand, fields));
                          },
                          true),
                      type == 1 ? "backlight on" : "backlight off");
    }

    void showJavaEvents() {
        say(0, "6. Events as the Java listeners received them");
        for (Demo::Listener* listener : {&dials_, &jogDialKeys_, &keyPadKeys_}) {
            const std::vector<StandIn::ReceivedEvent> events = listener->recording.events();
            say(3, "%s: %zu", listener->name.c_str(), events.size());
            for (const StandIn::ReceivedEvent& event : events)
                say(6, "%s(%s) on %s", event.method.c_str(), Demo::describe(event).c_str(),
                    event.thread == mainThread_          ? "the main thread"
                    : event.thread == keyPadThread_.id() ? "the keypad thread"
                                                         : "a simulator thread, attached to the JVM for the call");
        }
    }

    std::string threadName(unsigned long thread, const std::map<unsigned long, std::string>& sessions) const {
        if (thread == GetCurrentThreadId()) return "main";
        if (thread == keyPadThreadId_) return "keypad";
        const auto found = sessions.find(thread);
        return found != sessions.end() ? found->second : "other thread";
    }

    void showLog(const std::vector<LogEntry>& log) {
        say(0, "7. Device calls as the simulator logged them, by object [thread]");
        std::map<unsigned long, std::string> sessions;  // a session thread's first entry names it
        std::vector<std::string> objects;
        for (const LogEntry& entry : log) {
            if (entry.call == "Session:begin") sessions.emplace(entry.thread, entry.object + " session");
            if (std::find(objects.begin(), objects.end(), entry.object) == objects.end())
                objects.push_back(entry.object);
        }
        for (const std::string& object : objects) {
            say(3, "%s", object.c_str());
            for (const LogEntry& entry : log)
                if (entry.object == object)
                    say(6, "%-40s [%s]", entry.call.c_str(), threadName(entry.thread, sessions).c_str());
        }
    }

    int verify(const Expected& expected, const std::vector<LogEntry>& log) {
        check(dials_.recording.count() == expected.dial && jogDialKeys_.recording.count() == expected.jogDialKeys &&
                  keyPadKeys_.recording.count() == expected.keyPadKeys,
              "Java did not receive exactly the session's events of jog dial 0 and keypad 0");
        for (long button : expected.keyPadButtonsPressed)
            for (const char* on : {",1)", ",0)"})
                check(logged(log, "KeyPadDevice#0", "SetBacklight(" + std::to_string(button) + on),
                      "the keypad did not log SetBacklight(" + std::to_string(button) + on);
        for (const char* device : {"JogDialDevice#0", "KeyPadDevice#0"})
            check(logged(log, device, "Start") && logged(log, device, "Close") && logged(log, device, "Release->0"),
                  std::string(device) + " was not started, closed and released");
        check(!malformed_, "the session file is malformed; the simulator played nothing");
        return 0;
    }

    StandIn::JvmStandIn& vm_;
    const Demo::Natives& natives_;
    std::thread::id mainThread_ = std::this_thread::get_id();
    Demo::Listener dials_;
    Demo::Listener jogDialKeys_;
    Demo::Listener keyPadKeys_;
    Demo::JavaThread keyPadThread_;
    DWORD keyPadThreadId_ = 0;
    std::wstring sessionPath_;
    std::wstring logPath_;
    bool malformed_ = false;
};

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("Dravlo demo through the registry: Dravlo.dll with the installed AxisSimulator.dll\n\n");
    const Demo::LoadedLibrary library(L"Dravlo.dll");
    try {
        check(static_cast<bool>(library), "could not load Dravlo.dll");
        const Demo::Natives natives(library);
        StandIn::JvmStandIn vm;
        vm.setViolationHandler([](const std::string& message) { std::printf("   JNI misuse: %s\n", message.c_str()); });
        StandIn::defineDravloContract(vm);
        vm.attachJavaThread();
        {
            RegistryDemo demo(vm, natives);
            demo.run();
        }
        vm.detachJavaThread();
    } catch (const std::exception& failure) {
        std::printf("FAILED: %s\n", failure.what());
        ExitProcess(1);
    }
    std::printf("\nDemo finished: everything happened as expected\n");
    return 0;
}
