#!/usr/bin/env bash
# Builds Dravlo.dll and AxisSimulator.dll and runs the demo as an installation
# works: a fresh Wine prefix, regsvr32 of both, a Java program's session with
# both drivers against the simulated Axis driver that COM finds in the
# registry, then regsvr32 /u of both and a check that the registry holds
# nothing of either. The Java program is the example (java/example) on the
# Avian JVM when Avian's source is at hand (see cmake/DravloAvian.cmake),
# otherwise the demo host's story through the JVM stand-in.
# Usage: scripts/demo.sh [SESSION]   (SESSION: a session file for the simulator)
set -uo pipefail
cd "$(dirname "$0")/.."
session=${1:-}
[ -z "$session" ] || session=$(cd "$(dirname "$session")" && pwd)/$(basename "$session") || exit 1
scripts/deps.sh || exit 1

set -e
cmake --preset windows >/dev/null
if [ -s build/windows/avian.txt ]; then
  cmake --build --preset windows --target dravlo_avian dravlo_example AxisSimulator
  set +e
  { read -r avian; read -r classpath; } <build/windows/avian.txt
  echo "Running java/example/DravloExample.java on the Avian JVM ($avian) for 4 s"
  echo
  exec cmake/registry-demo.sh build/windows/bin build/windows/demo-prefix "$session" -- "$avian" -cp "$classpath" \
    DravloExample 4
fi
cmake --build --preset windows --target dravlo_registry_demo
set +e
echo "Running the demo host (the JVM stand-in): no Avian source to build a real JVM from"
echo
exec cmake/registry-demo.sh build/windows/bin build/windows/demo-prefix ${session:+"$session"}
