#!/usr/bin/env bash
# Configures and builds the presets asked for, or with no argument all four:
# the simulator with the native tests (host), the Windows program with its
# tests (win, mingw-w64), then the serial link and engine natively for
# ThreadSanitizer (tsan) and libFuzzer (fuzz).
#   scripts/build.sh [PRESET[:TARGET,TARGET...]]...
# With targets only those are built, e.g. host:qv6100-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QV_JOBS:-2}
[ $# -gt 0 ] || set -- host win tsan fuzz
for arg in "$@"; do
  preset=${arg%%:*}
  case $preset in
    host | win | tsan | fuzz) ;;
    *)
      echo "build.sh: unknown preset '$preset' (host, win, tsan or fuzz)" >&2
      exit 2
      ;;
  esac
  targets=()
  if [ "$arg" != "$preset" ]; then
    IFS=, read -r -a names <<<"${arg#*:}"
    for t in "${names[@]}"; do targets+=(--target "$t"); done
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs" "${targets[@]}"
done
