#!/usr/bin/env bash
# The test command: installs what is missing, builds everything, runs the
# native tests (simulator, serial link and engine), the Windows-target tests
# under Wine, the ThreadSanitizer tests and a bounded fuzzing run, and ends
# with one summary of all.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
scripts/setup.sh || exit 1
scripts/build.sh || exit 1

# Each set passes or fails on ctest's own exit status (tee's is not it).
status=0
declare -A rc
run_set() {
  local set=$1
  shift
  ctest --preset "$set" -j2 "$@" 2>&1 | tee "build/$set-tests.log"
  rc[$set]=${PIPESTATUS[0]}
  [ "${rc[$set]}" -eq 0 ] || status=1
}
run_set host --timeout 300
run_set win --timeout 900
# The fuzzer works a fixed time on one core: it runs beside the
# ThreadSanitizer set, at a lower priority, on what that set leaves.
(nice -n 10 ctest --preset fuzz --timeout 300 >build/fuzz-tests.log 2>&1; echo $? >build/fuzz-tests.rc) &
fuzzing=$!
run_set tsan --timeout 300
wait $fuzzing
cat build/fuzz-tests.log
rc[fuzz]=$(cat build/fuzz-tests.rc)
[ "${rc[fuzz]}" -eq 0 ] || status=1

summary() { grep -E '^[0-9]+% tests passed' "$1" 2>/dev/null | tail -n1; }
total() { summary "$1" | sed -E 's/.* out of ([0-9]+).*/\1/'; }
failed() { summary "$1" | sed -E 's/.* ([0-9]+) tests failed.*/\1/'; }
all=0
bad=0
echo
for set in "host|Native (sim, engine):" "win|Windows target (Wine):" "tsan|ThreadSanitizer:" "fuzz|Fuzzing (libFuzzer):"; do
  log=build/${set%%|*}-tests.log
  printf '%-25s%s\n' "${set#*|}" "$(summary "$log")"
  t=$(total "$log")
  f=$(failed "$log")
  # A failed run that counted no failed test (no tests found, ctest error)
  # is one failure of its own.
  if [ "${rc[${set%%|*}]}" -ne 0 ] && [ "${f:-0}" -eq 0 ]; then
    echo "  ctest exited ${rc[${set%%|*}]} here; see $log"
    t=$(( ${t:-0} + 1 ))
    f=1
  fi
  all=$(( all + ${t:-0} ))
  bad=$(( bad + ${f:-0} ))
done
if [ "$all" -eq 0 ]; then
  echo "No tests ran."
  exit 1
fi
pct=$(( (all - bad) * 100 / all ))
echo "${pct}% tests passed, ${bad} tests failed out of ${all}"
[ "$bad" -eq 0 ] || status=1
exit $status
