# Sourced by the scripts that run Wine tests: each adds its build's prefix to
# wine_prefixes, and that prefix's wineserver is stopped when the script ends,
# so nothing of the run outlives it.
wine_prefixes=()
stop_wine() {
  local prefix
  for prefix in "${wine_prefixes[@]}"; do
    [ -d "$prefix" ] || continue
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w 2>/dev/null
  done
  return 0
}
trap stop_wine EXIT
