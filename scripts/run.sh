#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the simulated
# QV-6100 on COM3 of the project's Wine prefix and runs QV-6100 Update
# against it.
#   With a display (DISPLAY set) you drive the window yourself; it ends when
#   you click Exit in the window (or press Ctrl+C here).
#   Without one it runs under Xvfb with the autopilot: it presses OK, answers
#   every message with OK, prints what the user would see, saves screenshots
#   in build/win/run/, opens the About box and clicks Exit, so that the
#   command ends by itself after one update (Ctrl+C stops it sooner).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
# Only what a run uses: the simulator and the program with its autopilot,
# desktop keeper and help file.
scripts/build.sh host:qv6100-sim win:QV6100_UPDATE,qv_autopilot,qv_desktop_keeper,qv_help >/dev/null

# QV_SIM, or the default that wine-env.sh gives it.
sim_exe=$(source scripts/wine-env.sh && echo "$QV_SIM")
if [ ! -x "$sim_exe" ]; then
  echo "run.sh: error: the simulator $sim_exe is missing or not executable (build it: scripts/build.sh host)." >&2
  exit 1
fi

export QV_BUILD_DIR=$root/build/win
if [ -n "${DISPLAY:-}" ]; then export QV_KEEP_DISPLAY=1; fi
scripts/wine-up.sh "$QV_BUILD_DIR"
source scripts/wine-env.sh

run=$QV_BUILD_DIR/run
mkdir -p "$run"
rm -f "$run"/stop "$run"/ready "$run"/sim.out "$run"/wire.log
com=3
"$sim_exe" --prefix "$WINEPREFIX" --com $com --s1 auto \
  --log "$run/wire.log" --ready "$run/ready" --stop-file "$run/stop" \
  --image-out "$run/flash-image.bin" --program-out "$run/write-control-program.bin" \
  --baud "${QV_BAUD:-0}" --lifetime 3600 >"$run/sim.out" 2>&1 &
sim=$!
cleanup() { touch "$run/stop"; wait $sim 2>/dev/null || true; scripts/wine-down.sh "$QV_BUILD_DIR" >/dev/null 2>&1; }
trap cleanup EXIT
# The simulator writes the ready file once COM3 points at its pseudo-terminal.
for _ in $(seq 1 200); do
  [ -f "$run/ready" ] && break
  kill -0 $sim 2>/dev/null || break
  sleep 0.05
done
if [ ! -f "$run/ready" ]; then
  if kill -0 $sim 2>/dev/null; then
    why="did not come up within 10 s"
  else
    rc=0
    wait $sim || rc=$?
    why="stopped with exit status $rc"
  fi
  {
    echo "run.sh: error: the simulated QV-6100 ($sim_exe) $why; COM$com has no unit behind it."
    said=0
    for f in "$run/sim.out" "$run/wire.log"; do
      [ -s "$f" ] || continue
      echo "--- $f (last lines):"
      tail -n 20 "$f"
      said=1
    done
    [ $said -eq 1 ] || echo "It printed nothing (its output: $run/sim.out)."
  } >&2
  exit 1
fi

# Start from a unit not yet identified on this PC, so every step shows. The
# key is what an installer would create.
wine reg add 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /v Data /t REG_DWORD /d 0 /f >/dev/null 2>&1

echo "Simulated QV-6100 on COM$com (wire log: $run/wire.log)."
echo "It switches itself to firmware writing mode when the updater starts the writing step."
if [ -n "${QV_KEEP_DISPLAY:-}" ]; then
  echo "Starting QV-6100 Update. Select COM$com and click OK. Stop: click Exit (or Ctrl+C here)."
  wine "$QV_BUILD_DIR/QV6100_UPDATE.exe"
else
  echo "No display: the autopilot runs one update under Xvfb, then exits. Stop it sooner: Ctrl+C."
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
