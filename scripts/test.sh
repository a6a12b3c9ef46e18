#!/usr/bin/env bash
# The test command: installs what is missing, builds everything, runs the
# native tests (simulator, serial link and engine), the Windows-target tests
# under Wine, the ThreadSanitizer tests and a bounded fuzzing run, and ends
# with one summary of all.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
scripts/build.sh || exit 1

status=0
ctest --preset host -j2 --timeout 300 2>&1 | tee build/host-tests.log || status=1
ctest --preset win -j2 --timeout 900 2>&1 | tee build/win-tests.log || status=1
ctest --preset tsan -j2 --timeout 300 2>&1 | tee build/tsan-tests.log || status=1
ctest --preset fuzz -j2 --timeout 300 2>&1 | tee build/fuzz-tests.log || status=1

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
