#!/usr/bin/env bash
# The event path, measured: builds the benchmark programs of both presets,
# runs them and prints, per figure, ns per event as the median of the runs
# with its ratio against the goal, the memory figures, and the instructions
# per event that callgrind counts (a figure load cannot move), with the
# machine and the toolchains they came from.
# Usage: scripts/bench.sh [--quick] [--profile] [--check | --write-baseline]
#   --quick           shorter timed runs (the whole command in about a minute once built)
#   --profile         where a real-JVM goal is missed, a perf profile of that figure
#   --check           the counts only, against bench/counts.baseline: fails when
#                     one grew by more than 5 % (scripts/checks.sh runs this)
#   --write-baseline  the counts only, written to bench/counts.baseline
set -uo pipefail
cd "$(dirname "$0")/.."

quick="" profile=0 counts_only="" baseline=bench/counts.baseline
for arg in "$@"; do
  case $arg in
    --quick) quick=quick ;;
    --profile) profile=1 ;;
    --check) counts_only=check ;;
    --write-baseline) counts_only=write ;;
    *) echo "usage: scripts/bench.sh [--quick] [--profile] [--check | --write-baseline]" >&2; exit 2 ;;
  esac
done
scripts/deps.sh || exit 1

prefix="$PWD/build/windows/wineprefix"
raw=$(mktemp)
dumps=$(mktemp -d)
finish() {
  rm -rf "$raw" "$dumps"
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

# Instructions per event: each program runs its figures under callgrind,
# which collects only between the program's own requests, on the thread
# that makes them, and dumps once per figure. The n-th "count <figure>
# <events>" line a program prints goes with its n-th dump.
count_with_callgrind() {  # NAME COMMAND...
  local name=$1 n=0 figure events dump ir
  shift
  valgrind --tool=callgrind --collect-atstart=no --trace-children=yes \
    --trace-children-skip='*wineserver*' \
    --trace-children-skip-by-arg='*services.exe*,*winedevice.exe*,*plugplay.exe*,*explorer.exe*,*svchost.exe*,*rpcss.exe*,*wineboot.exe*' \
    --callgrind-out-file="$dumps/$name.%p" "$@" 2>"$dumps/$name.err" | tr -d '\r' >"$dumps/$name.out"
  while read -r _ figure events; do
    n=$((n + 1))
    dump=$(ls "$dumps/$name".*."$n" 2>/dev/null | head -1)
    ir=$(sed -n 's/^summary: //p' "$dump" 2>/dev/null)
    if [ -z "$ir" ]; then
      echo "error count: no callgrind dump for $figure"
    else
      awk -v figure="$figure" -v ir="$ir" -v events="$events" 'BEGIN { printf "count %s %.1f\n", figure, ir / events }'
    fi
  done < <(grep '^count ' "$dumps/$name.out")
  grep -E '^error ' "$dumps/$name.out"
  if [ "$n" -eq 0 ]; then
    echo "error count: $name counted nothing (valgrind: $(tail -1 "$dumps/$name.err"))"
  fi
}
counts() {
  # A warm prefix first, so that Wine's own services are not started (and
  # counted) under valgrind.
  cmake/wine-run.sh "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1
  WINEPREFIX="$prefix" WINEDEBUG=-all count_with_callgrind wine /usr/lib/wine/wine64 \
    "$PWD/build/windows/bin/dravlo_bench_wine.exe" count
  count_with_callgrind jvm "$java" "${jvm_options[@]}" "${jvm_args[@]}" count
}
# Our own share of the two paths: what the library's count has beyond the
# firing and the same JNI calls made directly, beyond the hand-written
# sequence on an attached thread. (The fresh-thread counts move by a few
# hundred between runs, with the JVM's attach, so theirs is not derived.)
derive() {
  awk '{ print } $1 == "count" { c[$2] = $3 }
       END {
         if (("path.library" in c) && ("path.firing" in c) && ("path.direct" in c))
           printf "count path.ours %.1f\n", c["path.library"] - c["path.firing"] - c["path.direct"]
         if (("jvm.attached.library" in c) && ("jvm.attached.hand" in c))
           printf "count jvm.attached.ours %.1f\n", c["jvm.attached.library"] - c["jvm.attached.hand"]
       }'
}

baseline_lines() {
  if [ -f "$baseline" ]; then awk '!/^#/ && NF == 2 { print "baseline", $1, $2 }' "$baseline"; fi
}

if [ -n "$counts_only" ]; then
  counts | derive >"$raw"
  if grep -q '^error ' "$raw"; then
    cat "$raw" >&2
    echo "scripts/bench.sh: the counts could not be taken" >&2
    exit 1
  fi
  if [ "$counts_only" = write ]; then
    {
      echo "# Instructions per event as callgrind counts them: scripts/bench.sh --write-baseline,"
      echo "# $(date -u '+%Y-%m-%d'), $(/usr/lib/wine/wine64 --version), $("$java" -version 2>&1 | head -1),"
      echo "# $(x86_64-w64-mingw32-g++-posix --version | head -1), $(g++ --version | head -1)."
      echo "# scripts/bench.sh --check fails when a count grows by more than 5 % over its line here."
      awk '$1 == "count" { print $2, $3 }' "$raw"
    } >"$baseline"
    echo "wrote $baseline:"
    grep -v '^#' "$baseline"
    exit 0
  fi
  { cat "$raw"; baseline_lines; } | awk -v check=1 -f scripts/bench-report.awk
  exit $?
fi

echo "Dravlo event path benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')${quick:+ (quick)}"
echo "machine:   $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "toolchain: $(x86_64-w64-mingw32-g++-posix --version | head -1); $(g++ --version | head -1)"
echo "           $(/usr/lib/wine/wine64 --version); $("$java" -version 2>&1 | head -1); $(cmake --version | head -1)"
echo

cmake/wine-run.sh "$prefix" "$PWD/build/windows/bin/dravlo_bench_wine.exe" $quick >>"$raw" 2>&1
"$java" "${jvm_options[@]}" "${jvm_args[@]}" $quick >>"$raw" 2>&1
counts >>"$raw"

# Medians per figure, then the report; scripts/bench-report.awk holds the goals.
{
  grep '^run ' "$raw" | sort -k2,2 -k3,3g |
    awk 'function out() { print "median", key, v[int((n + 1) / 2)], n, v[int((n + 3) / 4)], v[int((3 * n + 1) / 4)] }
         $2 != key { if (n) out(); key = $2; n = 0 }
         { v[++n] = $3 } END { if (n) out() }'
  grep -E '^(mem|error|count) ' "$raw" | derive
  baseline_lines
} | awk -f scripts/bench-report.awk
status=${PIPESTATUS[1]}
grep -vE '^(run|mem|error|count) ' "$raw" | sed 's/^/output: /'

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
