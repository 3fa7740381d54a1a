#!/usr/bin/env bash
# Builds both presets and runs every test: the library under Wine, the JNI
# layer on the real JVM. Ends with CTest's summary; nothing of the run
# (no wineserver) outlives it.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

prefix="$PWD/build/windows/wineprefix"
stop_wine() {
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w 2>/dev/null
  fi
  return 0
}
trap stop_wine EXIT

set -e
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset host >/dev/null
cmake --build --preset host
set +e

# Create the prefix once, before tests start in parallel.
cmake/wine-run.sh "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1

status=0
log=$(mktemp)
ctest --preset windows 2>&1 | tee -a "$log"; [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
ctest --preset host 2>&1 | tee -a "$log"; [ "${PIPESTATUS[0]}" -eq 0 ] || status=1

# One closing line for both runs: "N passed, N failed".
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
