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
ctest --preset windows || status=1
ctest --preset host || status=1
[ $status -eq 0 ] || echo "scripts/test.sh: some tests failed" >&2
exit $status
