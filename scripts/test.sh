#!/usr/bin/env bash
# Builds the presets and runs the tests: the library under Wine (the sinks,
# the life cycle and the races once more under Wine's heap checks), the
# release preset as a user installs it (its layout, and programs on a real
# JVM with its jar and its DLL), packed as cpack packs it, the JNI
# layer on the real JVM, the concurrency core natively under ThreadSanitizer
# and under AddressSanitizer with UndefinedBehaviorSanitizer. The
# windows-clang build is the second compiler, and runs clang-tidy and cppcheck
# on product code as it compiles; its Wine tests do not fit in ten minutes on
# two cores and are scripts/checks.sh (docs/checks.md). Ends with CTest's
# summary; nothing of the run (no wineserver) outlives it.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

prefix="$PWD/build/windows/wineprefix"
headless="$PWD/build/windows/wineprefix-headless"  # the panel's tests: no display (cmake/wine-headless.sh)
source scripts/wine-session.sh
wine_prefixes+=("$prefix" "$headless")

set -e
cmake --preset windows >/dev/null
cmake --build --preset windows
# What users get: the tests install it (install.Release) and check it.
cmake --preset release >/dev/null
cmake --build --preset release
(cd build/release && cpack >/dev/null)
cmake --preset host >/dev/null
cmake --build --preset host
for preset in windows-clang host-tsan host-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
set +e

# Create the prefixes once, before tests start in parallel.
cmake/wine-run.sh "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1
cmake/wine-headless.sh "$headless" cmd.exe /c exit 0 >/dev/null 2>&1

status=0
log=$(mktemp)
ctest --preset windows 2>&1 | tee -a "$log"; [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
for preset in host host-tsan host-asan; do
  ctest --preset "$preset" 2>&1 | tee -a "$log"; [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
done

# One closing line for every run: "N passed, N failed".
total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | paste -sd+)
failed=$(sed -n 's/.* \([0-9]*\) tests failed out of .*/\1/p' "$log" | paste -sd+)
rm -f "$log"
total=$((${total:-0})) failed=$((${failed:-0}))
if [ -z "$total" ] || [ "$total" -eq 0 ]; then
  echo "scripts/test.sh: no test ran" >&2
  exit 1
fi
[ "$failed" -eq 0 ] || status=1
echo "all tests: $((total - failed)) passed, $failed failed"
exit $status
