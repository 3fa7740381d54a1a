// Smoke run of Dravlo.dll against the simulated Axis device driver: load the
// library as a Java program would, enter COM, create the jog dial and keypad
// collections through the driver's creation sequence, report their device
// counts and release everything again. Exit code 0 only when all went well.

#include "com/AxisDriver.h"
#include "support/axis/AxisSimulator.h"

#include <cstdio>

namespace {

constexpr int JogDials = 2;
constexpr int KeyPads = 3;

// Owns one LoadLibrary reference.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const wchar_t* name) : module_(LoadLibraryW(name)) {}
    ~LoadedLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    explicit operator bool() const { return module_ != nullptr; }

private:
    HMODULE module_;
};

// Creates one collection and prints its device count; false on failure.
template <class Holder>
bool reportCount(const char* what, REFCLSID clsid, int expected) {
    Holder collection;
    Dravlo::createAxisCollection(clsid, collection);
    if (!collection) {
        std::printf("FAILED: the %s collection could not be created\n", what);
        return false;
    }
    int count = 0;
    collection->GetCount(&count);
    std::printf("%s devices: %d\n", what, count);
    if (count != expected) std::printf("FAILED: expected %d %s devices\n", expected, what);
    return count == expected;
}

// Everything that needs COM entered on this thread.
bool runWithComEntered() {
    AxisSim::Simulator simulator;
    simulator.config(AxisSim::Kind::JogDial).deviceCount = JogDials;
    simulator.config(AxisSim::Kind::KeyPad).deviceCount = KeyPads;
    AxisSim::InProcessRegistration registration = simulator.registerInProcess();
    if (FAILED(registration.result())) {
        std::printf("FAILED: the simulated driver could not be registered (0x%08lX)\n",
                    static_cast<unsigned long>(registration.result()));
        return false;
    }
    std::printf("Simulated Axis driver registered: %d jog dials, %d keypads\n", JogDials, KeyPads);
    bool ok = reportCount<IJogDialCollectionPtr>("Jog dial", CLSID_AxisJogDial, JogDials);
    ok = reportCount<IKeyPadCollectionPtr>("Keypad", CLSID_AxisKeyPad, KeyPads) && ok;
    registration.revoke();
    long left = simulator.liveObjects();
    std::printf("Driver objects left after release: %ld\n", left);
    return ok && left == 0;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    LoadedLibrary library(L"Dravlo.dll");
    if (!library) {
        std::printf("FAILED: could not load Dravlo.dll (Windows error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("Dravlo.dll loaded\n");
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        std::printf("FAILED: CoInitialize returned 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    bool ok = runWithComEntered();
    CoUninitialize();
    std::printf(ok ? "Demo finished\n" : "Demo finished with failures\n");
    return ok ? 0 : 1;
}
