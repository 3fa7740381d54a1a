#!/usr/bin/env bash
# realjvm.Panel: the simulator's panel on a display of its own (Xvfb), worked
# as a user works it (xdotool) while COMMAND (cmake/registry-demo.sh running
# the Java program RealPanelTests on Avian) listens. The two meet in the
# simulator's log, never in a pause: every step waits for what it needs to see
# (the window, a log entry, a pixel), with a deadline.
#   1. both devices started (their Start in the log); the panel's window is there;
#   2. keypad button 5 drawn unlit; a click on it, and one on jog forward;
#   3. once Java has switched button 5's backlight on (SetBacklight(5,1) in the
#      log), button 5 is drawn lit;
#   4. the key 1 typed on the panel;
#   5. once Java has closed the keypad, jog forward clicked again: the panel
#      stays while the jog dial is open;
#   6. COMMAND ends by itself, with the panel still open in it, with status 0.
# Usage: panel-check.sh LOG PREFIX -- COMMAND [ARGS...]
#   LOG: the simulator's log file (AXIS_SIMULATOR_LOG, as a Unix path); PREFIX:
#   COMMAND's Wine prefix, stopped here when a step fails.
#   DRAVLO_PANEL_SCREENSHOT=FILE.png keeps a picture of the panel taken at step 3.
set -u
usage='usage: panel-check.sh LOG PREFIX -- COMMAND [ARGS...]'
log=${1:?$usage}
prefix=${2:?$usage}
[ "${3:-}" = -- ] && [ $# -gt 3 ] || { echo "$usage" >&2; exit 2; }
shift 3

# Where the panel draws what (client pixels; simulator/PanelWindow.cpp).
button5_face="22 100"       # inside keypad button 5, clear of its label
button5_centre="42 117"
jog_forward_centre="464 117"
unlit='E0E0E0' lit='FFC400'

work=$(mktemp -d)
xvfb= command=
finish() {
  [ -n "$command" ] && kill -- -"$command" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "FAILED: panel: $*"
  if [ -n "$command" ]; then
    kill -- -"$command" 2>/dev/null
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
    wait "$command" 2>/dev/null
    command=
  fi
  exit 1
}
# await SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, at most SECONDS.
await() {
  local end=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    [ $SECONDS -lt $end ] || fail "no $what within the deadline"
    [ -z "$command" ] || kill -0 "$command" 2>/dev/null || fail "no $what: the program ended first"
    sleep 0.1
  done
}
logged() { grep -q -F -e "$1" "$log" 2>/dev/null; }
both_started() { logged ' KeyPadDevice#0.Start' && logged ' JogDialDevice#0.Start'; }
find_window() {
  window=$(timeout 10 xdotool search --onlyvisible --name '^Axis Simulator$' 2>/dev/null | head -n 1)
  [ -n "$window" ]
}
# The colour of the panel's client pixel X Y as RRGGBB.
pixel() {
  timeout 10 import -window "$window" -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p'
}
pixel_is() { [ "$(pixel $1 $2)" = "$3" ]; }
click() { timeout 10 xdotool mousemove --window "$window" $1 $2 click 1; }

# A display of its own: Xvfb picks a free number and writes it to fd 1.
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
await 20 "display from Xvfb" grep -q '^[0-9]' "$work/display"
export DISPLAY=":$(head -n 1 "$work/display")"

rm -f "$log"  # what is awaited below must come from this run
setsid "$@" &
command=$!

await 120 "Start of both devices in the log" both_started
await 30 "panel window" find_window
echo "The panel: window $window on $DISPLAY"
await 10 "keypad button 5 drawn unlit (#$unlit)" pixel_is $button5_face $unlit
click $button5_centre
await 20 "click on keypad button 5 in the log" logged 'KeyPadDevice#0.Fire:ButtonUp(0,5)'
click $jog_forward_centre
await 20 "click on jog forward in the log" logged 'JogDialDevice#0.Fire:JogMove(0,1)'
echo "   clicked keypad button 5 and jog forward"
await 60 "SetBacklight(5,1) from Java in the log" logged 'KeyPadDevice#0.SetBacklight(5,1)'
await 20 "keypad button 5 drawn lit (#$lit)" pixel_is $button5_face $lit
echo "   keypad button 5 drawn lit after SetBacklight(5,1)"
[ -z "${DRAVLO_PANEL_SCREENSHOT:-}" ] || timeout 10 import -window "$window" "$DRAVLO_PANEL_SCREENSHOT"
timeout 10 xdotool windowfocus --sync "$window" || fail "the panel did not take the keyboard focus"
timeout 10 xdotool key 1
await 20 "key 1 in the log" logged 'Panel.ButtonUp(keypad,1) by key 1'
echo "   typed the key 1"
await 30 "the keypad's release in the log" logged 'KeyPadDevice#0.Release->0'
find_window || fail "the panel closed with the keypad while the jog dial lives"
click $jog_forward_centre
echo "   the keypad closed; clicked jog forward again"

# The program ends by itself, with the panel open.
end=$((SECONDS + 90))
while kill -0 "$command" 2>/dev/null; do
  [ $SECONDS -lt $end ] || fail "the program did not end with the panel open"
  sleep 0.2
done
wait "$command"
status=$?
command=
logged 'Panel.Closed' && fail "the panel closed before the program ended"
exit $status
