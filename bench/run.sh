#!/usr/bin/env bash
# Builds what the benchmarks need, brings up a Wine prefix, runs one full
# update against the simulated unit (qv_bench) and times the program's
# start-up (qv_startup_bench), then takes the prefix down again.
#   bench/run.sh [--baud N] [--com N] [--latency MS] [--json FILE] [--runs N]
# --runs goes to qv_startup_bench, everything else to qv_bench (--latency MS:
# the simulator holds each answer MS ms). At the default 9600 baud the update
# takes about 5 minutes; --baud 115200 well under one. Everything lands in
# build/win/bench/: results (update-<baud>[-latency<MS>].json, startup.json),
# the simulator's files, and the prefix itself (wine/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/win
bench=$build/bench
export QV_BENCH_DIR=$bench
jobs=${QV_JOBS:-1}

bench_args=()
startup_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) startup_args+=(--runs "${2:?--runs needs a number}"); shift 2 ;;
    *) bench_args+=("$1"); shift ;;
  esac
done

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
server_before=$(server_cpu)
scripts/wine-run.sh "$build/qv_bench.exe" "${bench_args[@]}" || status=$?
echo "wineserver CPU during qv_bench: $(awk -v a="$server_before" -v b="$(server_cpu)" 'BEGIN { printf "%.2f", b - a }') s"
echo
scripts/wine-run.sh "$build/qv_startup_bench.exe" "${startup_args[@]}" || status=$?
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
