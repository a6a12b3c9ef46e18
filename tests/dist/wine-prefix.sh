#!/usr/bin/env bash
# Brings the distribution tests' Wine prefix up (created on first use, then a
# persistent wineserver started detached, so that no Wine process holds on to
# ctest's pipes) or down (that server only).
#   wine-prefix.sh up|down TEST-DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 up|down TEST-DIR" >&2; exit 2; }
export QV_DIST_TEST_DIR=$2
source "$(dirname "$0")/env.sh"
case $1 in
  up)
    "$(dirname "$0")/../../scripts/wine-prefix-create.sh"
    setsid -w sh -c 'wineserver -p; wine cmd /c exit' </dev/null >/dev/null 2>&1
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
  down)
    wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 up|down TEST-DIR" >&2; exit 2 ;;
esac
