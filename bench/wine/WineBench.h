#pragma once
// The figures measured under Wine, each a function of the run sizes.

#include "bench/BenchRuns.h"

namespace DravloBench {

/// Whether a program times its figures or counts their instructions (under
/// callgrind; see countFigure).
enum class Measure { Time, Count };

/// The process's private bytes (PrivateUsage), or -1 when not available.
long long privateBytes();

/// The library's jog dial sink against BareSink, one JogMove of two VT_I4 per
/// event into the same do-nothing receiver, and the receiver's rundown alone
/// (what the sink's teardown protection costs); then the sink's memory figure.
void sinkDecode(const Sizes& sizes, Measure measure);

/// A JogMove from the simulated device through Dravlo.dll's sink, receiver and
/// driver into a Java listener on the JVM stand-in, against the same JNI calls
/// made directly; then the memory figures of both.
void wholePath(const Sizes& sizes, Measure measure);

}  // namespace DravloBench
