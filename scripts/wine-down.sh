#!/usr/bin/env bash
# Stops the prefix's wineserver and the Xvfb that wine-up.sh started.
[ $# -ge 1 ] && export QV_BUILD_DIR=$(cd "$1" && pwd)
source "$(dirname "$0")/wine-env.sh"
wineserver -k 2>/dev/null
if [ -f "$QV_WINE_DIR/xvfb.pid" ]; then
  kill "$(cat "$QV_WINE_DIR/xvfb.pid")" 2>/dev/null
  rm -f "$QV_WINE_DIR/xvfb.pid" "$QV_WINE_DIR/display"
fi
exit 0
