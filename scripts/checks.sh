#!/usr/bin/env bash
# What does not fit in scripts/test.sh's ten minutes on two cores
# (docs/checks.md): every Wine test once more, on what Clang and lld built
# (the windows-clang preset; building it also runs clang-tidy and cppcheck,
# as scripts/test.sh does), then the event path's instruction counts against
# bench/counts.baseline (scripts/bench.sh --check, docs/benchmark.md). Fails
# when either does; no wineserver outlives it.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

prefix="$PWD/build/windows-clang/wineprefix"
headless="$PWD/build/windows-clang/wineprefix-headless"  # the panel's tests: no display (cmake/wine-headless.sh)
source scripts/wine-session.sh
wine_prefixes+=("$prefix" "$headless")

set -e
cmake --preset windows-clang >/dev/null
cmake --build --preset windows-clang
set +e

# Create the prefixes once, before tests start in parallel.
cmake/wine-run.sh "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1
cmake/wine-headless.sh "$headless" cmd.exe /c exit 0 >/dev/null 2>&1

status=0
ctest --preset windows-clang || status=1
echo
echo "The event path's instruction counts against bench/counts.baseline:"
scripts/bench.sh --check || status=1
exit $status
