#!/usr/bin/env bash
# The demo through the registry, as an installation works: a fresh Wine
# prefix, regsvr32 of Dravlo.dll and AxisSimulator.dll, a program (the demo
# host dravlo_registry_demo, or the COMMAND given, e.g. a real JVM) run in
# BINDIR, regsvr32 /u of both, and a check that the prefix's registry holds
# nothing of either afterwards. Exit 0 only when all passed.
# Usage: registry-demo.sh BINDIR PREFIX [SESSION] [-- COMMAND [ARGS...]]
#   PREFIX is deleted first and when the run ends (a fresh prefix takes 700 MB,
#   and a run of every test makes a dozen of them); DRAVLO_KEEP_PREFIX=1 keeps
#   it for a look afterwards. An empty SESSION is the simulator's default.
#   DRAVLO_REGISTER: the DLLs to register (default "Dravlo.dll AxisSimulator.dll"; set and
#     empty: none).
#   DRAVLO_INSTALL_DIR: a folder under the prefix's drive C: ("users/Дмитрий/App") that the
#     DLLs are copied to, registered from and the program run in; default BINDIR itself.
#   DRAVLO_ACP: the ANSI code page the prefix must have (checked when set), so that a
#     folder named outside it is what is tried.
set -u
usage='usage: registry-demo.sh BINDIR PREFIX [SESSION] [-- COMMAND [ARGS...]]'
bin=$(cd "${1:?$usage}" && pwd)
prefix=${2:?$usage}
shift 2
session=
if [ $# -gt 0 ] && [ "$1" != -- ]; then session=$1; shift; fi
command=(dravlo_registry_demo.exe)
if [ $# -gt 0 ]; then
  [ "$1" = -- ] && [ $# -gt 1 ] || { echo "$usage" >&2; exit 2; }
  shift
  command=("$@")
fi
read -r -a dlls <<<"${DRAVLO_REGISTER-Dravlo.dll AxisSimulator.dll}"
here=$(cd "$(dirname "$0")" && pwd)
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver

run() { "$here/wine-run.sh" "$prefix" "$@"; }
stop_wine() {
  WINEPREFIX="$prefix" "$server" -k 2>/dev/null
  WINEPREFIX="$prefix" "$server" -w 2>/dev/null
  return 0
}
finish() {
  stop_wine
  [ -n "${DRAVLO_KEEP_PREFIX:-}" ] || rm -rf "$prefix"
}
fail() { echo "FAILED: $*"; exit 1; }
windows_path() {
  case "$1" in
    "$prefix"/drive_c/*) local rest=${1#"$prefix"/drive_c/}; printf 'C:\\%s' "${rest//\//\\}" ;;
    *) printf 'Z:%s' "${1//\//\\}" ;;
  esac
}

# What either DLL may write: the simulator's two classes, the library's type
# library and the event interfaces it describes.
classes=('{7CC50CF7-AB83-4DF7-80A9-CA43FB554BBB}' '{7A72DE87-60CD-446E-9CE7-074DA5DA4FCF}')
ours=("${classes[@]}" '{6E2A41D7-0B93-3C58-A1F4-27D9C30E85B6}' '{4F12A272-8D8F-48EA-BEC2-B89FB44A00AF}'
      '{788CB7CD-02F7-4414-9DB8-FC2904F30592}' '{9BE025DF-EFB6-42AC-AADE-E57DDC13C4D5}')

case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
stop_wine
rm -rf "$prefix"
trap finish EXIT
# Wine's one-time set-up messages stay out of the demo's output.
run cmd.exe /c exit 0 >/dev/null 2>&1
if [ -n "${DRAVLO_ACP:-}" ]; then
  acp=$(run reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null |
        sed -n 's/.*ACP *REG_SZ *\([0-9]*\).*/\1/p')
  [ "$acp" = "$DRAVLO_ACP" ] || fail "the prefix's ANSI code page is ${acp:-unknown}, not $DRAVLO_ACP"
  echo "The prefix's ANSI code page: $acp"
fi
if [ -n "${DRAVLO_INSTALL_DIR:-}" ]; then
  install="$prefix/drive_c/$DRAVLO_INSTALL_DIR"
  mkdir -p "$install" || fail "cannot make $install"
  for dll in "${dlls[@]}"; do cp "$bin/$dll" "$install/" || fail "cannot copy $dll"; done
  bin=$install
  echo "Copied to $(windows_path "$install")"
fi

echo "Installing in a fresh Wine prefix:"
for dll in "${dlls[@]}"; do
  run regsvr32 /s "$(windows_path "$bin/$dll")" >/dev/null 2>&1 || fail "regsvr32 $dll (status $?)"
  echo "   regsvr32 $dll -> registered"
done
[[ " ${dlls[*]} " == *" AxisSimulator.dll "* ]] || classes=()
for class in "${classes[@]}"; do
  entry=$(run reg query "HKCR\\CLSID\\$class\\InprocServer32" 2>/dev/null)
  grep -q 'AxisSimulator.dll' <<<"$entry" && grep -q 'Both' <<<"$entry" ||
    fail "class $class is not registered to AxisSimulator.dll with ThreadingModel Both"
  echo "   HKCR\\CLSID\\$class\\InprocServer32: AxisSimulator.dll, ThreadingModel Both"
done
echo

if [ -n "$session" ]; then
  [ -f "$session" ] || fail "no session file $session"
  session=$(cd "$(dirname "$session")" && pwd)/$(basename "$session")
  export AXIS_SIMULATOR_SESSION
  AXIS_SIMULATOR_SESSION=$(windows_path "$session")
fi
# A program other than the demo host does not show what the simulator saw:
# its log, without times, process and thread ids and steps, shows it here.
log=
if [ "${command[0]}" != dravlo_registry_demo.exe ] && [ -z "${AXIS_SIMULATOR_LOG:-}" ]; then
  log="$prefix/AxisSimulator.log"
  export AXIS_SIMULATOR_LOG
  AXIS_SIMULATOR_LOG=$(windows_path "$log")
fi
(cd "$bin" && run "${command[@]}")
status=$?
# A program that dies without a word (a crash, Wine failing to start it)
# still leaves a line to go by.
[ "$status" -eq 0 ] || echo "${command[0]##*/} exited with status $status"
echo
if [ -n "$log" ] && [ -f "$log" ]; then
  echo "What the simulator logged (its calls from the library, and the events it raised):"
  sed -E -n 's/^[0-9:.]+ pid=[0-9]+ thread=[0-9]+ step=[0-9]+ /   /p' "$log" | grep -v -E 'QueryInterface|Release->[1-9]'
  echo
fi

echo "Uninstalling:"
for ((i = ${#dlls[@]} - 1; i >= 0; --i)); do
  dll=${dlls[i]}
  run regsvr32 /s /u "$(windows_path "$bin/$dll")" >/dev/null 2>&1 || fail "regsvr32 /u $dll (status $?)"
  echo "   regsvr32 /u $dll -> unregistered"
done
# The server writes the registry files when it stops.
stop_wine
# A registry file the server could not write (a full disk) holds nothing of
# ours either: its absence is a failure, not a pass.
for hive in system user; do
  [ -s "$prefix/$hive.reg" ] || fail "the prefix has no $hive.reg: Wine could not write its registry"
done
left=$(grep -H -i -c -F -e AxisSimulator -e Dravlo "${ours[@]/#/-e}" "$prefix"/*.reg | grep -v ':0$')
[ -z "$left" ] || fail "the prefix's registry still holds entries of ours: $left"
echo "   the prefix's registry holds nothing of Dravlo.dll or AxisSimulator.dll"
exit $status
