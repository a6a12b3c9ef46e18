#!/usr/bin/env bash
# The test command: installs what is missing, builds everything, runs the
# simulator's native tests and the Windows-target tests under Wine, and ends
# with one summary of both.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
scripts/build.sh || exit 1

status=0
ctest --preset host -j2 --timeout 300 2>&1 | tee build/host-tests.log || status=1
ctest --preset win -j2 --timeout 900 2>&1 | tee build/win-tests.log || status=1

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n1; }
total() { summary "$1" | sed -E 's/.* out of ([0-9]+).*/\1/'; }
failed() { summary "$1" | sed -E 's/.* ([0-9]+) tests failed.*/\1/'; }
h_total=$(total build/host-tests.log); h_failed=$(failed build/host-tests.log)
w_total=$(total build/win-tests.log); w_failed=$(failed build/win-tests.log)
echo
echo "Native (simulator):      $(summary build/host-tests.log)"
echo "Windows target (Wine):   $(summary build/win-tests.log)"
all=$(( ${h_total:-0} + ${w_total:-0} ))
bad=$(( ${h_failed:-0} + ${w_failed:-0} ))
if [ "$all" -eq 0 ]; then
  echo "No tests ran."
  exit 1
fi
pct=$(( (all - bad) * 100 / all ))
echo "${pct}% tests passed, ${bad} tests failed out of ${all}"
[ "$bad" -eq 0 ] || status=1
exit $status
