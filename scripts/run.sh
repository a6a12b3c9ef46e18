#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the simulated
# QV-6100 on COM3 of the project's Wine prefix and runs QV-6100 Update
# against it.
#   With a display (DISPLAY set) you drive the window yourself.
#   Without one it runs under Xvfb with the autopilot: it presses OK, answers
#   every message with OK, prints what the user would see and saves
#   screenshots in build/win/run/.
# Stop: click Exit in the window, or press Ctrl+C here.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
scripts/build.sh >/dev/null

export QV_BUILD_DIR=$root/build/win
if [ -n "${DISPLAY:-}" ]; then export QV_KEEP_DISPLAY=1; fi
scripts/wine-up.sh "$QV_BUILD_DIR"
source scripts/wine-env.sh

run=$QV_BUILD_DIR/run
mkdir -p "$run"
rm -f "$run"/stop "$run"/ready
com=3
"$QV_SIM" --prefix "$WINEPREFIX" --com $com --s1 auto \
  --log "$run/wire.log" --ready "$run/ready" --stop-file "$run/stop" \
  --image-out "$run/flash-image.bin" --program-out "$run/write-control-program.bin" \
  --baud "${QV_BAUD:-0}" --lifetime 3600 >"$run/sim.out" 2>&1 &
sim=$!
cleanup() { touch "$run/stop"; wait $sim 2>/dev/null || true; scripts/wine-down.sh "$QV_BUILD_DIR" >/dev/null 2>&1; }
trap cleanup EXIT
for _ in $(seq 1 200); do [ -f "$run/ready" ] && break; sleep 0.05; done

# Start from a unit not yet identified on this PC, so every step shows. The
# key is what an installer would create.
wine reg add 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /v Data /t REG_DWORD /d 0 /f >/dev/null 2>&1

echo "Simulated QV-6100 on COM$com (wire log: $run/wire.log)."
echo "It switches itself to firmware writing mode when the updater starts the writing step."
if [ -n "${QV_KEEP_DISPLAY:-}" ]; then
  echo "Starting QV-6100 Update. Select COM$com and click OK. Stop: click Exit (or Ctrl+C here)."
  wine "$QV_BUILD_DIR/QV6100_UPDATE.exe"
else
  echo "No display: running under Xvfb with the autopilot. Stop: Ctrl+C."
  autopilot="$QV_BUILD_DIR/qv_autopilot.exe"
  if [ -f "$autopilot" ]; then
    wine "$autopilot" "$QV_BUILD_DIR/QV6100_UPDATE.exe" "COM$com" "$run"
  else
    wine "$QV_BUILD_DIR/QV6100_UPDATE.exe" &
    echo "The window runs on the virtual display $DISPLAY; stop with Ctrl+C."
    wait
  fi
fi
if cmp -s "$run/flash-image.bin" "$QV_BUILD_DIR/payload/placeholder-firmware-image.bin" 2>/dev/null; then
  echo "The simulated unit's flash now holds the built-in image, byte for byte."
fi
