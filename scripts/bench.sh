#!/usr/bin/env bash
# The event path, measured: builds the benchmark programs of both presets,
# runs them and prints, per figure, ns per event as the median of the runs
# with its ratio against the goal, and the memory figures, with the machine
# and the toolchains they came from.
# Usage: scripts/bench.sh [--quick] [--profile]
#   --quick    shorter runs (the whole command in under a minute once built)
#   --profile  where a real-JVM goal is missed, a perf profile of that figure
set -uo pipefail
cd "$(dirname "$0")/.."

quick="" profile=0
for arg in "$@"; do
  case $arg in
    --quick) quick=quick ;;
    --profile) profile=1 ;;
    *) echo "usage: scripts/bench.sh [--quick] [--profile]" >&2; exit 2 ;;
  esac
done
scripts/deps.sh || exit 1

prefix="$PWD/build/windows/wineprefix"
raw=$(mktemp)
finish() {
  rm -f "$raw"
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w 2>/dev/null
  fi
  return 0
}
trap finish EXIT

build() {
  local log
  log=$(mktemp)
  if ! { cmake --preset "$1" && cmake --build --preset "$1" --target dravlo_bench; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "scripts/bench.sh: the $1 build failed" >&2
    exit 1
  fi
  rm -f "$log"
}
build windows
build host

java=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
# A fixed, pre-touched heap: the resident set then moves only with what the
# process allocates outside the Java heap.
jvm_options=(-Xms128m -Xmx128m -XX:+AlwaysPreTouch)
read -r -a jvm_args <build/host/bench-jvm-args.txt

echo "Dravlo event path benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')${quick:+ (quick)}"
echo "machine:   $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "toolchain: $(x86_64-w64-mingw32-g++-posix --version | head -1); $(g++ --version | head -1)"
echo "           $(/usr/lib/wine/wine64 --version); $("$java" -version 2>&1 | head -1); $(cmake --version | head -1)"
echo

cmake/wine-run.sh "$prefix" "$PWD/build/windows/bin/dravlo_bench_wine.exe" $quick >>"$raw" 2>&1
"$java" "${jvm_options[@]}" "${jvm_args[@]}" $quick >>"$raw" 2>&1

# Medians per figure, then the report; scripts/bench-report.awk holds the goals.
{
  grep '^run ' "$raw" | sort -k2,2 -k3,3g |
    awk 'function out() { print "median", key, v[int((n + 1) / 2)], n, v[int((n + 3) / 4)], v[int((3 * n + 1) / 4)] }
         $2 != key { if (n) out(); key = $2; n = 0 }
         { v[++n] = $3 } END { if (n) out() }'
  grep -E '^(mem|error) ' "$raw"
} | awk -f scripts/bench-report.awk
status=${PIPESTATUS[1]}
grep -vE '^(run|mem|error) ' "$raw" | sed 's/^/output: /'

if [ "$profile" -eq 1 ]; then
  echo
  echo "profile of the real-JVM runs (perf, user space, our own and the JVM's symbols):"
  if perf record -q -g -o "$raw.perf" -- "$java" "${jvm_options[@]}" "${jvm_args[@]}" quick >/dev/null 2>&1; then
    perf report -i "$raw.perf" --no-children --sort dso,symbol --stdio 2>/dev/null |
      grep -E '^ +[0-9.]+%' | head -40
  else
    echo "  perf record is not available here"
  fi
  rm -f "$raw.perf"
fi
exit "$status"
