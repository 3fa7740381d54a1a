// The natives of ForwardingBench: the test driver that forwards through the
// library's own pieces (ForwardingDriver) against HandForwarding, on native
// threads as a device delivers its events.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "bench/BenchRuns.h"
#include "bench/HandForwarding.h"
#include "dravlo_bench_ForwardingBench.h"
#include "tests/jvm/native/ForwardingDriver.h"

using namespace DravloBench;

namespace {

Dravlo::Testing::ForwardingDriver library;
HandForwarding hand;
JavaVM* machine = nullptr;

// The record a JogMove(0, -3) becomes.
constexpr Dravlo::DialEventRecord JogMove{0, 0, 1, 1};

// Resident set of the process in bytes, -1 when unreadable.
std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * sysconf(_SC_PAGESIZE);
}

void throughLibrary(JNIEnv*) { library.onDialEvent(JogMove); }
void byHand(JNIEnv* env) { hand.forward(env, JogMove); }

// `events` events, each on a native thread of its own that the forwarding
// attaches and detaches (the library's ThreadAttachment, or by hand).
double freshThreads(long events, bool useLibrary) {
    return nsPerEvent(events, [&](long) {
        std::thread([&] {
            if (useLibrary)
                library.onDialEvent(JogMove);
            else
                hand.forwardAttached(machine, JogMove);
        }).join();
    });
}

// `body` on one native thread attached once around it.
void onAttachedThread(const std::function<void(JNIEnv*)>& body) {
    std::thread([&] {
        void* env = nullptr;
        if (machine->AttachCurrentThread(&env, nullptr) != JNI_OK) return;
        body(static_cast<JNIEnv*>(env));
        machine->DetachCurrentThread();
    }).join();
}

double attachedThread(long events, void (*forward)(JNIEnv*)) {
    double ns = 0;
    onAttachedThread([&](JNIEnv* env) { ns = nsPerEvent(events, [&](long) { forward(env); }); });
    return ns;
}

struct Figure {
    const char* name;
    std::function<double()> run;
};

}  // namespace

JNIEXPORT jboolean JNICALL Java_dravlo_bench_ForwardingBench_bind(JNIEnv* env, jclass, jobject listener) {
    if (env->GetJavaVM(&machine) != JNI_OK) return JNI_FALSE;
    Dravlo::guardEntry(env, "bench: bind failed", [&] { library.bind(env); });
    if (env->ExceptionCheck()) return JNI_FALSE;
    library.registerDialListener(env, listener);
    if (env->ExceptionCheck() || !library.dialRegistered()) return JNI_FALSE;
    return hand.bind(env, listener) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_dravlo_bench_ForwardingBench_run(JNIEnv*, jclass, jboolean quick) {
    const Sizes sizes = quick ? quickSizes() : Sizes{};
    // Warm-up: the JIT compiles the event's constructor and the callback.
    attachedThread(sizes.warmUpEvents, throughLibrary);
    attachedThread(sizes.warmUpEvents, byHand);
    freshThreads(sizes.slowEventsPerRun / 4, true);
    freshThreads(sizes.slowEventsPerRun / 4, false);

    const long attached = sizes.eventsPerRun * 5;
    const long fresh = sizes.slowEventsPerRun;
    interleave<Figure>(sizes.runs,
                       {
                           {"jvm.attached.library", [&] { return attachedThread(attached, throughLibrary); }},
                           {"jvm.attached.hand", [&] { return attachedThread(attached, byHand); }},
                           {"jvm.fresh.library", [&] { return freshThreads(fresh, true); }},
                           {"jvm.fresh.hand", [&] { return freshThreads(fresh, false); }},
                       });
    onAttachedThread([&](JNIEnv* env) {
        memoryFigure("jvm.library", sizes.warmUpEvents, sizes.memoryEvents, residentBytes,
                     [&](long) { throughLibrary(env); });
        memoryFigure("jvm.hand", sizes.warmUpEvents, sizes.memoryEvents, residentBytes, [&](long) { byHand(env); });
    });
}

JNIEXPORT void JNICALL Java_dravlo_bench_ForwardingBench_count(JNIEnv*, jclass) {
    const Sizes sizes;
    // The JIT compiles the event's constructor, the callback and what an
    // attach runs in Java first, as in the timed runs.
    attachedThread(sizes.warmUpEvents, throughLibrary);
    attachedThread(sizes.warmUpEvents, byHand);
    freshThreads(sizes.slowEventsPerRun / 4, true);
    freshThreads(sizes.slowEventsPerRun / 4, false);
    onAttachedThread([&](JNIEnv* env) {
        countFigure("jvm.attached.library", sizes.countEvents * 10, [&](long) { throughLibrary(env); });
        countFigure("jvm.attached.hand", sizes.countEvents * 10, [&](long) { byHand(env); });
    });
    // Each event on a thread of its own, counted from before the attach to
    // after the detach; the thread's start and end are not counted.
    const long fresh = sizes.slowEventsPerRun / 10;
    for (const bool useLibrary : {true, false}) {
        for (long i = 0; i < fresh; ++i) {
            std::thread([&] {
                CALLGRIND_TOGGLE_COLLECT;
                if (useLibrary)
                    library.onDialEvent(JogMove);
                else
                    hand.forwardAttached(machine, JogMove);
                CALLGRIND_TOGGLE_COLLECT;
            }).join();
        }
        dumpCount(useLibrary ? "jvm.fresh.library" : "jvm.fresh.hand", fresh);
    }
}

JNIEXPORT void JNICALL Java_dravlo_bench_ForwardingBench_release(JNIEnv* env, jclass) {
    hand.release(env);
    library.release(env);
}
