#!/usr/bin/env bash
# Builds Dravlo.dll and runs the demo under Wine: the library loaded as a Java
# program would load it, talking to the simulated Axis device driver.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

prefix="$PWD/build/windows/wineprefix"
trap 'WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null; true' EXIT

set -e
cmake --preset windows >/dev/null
cmake --build --preset windows --target dravlo_demo
set +e
# Create the prefix first, so Wine's one-time set-up messages stay out of the demo's output.
cmake/wine-run.sh "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1
cd build/windows/bin
../../../cmake/wine-run.sh "$prefix" dravlo_demo.exe
