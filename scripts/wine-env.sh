# Sourced: the environment of the project's own Wine prefix for one build
# folder (never the user's ~/.wine). QV_BUILD_DIR picks the folder; the
# default is build/win of this checkout. QV_SIM names the simulator.
_qv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QV_BUILD_DIR=${QV_BUILD_DIR:-$_qv_root/build/win}
export QV_BUILD_DIR
export QV_SIM=${QV_SIM:-$_qv_root/build/host/sim/qv6100-sim}
export QV_WINE_DIR="$QV_BUILD_DIR/wine"
export WINEPREFIX="$QV_WINE_DIR/prefix"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ -z "${QV_KEEP_DISPLAY:-}" ] && [ -f "$QV_WINE_DIR/display" ]; then
  DISPLAY=$(cat "$QV_WINE_DIR/display")
  export DISPLAY
fi

# PIDs of the processes `pgrep ARGS...` finds that run in this prefix (other
# prefixes run the same programs).
qv_prefix_pids() {
  local p
  for p in $(pgrep "$@"); do
    tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
  return 0
}
