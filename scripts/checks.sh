#!/usr/bin/env bash
# The second opinions that do not fit in scripts/test.sh's ten minutes on two
# cores (docs/checks.md): every Wine test once more on what Clang and lld
# built (the windows-clang preset; building it also runs clang-tidy and
# cppcheck), and the concurrency core, bridge/ and the JVM stand-in natively
# under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer. Ends with one summary line; no wineserver
# outlives it.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

prefix="$PWD/build/windows-clang/wineprefix"
source scripts/wine-session.sh
wine_prefixes+=("$prefix")

set -e
for preset in windows-clang host-tsan host-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
set +e

# Create the prefix once, before tests start in parallel.
cmake/wine-run.sh "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1

status=0
failed=()
for preset in host-tsan host-asan windows-clang; do
  ctest --preset "$preset" || { status=1; failed+=("$preset"); }
done
if [ $status -eq 0 ]; then
  echo "checks: windows-clang, host-tsan and host-asan passed"
else
  echo "checks: failures in ${failed[*]}"
fi
exit $status
