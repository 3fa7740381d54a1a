// The demo: Dravlo.dll as a Java program sees it. The library is loaded and
// its natives found as a JVM would find them; the JVM is the in-process
// stand-in serving the applet.utils.dravlo classes, and the Axis device
// driver is the simulated one. The story (DemoStory.h) registers Java
// listeners, initialises both drivers, lets the devices fire, sends keypad
// commands, shows failures as Java exceptions, shuts down and checks that
// nothing is left over. Exit code 0 only when all of it happened as expected.

#include <cstdio>
#include <exception>

#include "demo/DemoStory.h"

namespace {

using Demo::say;

constexpr int JogDials = 2;
constexpr int KeyPads = 2;

// The library's DllCanUnloadNow, found by name as COM finds it.
auto canUnloadNowOf(const Demo::LoadedLibrary& library) {
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(library.entry("DllCanUnloadNow")));
    Demo::check(entry != nullptr, "Dravlo.dll does not export DllCanUnloadNow");
    return entry;
}

void tellStory(const Demo::LoadedLibrary& library) {
    say(0, "1. Loading the library");
    Demo::check(static_cast<bool>(library),
                "could not load Dravlo.dll (Windows error " + std::to_string(library.error()) + ")");
    const Demo::Natives natives(library);
    const auto canUnloadNow = canUnloadNowOf(library);
    say(3, "LoadLibrary(\"Dravlo.dll\"); %d Java natives found with GetProcAddress", Demo::Natives::count);

    say(0, "2. Java virtual machine (in-process stand-in)");
    StandIn::JvmStandIn vm;
    // Misuse of JNI is shown where it happens; the balances count it again at the end.
    vm.setViolationHandler([](const std::string& message) { std::printf("   JNI misuse: %s\n", message.c_str()); });
    StandIn::defineDravloContract(vm);
    vm.attachJavaThread();
    say(3, "classes applet.utils.dravlo.{DialEvent, KeyEvent, KeyCommand, JogDialDriver, KeyPadDriver} defined");
    say(3, "this thread is the Java main thread");
    {
        Demo::Story story(vm, natives);
        story.setUpSimulatedDriver(JogDials, KeyPads);
        story.registerListenersAndInitialize();
        story.deliverEvents();
        story.sendCommands();
        story.showFailures();
        story.shutDown();
        story.initializeWithoutJogDialComponent();
        story.checkBalances(canUnloadNow);
    }
    vm.detachJavaThread();
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("Dravlo demo: a Java program's view of Dravlo.dll, on a simulated Axis device driver\n\n");
    const Demo::LoadedLibrary library(L"Dravlo.dll");
    try {
        tellStory(library);
    } catch (const std::exception& failure) {
        std::printf("FAILED: %s\n", failure.what());
        // Devices, sinks and Java threads may still be live and hold each
        // other: leave at once rather than tear them down out of order.
        ExitProcess(1);
    }
    std::printf("\nDemo finished: everything happened as expected\n");
    return 0;
}
