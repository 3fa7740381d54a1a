#include <windows.h>
#include <ocidl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "applet_utils_dravlo_JogDialDriver.h"
#include "bench/HandForwarding.h"
#include "bench/wine/BareSink.h"
#include "bench/wine/NullReceiver.h"
#include "bench/wine/WineBench.h"
#include "simulator/AxisSimulator.h"
#include "support/jvm/Contract.h"
#include "support/jvm/JvmStandIn.h"

namespace DravloBench {

namespace {

constexpr char NullListenerClass[] = "bench/NullDialListener";

// The jog dial natives of Dravlo.dll, found by name as the JVM finds them.
struct JogDialNatives {
    decltype(&Java_applet_utils_dravlo_JogDialDriver_initializeImpl) initializeImpl = nullptr;
    decltype(&Java_applet_utils_dravlo_JogDialDriver_uninitializeImpl) uninitializeImpl = nullptr;
    decltype(&Java_applet_utils_dravlo_JogDialDriver_registerDialListenerImpl) registerDialListenerImpl = nullptr;

    bool load() {
        HMODULE dll = LoadLibraryW(L"Dravlo.dll");
        if (dll == nullptr) return false;
        find(dll, "Java_applet_utils_dravlo_JogDialDriver_initializeImpl", initializeImpl);
        find(dll, "Java_applet_utils_dravlo_JogDialDriver_uninitializeImpl", uninitializeImpl);
        find(dll, "Java_applet_utils_dravlo_JogDialDriver_registerDialListenerImpl", registerDialListenerImpl);
        return initializeImpl && uninitializeImpl && registerDialListenerImpl;
    }

private:
    template <class F>
    static void find(HMODULE dll, const char* name, F& slot) {
        slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
};

// JogMove(jogDialId 0, joggState -3) as a connection point passes it.
struct JogMoveParams {
    JogMoveParams() {
        V_VT(&args[0]) = VT_I4;
        V_I4(&args[0]) = -3;
        V_VT(&args[1]) = VT_I4;
        V_I4(&args[1]) = 0;
        params.rgvarg = args;
        params.cArgs = 2;
    }
    VARIANT args[2];
    DISPPARAMS params{};
};

// The record the jog dial receiver makes of that JogMove.
constexpr Dravlo::DialEventRecord JogMoveRecord{0, 0, 1, 1};

// Runs `body` on a new native thread, the way device events arrive.
template <class Body>
void onDeviceThread(Body&& body) {
    std::thread(std::forward<Body>(body)).join();
}

// Advises `sink` on a lone simulated jog dial, so that the device's firing
// costs can be told apart from what the sink behind it does.
bool advise(IUnknown* device, const IID& diid, IDispatch* sink) {
    IConnectionPointContainer* container = nullptr;
    if (FAILED(device->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        return false;
    IConnectionPoint* point = nullptr;
    HRESULT hr = container->FindConnectionPoint(diid, &point);
    container->Release();
    if (FAILED(hr)) return false;
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    point->Release();
    return SUCCEEDED(hr);
}

}  // namespace

void wholePath(const Sizes& sizes, Measure measure) {
    JogDialNatives natives;
    if (!natives.load()) {
        std::printf("error path: Dravlo.dll or its jog dial natives not found\n");
        return;
    }
    StandIn::JvmStandIn vm;
    StandIn::defineDravloContract(vm);
    vm.defineClass(NullListenerClass).method(StandIn::Java::OnDialEvent, StandIn::Java::OnDialEventSignature);
    AxisSim::Simulator sim;
    AxisSim::InitializeSpyRegistration classes = sim.registerOnInitialize();

    HandForwarding hand;
    jobject driver = nullptr;
    auto failed = vm.callNative([&](JNIEnv* env) {
        jobject listener = vm.newInstance(env, NullListenerClass);
        driver = env->NewGlobalRef(vm.newInstance(env, StandIn::Java::JogDialDriver));
        natives.initializeImpl(env, driver);
        if (!env->ExceptionCheck()) natives.registerDialListenerImpl(env, driver, listener);
        if (!env->ExceptionCheck()) hand.bind(env, listener);
    });
    std::shared_ptr<AxisSim::DeviceProbe> device = sim.jogDialDevice(0);
    if (failed || !device || device->sinkCount() != 1) {
        std::printf("error path: the jog dial driver did not start (%s)\n", failed ? failed->message.c_str() : "");
        return;
    }

    // The firing alone: the same device class with a sink that does least.
    NullReceiver receiver;
    BareSink bare(receiver, NullReceiver::codeOf(3));
    IUnknown* lone = nullptr;
    std::shared_ptr<AxisSim::DeviceProbe> loneProbe;
    if (FAILED(sim.createDevice(AxisSim::Kind::JogDial, 1, &lone, &loneProbe)) ||
        !advise(lone, loneProbe->eventIid(), &bare)) {
        std::printf("error path: no lone device to measure the firing on\n");
        return;
    }

    JogMoveParams jogMove;
    const std::size_t instances = vm.instancesCreated(StandIn::Java::DialEvent);
    onDeviceThread([&] { device->fireRaw(BareSink::JogMove, jogMove.params); });
    if (vm.instancesCreated(StandIn::Java::DialEvent) != instances + 1 || !vm.violations().empty() ||
        vm.attachedNativeThreads() != 0) {
        std::printf("error path: the JogMove did not reach Java cleanly: %s\n", vm.imbalance().c_str());
        return;
    }

    JavaVM* jvm = vm.javaVm();
    const std::function<void()> throughLibrary = [&] { device->fireRaw(BareSink::JogMove, jogMove.params); };
    const std::function<void()> firingOnly = [&] { loneProbe->fireRaw(BareSink::JogMove, jogMove.params); };
    const std::function<void()> direct = [&] { hand.forwardAttached(jvm, JogMoveRecord); };
    if (measure == Measure::Count) {
        // Our work is what the library's count has beyond the other two; each
        // is counted on a device thread of its own, after a warm-up there.
        const std::pair<const char*, const std::function<void()>*> counted[] = {
            {"path.library", &throughLibrary}, {"path.firing", &firingOnly}, {"path.direct", &direct}};
        for (const auto& [figure, event] : counted) {
            onDeviceThread([&, figure = figure, event = event] {
                for (long i = 0; i < sizes.countEvents; ++i) (*event)();
                countFigure(figure, sizes.countEvents, [event](long) { (*event)(); });
            });
        }
    } else {
        auto timed = [&](long events, const std::function<void()>& event) {
            return [events, &event] {
                double ns = 0;
                onDeviceThread([&] { ns = nsPerEvent(events, [&](long) { event(); }); });
                return ns;
            };
        };
        // Our work is the difference of figures ten times its size, so it is
        // taken per round of three interleaved runs (a paired difference) over
        // many short rounds; its median and spread are shown beside the count.
        const long events = sizes.slowEventsPerRun * 2;
        const auto library = timed(events, throughLibrary), firing = timed(events, firingOnly),
                   directly = timed(events, direct);
        for (int r = 0; r < sizes.runs * 5; ++r) {
            const double total = library(), fired = firing(), made = directly();
            printRun("path.library", total);
            printRun("path.firing", fired);
            printRun("path.direct", made);
            printRun("path.ours", total - fired - made);
        }

        onDeviceThread([&] {
            memoryFigure("path.library", sizes.warmUpEvents, sizes.slowMemoryEvents, privateBytes,
                         [&](long) { throughLibrary(); });
            memoryFigure("path.direct", sizes.warmUpEvents, sizes.slowMemoryEvents, privateBytes,
                         [&](long) { direct(); });
        });
    }

    failed = vm.callNative([&](JNIEnv* env) {
        hand.release(env);
        natives.uninitializeImpl(env, driver);
        env->DeleteGlobalRef(driver);
    });
    lone->Release();
    if (failed || !vm.imbalance().empty())
        std::printf("error path: unbalanced after the run: %s\n", vm.imbalance().c_str());
}

}  // namespace DravloBench
