#pragma once
// What every benchmark program shares: timing one run of N events and the
// line format scripts/bench.sh reads. The programs print raw runs only; the
// script takes the medians, the ratios and the verdicts, so the goals live in
// one place.
//
//   run <figure> <ns per event>
//   mem <figure> <events> <bytes after warm-up> <bytes after the events> <largest step between samples>
//   count <figure> <events>   (its instructions are callgrind's next dump, in the order of these lines)

#include <valgrind/callgrind.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace DravloBench {

/// Events per run, runs per figure and events of the memory figures; the
/// quick mode keeps the whole command under a minute.
struct Sizes {
    int runs = 5;
    long eventsPerRun = 200000;
    long slowEventsPerRun = 2000;  ///< for figures with a thread per event
    long memoryEvents = 1000000;
    long slowMemoryEvents = 1000000;  ///< for figures of several microseconds an event
    long warmUpEvents = 20000;
    long countEvents = 2000;  ///< per count figure, under callgrind
};

/// Wall-clock ns per event of `events` calls of `event(i)`.
template <class Event>
double nsPerEvent(long events, Event&& event) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < events; ++i) event(i);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(events);
}

inline void printRun(const char* figure, double ns) {
    std::printf("run %s %.1f\n", figure, ns);
    std::fflush(stdout);
}

/// Runs each of `figures` `runs` times, interleaved, so that a burst of load
/// from elsewhere falls on all of them alike.
template <class Figure>
void interleave(int runs, const std::vector<Figure>& figures) {
    for (int r = 0; r < runs; ++r)
        for (const Figure& f : figures) printRun(f.name, f.run());
}

/// Ends a count figure whose events toggled the collection themselves (on
/// threads of their own): dumps what was collected. The dumps are numbered;
/// the script pairs them with these lines in order. (Only requests without
/// arguments: valgrind.h passes them as `unsigned long`, which 64-bit
/// Windows cuts to 32 bits, so a dump's name would not survive there.)
inline void dumpCount(const char* figure, long events) {
    CALLGRIND_DUMP_STATS;
    std::printf("count %s %ld\n", figure, events);
    std::fflush(stdout);
}

/// Counts the instructions of `events` calls of `event(i)` on the calling
/// thread (and only there: callgrind's collection state is per thread), as
/// one dump. Run under `valgrind --tool=callgrind
/// --collect-atstart=no`; natively the requests do nothing.
template <class Event>
void countFigure(const char* figure, long events, Event&& event) {
    CALLGRIND_TOGGLE_COLLECT;
    for (long i = 0; i < events; ++i) event(i);
    CALLGRIND_TOGGLE_COLLECT;
    dumpCount(figure, events);
}

/// The sizes of the quick mode: the whole command in under a minute.
inline Sizes quickSizes() {
    Sizes sizes;
    sizes.eventsPerRun /= 4;
    sizes.slowEventsPerRun /= 4;
    sizes.slowMemoryEvents /= 10;
    return sizes;
}

/// Memory of the process sampled after a warm-up and after each of `blocks`
/// equal blocks of `events` events; prints the growth and the largest step
/// between successive samples (the figure's own noise).
template <class Sample, class Event>
void memoryFigure(const char* figure, long warmUp, long events, Sample&& sample, Event&& event, int blocks = 10) {
    for (long i = 0; i < warmUp; ++i) event(i);
    const std::int64_t before = sample();
    std::int64_t previous = before;
    std::int64_t largestStep = 0;
    for (int b = 0; b < blocks; ++b) {
        for (long i = 0; i < events / blocks; ++i) event(i);
        const std::int64_t now = sample();
        const std::int64_t step = now > previous ? now - previous : previous - now;
        if (step > largestStep) largestStep = step;
        previous = now;
    }
    std::printf("mem %s %ld %lld %lld %lld\n", figure, events, static_cast<long long>(before),
                static_cast<long long>(previous), static_cast<long long>(largestStep));
    std::fflush(stdout);
}

}  // namespace DravloBench
