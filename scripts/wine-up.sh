#!/usr/bin/env bash
# Brings up the project's Wine prefix for testing or running: creates it on
# first use, gives it a virtual desktop, makes COM1..COM20 exactly the ports
# that the simulator publishes (all absent until then), starts a persistent
# wineserver and, unless a display is given (QV_KEEP_DISPLAY=1), an Xvfb.
#   scripts/wine-up.sh [build-dir]
set -euo pipefail
[ $# -ge 1 ] && export QV_BUILD_DIR=$(cd "$1" && pwd)
source "$(dirname "$0")/wine-env.sh"
mkdir -p "$QV_WINE_DIR"

"$(dirname "$0")/wine-down.sh" >/dev/null 2>&1 || true

"$(dirname "$0")/wine-prefix-create.sh"

# A display for windows: our own Xvfb unless asked to keep the caller's.
if [ -z "${QV_KEEP_DISPLAY:-}" ]; then
  n=91
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  echo $! >"$QV_WINE_DIR/xvfb.pid"
  echo ":$n" >"$QV_WINE_DIR/display"
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
else
  rm -f "$QV_WINE_DIR/display"
fi

# Registry settings are applied with a temporary server, before the real one.
cat >"$QV_WINE_DIR/setup.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="1024x768"

; The screen at 96 DPI, whatever a GUI test cut short left behind.
[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=-

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
$(for i in $(seq 1 20); do echo "\"COM$i\"=\"/nonexistent/qv6100-com$i\""; done)
REG
wine regedit /S "$(winepath -w "$QV_WINE_DIR/setup.reg" 2>/dev/null)" </dev/null >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w

# Which COM names exist is fixed when the server starts: folders make Wine
# count COM1..COM20 as taken (the host's own serial port lands above them);
# once it runs, links to a missing path make those ports absent until the
# simulator points one at its pseudo-terminal.
dd="$WINEPREFIX/dosdevices"
for i in $(seq 1 20); do rm -rf "$dd/com$i"; mkdir "$dd/com$i"; done
# In a session of its own: the desktop process it starts must outlive the
# caller's process group (ctest's setup test).
setsid -w sh -c 'wineserver -p; wine cmd /c exit' </dev/null >/dev/null 2>&1
# Wine's virtual desktop lives as long as some program uses it: keep one
# running, detached, so that no test or run starts (and takes down) its own.
keeper="$QV_BUILD_DIR/qv_desktop_keeper.exe"
if [ -f "$keeper" ]; then
  setsid -f wine "$keeper" </dev/null >/dev/null 2>&1
  for _ in $(seq 1 200); do [ -n "$(qv_prefix_pids -f 'explorer.exe /desktop')" ] && break; sleep 0.05; done
fi
for i in $(seq 1 20); do rmdir "$dd/com$i"; ln -sfn /nonexistent/qv6100-absent "$dd/com$i"; done
for l in "$dd"/com2[1-9] "$dd"/com[3-9][0-9]; do [ -L "$l" ] && ln -sfn /nonexistent/qv6100-absent "$l"; done
echo "Wine prefix ready: WINEPREFIX=$WINEPREFIX DISPLAY=${DISPLAY:-}"
