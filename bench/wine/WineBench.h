#pragma once
// The figures measured under Wine, each a function of the run sizes.

#include "bench/BenchRuns.h"

namespace DravloBench {

/// The process's private bytes (PrivateUsage), or -1 when not available.
long long privateBytes();

/// The library's jog dial sink against BareSink, one JogMove of two VT_I4 per
/// event into the same do-nothing receiver; then the sink's memory figure.
void sinkDecode(const Sizes& sizes);

/// A JogMove from the simulated device through Dravlo.dll's sink, receiver and
/// driver into a Java listener on the JVM stand-in, against the same JNI calls
/// made directly; then the memory figures of both.
void wholePath(const Sizes& sizes);

}  // namespace DravloBench
