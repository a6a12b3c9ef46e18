#!/usr/bin/env bash
# The field-test sheet (docs/field-test.md) done as it is written: the
# simulator started with the sheet's own command line on a serial device,
# null-modem cables made of pseudo-terminals, QV-6100 Update under Wine on
# COM3 (mapped by run-on-linux.sh) driven by the autopilot.
#   sheet: four updates from one start; the flash checked with the sheet's cmp
#          after each that completes; the cable pulled during the third.
#   tap:   the sheet's line tap in between, the unit answering chunk 700
#          wrongly in the first of two updates; the sheet's --compare on it.
# Environment: QV_SOURCE_DIR, QV_BUILD_DIR (the win build, its prefix running)
set -euo pipefail
: "${QV_SOURCE_DIR:?}" "${QV_BUILD_DIR:?}"
mode=${1:?sheet or tap}
source "$QV_SOURCE_DIR/scripts/wine-env.sh"
here=$(cd "$(dirname "$0")" && pwd)
sheet=$QV_SOURCE_DIR/docs/field-test.md
com=3
wrong_chunk=700
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$QV_BUILD_DIR/field-rehearsal/$mode
rm -rf "$work"
mkdir -p "$work/unit" "$work/tap" "$work/shots"
# Only this script's jobs that still run: a number of one that has ended may
# already be another program's.
cleanup() {
  local p
  for p in $(jobs -p); do kill "$p" 2>/dev/null || true; done
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /t REG_SZ /d "/nonexistent/qv6100-com$com" /f \
    </dev/null >/dev/null 2>&1 || true
  ln -sfn /nonexistent/qv6100-absent "$WINEPREFIX/dosdevices/com$com"
  wine reg delete 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /f </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The first command of a sh block of the sheet that matches PATTERN, its
# continuation lines joined.
sheet_command() {
  local found
  found=$(awk -v pattern="$1" '/^```sh$/ { block = 1; next } /^```$/ { block = 0; line = ""; next }
    block { line = line $0; if (sub(/\\$/, "", line)) next; if (line ~ pattern) print line; line = "" }' "$sheet" |
    head -n 1)
  [ -n "$found" ] || fail "no command matching '$1' in a sh block of $sheet"
  echo "$found"
}
# Runs a command of the sheet in FOLDER (where the files it names land), its
# program taken from the source tree, each "DEVICE=PATH" given replacing that
# device. It execs the program: call it with & or in ( ).
run_sheet_command() {
  local folder=$1 command=$2 words i pair
  shift 2
  read -r -a words <<<"$command"
  for pair in "$@"; do
    for i in "${!words[@]}"; do [ "${words[$i]}" = "${pair%%=*}" ] && words[$i]=${pair#*=}; done
  done
  cd "$folder" && exec "$QV_SOURCE_DIR/${words[0]}" "${words[@]:1}"
}
# A null-modem cable between two pseudo-terminals, published as the links
# $work/NAME-a and $work/NAME-b; a file $work/NAME-cut pulls it.
cable() {
  python3 "$here/null_modem.py" "$work/$1-a" "$work/$1-b" "$work/$1-cut" >"$work/$1.log" 2>&1 &
  for _ in $(seq 1 100); do [ -L "$work/$1-a" ] && [ -L "$work/$1-b" ] && return; sleep 0.05; done
  fail "the null-modem cable $1 did not come up: $(cat "$work/$1.log")"
}

simulator=$(sheet_command 'qv6100-sim --device')
echo "The sheet's simulator: $simulator"
cable line
if [ "$mode" = tap ]; then
  tap=$(sheet_command 'qv6100-tap --pc')
  compare=$(sheet_command 'qv6100-tap --compare')
  echo "The sheet's tap:       $tap"
  echo "The sheet's comparison: $compare"
  cable unit-line
  run_sheet_command "$work/tap" "$tap" "/dev/ttyUSB0=$(readlink "$work/line-b")" \
    "/dev/ttyUSB1=$(readlink "$work/unit-line-a")" >"$work/tap.out" 2>&1 &
  tap_pid=$!
  unit_end=$(readlink "$work/unit-line-b")
  extra=(--fault wrong --at chunk --index $wrong_chunk --fault-once)
  runs=2
else
  unit_end=$(readlink "$work/line-b")
  extra=()
  runs=4
fi
run_sheet_command "$work/unit" "$simulator ${extra[*]}" "/dev/ttyUSB0=$unit_end" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 1 100); do
  grep -qs "qv6100-sim device" "$work/unit/wire.log" && { [ "$mode" = sheet ] || grep -qs "^# qv6100-tap" "$work/tap/wire.log"; } && break
  sleep 0.05
done
kill -0 $sim 2>/dev/null || fail "the sheet's simulator did not start: $(cat "$work/sim.out")"
[ "$mode" = sheet ] || kill -0 $tap_pid 2>/dev/null || fail "the sheet's tap did not start: $(cat "$work/tap.out")"

"$QV_SOURCE_DIR/scripts/run-on-linux.sh" --prefix "$WINEPREFIX" --com $com --no-start "$(readlink "$work/line-a")" \
  </dev/null >"$work/map.out" 2>&1 || fail "run-on-linux.sh could not map the cable: $(cat "$work/map.out")"
wine reg delete 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /v Data /f </dev/null >/dev/null 2>&1 || true

log=$work/autopilot.log
wine "$QV_BUILD_DIR/qv_autopilot.exe" "$QV_BUILD_DIR/QV6100_UPDATE.exe" "COM$com" "$work/shots" \
  --runs $runs --between-ms 3000 </dev/null >"$log" 2>&1 &

# Follows the autopilot: the sheet's cmp after each "Completed!"; in the
# sheet's run, the cable pulled at the first tenth of the third transfer the
# autopilot reports (10% to 90%), and back once that run has failed.
check=$(grep -o 'cmp image\.bin [^`]*' "$sheet" | head -n 1)
read -r -a cmp_words <<<"$check"
[ ${#cmp_words[@]} -eq 3 ] || fail "no 'cmp image.bin FILE' in $sheet"
run=0 transferring=0 checked=0 seen=0
for _ in $(seq 1 3000); do
  while IFS= read -r line; do
    seen=$((seen + 1))
    line=${line%$'\r'}
    case $line in
      "[click] OK on COM$com") run=$((run + 1)) transferring=0 ;;
      "[status] Transferring"*) transferring=1 ;;
      "[progress] "[1-9]0%*)
        if [ "$mode" = sheet ] && [ $run -eq 3 ] && [ $transferring -eq 1 ] && [ ! -f "$work/line-cut" ]; then
          touch "$work/line-cut"
          echo "cable pulled at ${line#\[progress\] }"
        fi
        ;;
      "[message] "*"Failed!"*) [ -f "$work/line-cut" ] && rm -f "$work/line-cut" && echo "cable back" ;;
      "[message] "*"Completed!"*)
        (cd "$work/unit" && cmp "${cmp_words[1]}" "$QV_SOURCE_DIR/${cmp_words[2]}") ||
          fail "run $run: the unit's flash is not the program's firmware"
        echo "run $run: $check: the same"
        checked=$((checked + 1))
        ;;
    esac
  done < <(tail -n +$((seen + 1)) "$log")
  grep -q "^the program ended" "$log" && break
  sleep 0.05
