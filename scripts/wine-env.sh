# Sourced: the environment of the project's own Wine prefix for one build
# folder (never the user's ~/.wine). QV_BUILD_DIR picks the folder; the
# default is build/win of this checkout.
_qv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QV_BUILD_DIR=${QV_BUILD_DIR:-$_qv_root/build/win}
export QV_BUILD_DIR
export QV_WINE_DIR="$QV_BUILD_DIR/wine"
export WINEPREFIX="$QV_WINE_DIR/prefix"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ -z "${QV_KEEP_DISPLAY:-}" ] && [ -f "$QV_WINE_DIR/display" ]; then
  DISPLAY=$(cat "$QV_WINE_DIR/display")
  export DISPLAY
fi
