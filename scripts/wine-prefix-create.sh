#!/usr/bin/env bash
# Creates the Wine prefix $WINEPREFIX unless it is already there. Shared by
# scripts/wine-up.sh and the distribution tests' tests/dist/wine-prefix.sh.
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the prefix to create}"
[ -f "$WINEPREFIX/system.reg" ] && exit 0
echo "Creating the Wine prefix $WINEPREFIX (once)..."
# A prefix left half-made by an interrupted run would stay broken.
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
wineboot -i </dev/null >/dev/null 2>&1 || { echo "FAIL: wineboot could not create $WINEPREFIX" >&2; exit 1; }
wineserver -w
[ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: wineboot left no registry in $WINEPREFIX" >&2; exit 1; }