done
grep -q "^the program ended (exit code 0)" "$log" || fail "the autopilot did not finish: $(tail -n 5 "$log")"

# What each run showed: the first line of each box.
outcomes=$(tr -d '\r' <"$log" | awk '/^\[click\] OK on/ { if (n++) print s; s = "" }
  /^\[message\] / { sub(/^\[message\] [^:]*: /, ""); sub(/ \| .*/, ""); sub(/ +$/, ""); s = s (s ? " / " : "") $0 }
  END { print s }')
writing="To set the QV-6100 to firmware writing mode:"
completed="Completed!  The firmware has been updated. / To return the QV-6100 to normal mode:"
first="To start communication between the PC and QV-6100: / $writing"
failed="Failed!  The firmware has not been updated."
if [ "$mode" = sheet ]; then
  expected=$(printf '%s\n' "$first / $completed" "$writing / $completed" "$writing / $failed" "$writing / $completed")
else
  expected=$(printf '%s\n' "$first / $failed" "$writing / $completed")
fi
[ "$outcomes" = "$expected" ] || fail "the runs showed:
$outcomes
and the sheet expects:
$expected"
[ $checked -eq $((runs - 1)) ] || fail "$checked flash images checked, not $((runs - 1))"

# Ctrl+C ends the simulator (and the tap), the logs whole.
for p in $sim ${tap_pid:-}; do jobs -p | grep -qx "$p" && kill -INT "$p"; done
for _ in $(seq 1 100); do kill -0 $sim 2>/dev/null || kill -0 ${tap_pid:-$sim} 2>/dev/null || break; sleep 0.05; done
for n in $(seq 2 $runs); do
  grep -q "^# power-on after [0-9]* ms of quiet: update $n," "$work/unit/wire.log" ||
    fail "the wire log does not show where update $n starts"
done
compare_tool=$QV_SOURCE_DIR/build/host/sim/qv6100-tap
if [ "$mode" = sheet ]; then
  "$compare_tool" --compare "$work/unit/wire.log" >"$work/compare.txt" ||
    fail "the simulator's own log and its model differ: $(cat "$work/compare.txt")"
  cat "$work/compare.txt"
  echo "PASS: four updates from one start of the sheet's simulator, the third with the cable pulled"
  exit 0
fi

# The tap: every byte passed on once and in order, both ways.
cat "$work/tap.out"
grep -q "^qv6100-tap: --pc to --unit: .*added median" "$work/tap.out" || fail "the tap reported no added latency"
bytes_of() { awk -v kind="$2" '$2 == kind { for (i = 3; i <= NF; i++) print $i }' "$1" | md5sum; }
for kind in rx tx; do
  [ "$(bytes_of "$work/tap/wire.log" $kind)" = "$(bytes_of "$work/unit/wire.log" $kind)" ] ||
    fail "the tap's log does not hold the simulator's bytes ($kind)"
done
echo "the tap's log holds the simulator's bytes, both ways"
# The sheet's comparison, into the file it names.
[[ $compare == *">"* ]] || fail "the sheet's comparison writes no file: $compare"
report=$work/tap/${compare##*>}
status=0
(run_sheet_command "$work/tap" "${compare%%>*}") >"$report" 2>&1 || status=$?
cat "$report"
[ $status -eq 1 ] || fail "--compare exited $status on a log with a wrong answer"
grep -q "^update 1: .*first difference after the PC's read [0-9]* (chunk $wrong_chunk): the unit sent 15, the simulator 11" \
  "$report" || fail "--compare did not name chunk $wrong_chunk"
grep -q "^update 2: .*no difference; complete" "$report" || fail "--compare found a difference in the clean update"
echo "PASS: the tap passed two updates on byte for byte, and --compare names the wrong chunk"
