#!/usr/bin/env bash
# Creates the Wine prefix $WINEPREFIX unless it is already there, and gives
# it Wine's own fonts. Shared by scripts/wine-up.sh and the distribution
# tests' tests/dist/wine-prefix.sh.
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the prefix to create}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (once)..."
  # A prefix left half-made by an interrupted run would stay broken.
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i </dev/null >/dev/null 2>&1 || { echo "FAIL: wineboot could not create $WINEPREFIX" >&2; exit 1; }
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: wineboot left no registry in $WINEPREFIX" >&2; exit 1; }
fi

# Debian's Wine 8.0 looks for its own fonts at "Z:\usr\share\wine\../fonts",
# a name it cannot open: without Marlett, caption buttons show as letters.
# Links in the prefix's Fonts folder make them the prefix's own.
for f in /usr/share/wine/fonts/*; do
  if [ -e "$f" ] && [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/${f##*/}" ]; then ln -s "$f" "$WINEPREFIX/drive_c/windows/Fonts/"; fi
done
