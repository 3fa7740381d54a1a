#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]; PREFIX is the build directory's
# own Wine prefix, so builds never share registry state.
# Wine's helpers (wineserver, services, explorer) inherit stdout/stderr, and
# CTest waits until every holder of those pipes exits; so the program writes
# to temporary files that are printed afterwards, and a persistent wineserver
# keeps the prefix warm between tests.
set -u
WINEPREFIX=${1:?usage: wine-run.sh PREFIX PROGRAM [ARGS...]}
shift
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver

mkdir -p "$WINEPREFIX"
# Start (or keep) a server that lingers for a minute after its last client.
"$server" -p60 </dev/null >/dev/null 2>&1

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$wine" "$@" </dev/null >"$out" 2>"$err"
status=$?
# Wine writes CRLF for text-mode output of Windows programs.
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
# A failure without a word (Wine failing to start the program, a crash before
# its first line) still leaves a line to go by.
if [ "$status" -ne 0 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
  echo "wine-run.sh: ${1##*[/\\]} exited with status $status and printed nothing" >&2
fi
exit $status
