#!/usr/bin/env bash
# Builds what the benchmarks need, brings up a Wine prefix, runs one full
# update against the simulated unit (qv_bench) and times the program's
# start-up (qv_startup_bench), then takes the prefix down again.
#   bench/run.sh [--baud N] [--com N] [--latency MS] [--json FILE] [--runs N]
#   bench/run.sh --units N [--baud N] [--latency MS]
#   bench/run.sh --help        prints this text; nothing is built or started
# --runs goes to qv_startup_bench, everything else to qv_bench (--latency MS:
# the simulator holds each answer MS ms). --units N runs N updates at once,
# each with a unit, a COM port (COM19, COM18, ...) and a window of its own,
# and no start-up timing. At the default 9600 baud the update takes about 5
# minutes; --baud 115200 well under one. Everything lands in build/win/bench/:
# results (update-<baud>[-latency<MS>].json, startup.json; with --units
# units<N>-<K>.json and .txt), the simulators' files, and the prefix itself
# (wine/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/win
bench=$build/bench
export QV_BENCH_DIR=$bench
jobs=${QV_JOBS:-1}

bench_args=()
startup_args=()
units=1
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help)
      # This file's opening comment.
      awk 'NR == 1 { next } !/^#/ { exit } { sub(/^# ?/, ""); print }' "$0"
      exit 0
      ;;
    --runs) startup_args+=(--runs "${2:?--runs needs a number}"); shift 2 ;;
    --units)
      units=${2:?--units needs a number}
      case $units in '' | *[!0-9]* | 0) echo "bench/run.sh: --units takes a number from 1 to 8" >&2; exit 2 ;; esac
      [ "$units" -le 8 ] || { echo "bench/run.sh: --units takes a number from 1 to 8" >&2; exit 2; }
      shift 2
      ;;
    *) bench_args+=("$1"); shift ;;
  esac
done
if [ "$units" -gt 1 ] && [[ " ${bench_args[*]} " =~ \ --(com|json)[\ =] ]]; then
  echo "bench/run.sh: --units gives each unit its COM port and results file: leave out --com and --json" >&2
  exit 2
fi

targets=(qv_bench qv_startup_bench QV6100_UPDATE)
cmake --preset host >/dev/null
cmake --build --preset host --target qv6100-sim -j"$jobs"
cmake --preset win >/dev/null
# The tests' desktop keeper, when the tests are configured: a desktop that
# is already up, as on a user's PC, keeps its start out of the figures.
if cmake --build --preset win --target help | grep -q '^qv_desktop_keeper'; then targets+=(qv_desktop_keeper); fi
cmake --build --preset win --target "${targets[@]}" -j"$jobs"

# A prefix of the benchmark's own (wine-env.sh puts it under
# $QV_BUILD_DIR/wine): the tests take build/win's prefix up and down as they
# run, which would cut a benchmark short, and a benchmark theirs.
mkdir -p "$bench"
[ -f "$build/qv_desktop_keeper.exe" ] && cp -f "$build/qv_desktop_keeper.exe" "$bench/"
export QV_BUILD_DIR=$bench
scripts/wine-up.sh "$bench" >/dev/null
trap 'scripts/wine-down.sh "$bench" >/dev/null 2>&1' EXIT
source scripts/wine-env.sh

# CPU seconds of this prefix's wineserver: work done for the program (window
# messages, some port calls) that its own CPU time does not include.
server_cpu() {
  local p
  for p in $(qv_prefix_pids wineserver); do
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$p/stat"
    return
  done
  echo 0
}

# Other work on the machine skews every figure: say how busy it was.
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
status=0
if [ "$units" -gt 1 ]; then
  # One qv_bench a unit, all at once; each prints its own table.
  pids=()
  for k in $(seq 1 "$units"); do
    scripts/wine-run.sh "$build/qv_bench.exe" --com $((20 - k)) --json "$bench/units$units-$k.json" \
      "${bench_args[@]}" >"$bench/units$units-$k.txt" 2>&1 &
    pids+=($!)
  done
  for k in $(seq 1 "$units"); do
    wait "${pids[$((k - 1))]}" || status=1
    echo "Unit $k of $units: $(grep -E '^  (result|total time) ' "$bench/units$units-$k.txt" | tr -s ' ' | paste -sd ';')"
  done
  echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit "$status"
fi
server_before=$(server_cpu)
scripts/wine-run.sh "$build/qv_bench.exe" "${bench_args[@]}" || status=$?
echo "wineserver CPU during qv_bench: $(awk -v a="$server_before" -v b="$(server_cpu)" 'BEGIN { printf "%.2f", b - a }') s"
echo
scripts/wine-run.sh "$build/qv_startup_bench.exe" "${startup_args[@]}" || status=$?
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
