#!/usr/bin/env bash
# The field-test sheet (docs/field-test.md) done here as it is written: the
# simulator started with the sheet's own command line on a serial device, at
# one end of a null-modem cable made of two pseudo-terminals; the other end
# mapped to COM3 by run-on-linux.sh; QV-6100 Update under Wine, driven by the
# autopilot through four updates from one window against the one simulator:
# two that complete (each flash image checked with the sheet's own cmp line),
# one with the cable pulled during the transfer, which must end as the sheet
# expects, and one with the cable back, which completes.
# Environment: QV_SOURCE_DIR, QV_BUILD_DIR (the win build, its prefix running)
set -euo pipefail
: "${QV_SOURCE_DIR:?}" "${QV_BUILD_DIR:?}"
source "$QV_SOURCE_DIR/scripts/wine-env.sh"
here=$(cd "$(dirname "$0")" && pwd)
sheet=$QV_SOURCE_DIR/docs/field-test.md
com=3
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$QV_BUILD_DIR/field-rehearsal
rm -rf "$work"
mkdir -p "$work/unit" "$work/shots"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /t REG_SZ /d "/nonexistent/qv6100-com$com" /f \
    </dev/null >/dev/null 2>&1 || true
  ln -sfn /nonexistent/qv6100-absent "$WINEPREFIX/dosdevices/com$com"
  wine reg delete 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /f </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The sheet's command that starts the simulator (continuation lines joined),
# and its cmp line.
command=$(awk '/^```sh$/ { block = 1; next } /^```$/ { block = 0; line = ""; next }
  block { line = line $0; if (sub(/\\$/, "", line)) next; if (line ~ /qv6100-sim --device/) print line; line = "" }' \
  "$sheet" | head -n 1)
[ -n "$command" ] || fail "no command starting qv6100-sim --device in a sh block of $sheet"
read -r -a words <<<"$command"
check=$(grep -o 'cmp image\.bin [^`]*' "$sheet" | head -n 1)
read -r -a cmp_words <<<"$check"
[ ${#cmp_words[@]} -eq 3 ] || fail "no 'cmp image.bin FILE' in $sheet"
echo "The sheet's simulator: $command"
echo "The sheet's check:     $check"

# The cable, its unit end in place of the sheet's serial device.
python3 "$here/null_modem.py" "$work/pc-end" "$work/unit-end" --cut-file "$work/cut" --lifetime 600 \
  >"$work/null_modem.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -L "$work/unit-end" ] && [ -L "$work/pc-end" ] && break; sleep 0.05; done
[ -L "$work/unit-end" ] || fail "the null-modem cable did not come up: $(cat "$work/null_modem.log")"
unit_end=$(readlink "$work/unit-end")
pc_end=$(readlink "$work/pc-end")
for i in "${!words[@]}"; do
  [ "${words[$i]}" = --device ] && words[$((i + 1))]=$unit_end
done
# Paths in the sheet are the source tree's; the files it names land where it runs.
(cd "$work/unit" && exec "$QV_SOURCE_DIR/${words[0]}" "${words[@]:1}") >"$work/sim.out" 2>&1 &
sim=$!
pids+=($sim)
for _ in $(seq 1 100); do grep -qs "qv6100-sim device" "$work/unit/wire.log" && break; sleep 0.05; done
kill -0 $sim 2>/dev/null || fail "the sheet's simulator did not start: $(cat "$work/sim.out")"

"$QV_SOURCE_DIR/scripts/run-on-linux.sh" --prefix "$WINEPREFIX" --com $com --no-start "$pc_end" \
  </dev/null >"$work/map.out" 2>&1 || fail "run-on-linux.sh could not map $pc_end: $(cat "$work/map.out")"
wine reg delete 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /v Data /f </dev/null >/dev/null 2>&1 || true

log=$work/autopilot.log
wine "$QV_BUILD_DIR/qv_autopilot.exe" "$QV_BUILD_DIR/QV6100_UPDATE.exe" "COM$com" "$work/shots" \
  --runs 4 --between-ms 3000 </dev/null >"$log" 2>&1 &
pids+=($!)

# Follows the autopilot: the sheet's cmp after each "Completed!", the cable
# pulled at 20% of the third transfer and back once that run has failed.
run=0 transferring=0 checked=0 seen=0
for _ in $(seq 1 3000); do
  while IFS= read -r line; do
    seen=$((seen + 1))
    line=${line%$'\r'}
    case $line in
      "[click] OK on COM$com") run=$((run + 1)) transferring=0 ;;
      "[status] Transferring"*) transferring=1 ;;
      "[progress] 20%"*) [ $run -eq 3 ] && [ $transferring -eq 1 ] && touch "$work/cut" && echo "cable pulled" ;;
      "[message] "*"Failed!"*) [ -f "$work/cut" ] && rm -f "$work/cut" && echo "cable back" ;;
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
tr -d '\r' <"$log" | sed -n 's/^\[\(click\|message\)\] /  /p'
grep -q "^the program ended (exit code 0)" "$log" || fail "the autopilot did not finish: $(tail -n 5 "$log")"

# What each run showed: the first line of each box.
outcomes=$(tr -d '\r' <"$log" | awk '/^\[click\] OK on/ { if (n++) print s; s = "" }
  /^\[message\] / { sub(/^\[message\] [^:]*: /, ""); sub(/ \| .*/, ""); sub(/ +$/, ""); s = s (s ? " / " : "") $0 }
  END { print s }')
writing="To set the QV-6100 to firmware writing mode:"
completed="Completed!  The firmware has been updated. / To return the QV-6100 to normal mode:"
expected="To start communication between the PC and QV-6100: / $writing / $completed
$writing / $completed
$writing / Failed!  The firmware has not been updated.
$writing / $completed"
[ "$outcomes" = "$expected" ] || fail "the runs showed:
$outcomes
and the sheet expects:
$expected"
[ $checked -eq 3 ] || fail "$checked flash images checked, not 3"

kill -INT $sim
for _ in $(seq 1 100); do kill -0 $sim 2>/dev/null || break; sleep 0.05; done
for n in 2 3 4; do
  grep -q "^# power-on after [0-9]* ms of quiet: update $n," "$work/unit/wire.log" ||
    fail "the wire log does not show where update $n starts"
done
echo "PASS: four updates from one start of the sheet's simulator, the third with the cable pulled"
