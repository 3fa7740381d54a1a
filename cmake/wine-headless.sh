#!/usr/bin/env bash
# Runs one Windows program under Wine without a display: in a prefix whose
# graphics driver is Wine's null driver, windows are made, take messages and
# draw, and nothing is shown, so tests of a window need no X server.
# Usage: wine-headless.sh PREFIX PROGRAM [ARGS...]; PREFIX is made on first
# use (one process at a time), then runs as cmake/wine-run.sh runs it.
set -u
prefix=${1:?usage: wine-headless.sh PREFIX PROGRAM [ARGS...]}
here=$(cd "$(dirname "$0")" && pwd)
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  [ -f "$prefix/.headless" ] && exit 0
  "$here/wine-run.sh" "$prefix" cmd.exe /c exit 0 >/dev/null 2>&1
  "$here/wine-run.sh" "$prefix" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || exit 1
  # The desktop takes its driver when it starts: the next server starts a new one.
  WINEPREFIX="$prefix" "$server" -k 2>/dev/null
  WINEPREFIX="$prefix" "$server" -w 2>/dev/null
  touch "$prefix/.headless"
) 9>"$prefix.lock" || { echo "FAILED: cannot make the headless Wine prefix $prefix" >&2; exit 1; }
unset DISPLAY WAYLAND_DISPLAY
exec "$here/wine-run.sh" "$@"
