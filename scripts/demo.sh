#!/usr/bin/env bash
# Builds Dravlo.dll and AxisSimulator.dll and runs the demo as an installation
# works: a fresh Wine prefix, regsvr32 of both, a Java program's session with
# both drivers (through the JVM stand-in) against the simulated Axis driver
# that COM finds in the registry, then regsvr32 /u of both and a check that
# the registry holds nothing of either.
# Usage: scripts/demo.sh [SESSION]   (SESSION: a session file for the simulator)
set -uo pipefail
cd "$(dirname "$0")/.."
session=${1:-}
[ -z "$session" ] || session=$(cd "$(dirname "$session")" && pwd)/$(basename "$session") || exit 1
scripts/deps.sh || exit 1

set -e
cmake --preset windows >/dev/null
cmake --build --preset windows --target dravlo_registry_demo
set +e
exec cmake/registry-demo.sh build/windows/bin build/windows/demo-prefix ${session:+"$session"}
