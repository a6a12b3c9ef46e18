#!/usr/bin/env bash
# scripts/run-on-linux.sh refuses what it cannot use, with a message that says
# why and what to do, and touches no Wine prefix then: a missing device, a
# dangling device link, something that is not a character device, a device the
# user may not open, a COM number the program does not offer, a missing
# program, bad options, a USB adapter's latency timer it may not lower.
# Environment: QV_DIST_TEST_DIR QV_SOURCE_DIR
set -euo pipefail
source "$(dirname "$0")/env.sh"
script=$QV_SOURCE_DIR/scripts/run-on-linux.sh
[ -x "$script" ] || fail "$script is missing or not executable"

work=$QV_DIST_TEST_DIR/linux-errors
rm -rf "$work"
mkdir -p "$work"
peer=""
other=""
cleanup() {
  [ -z "$peer" ] || kill "$peer" 2>/dev/null || true
  [ -z "$other" ] || rm -rf "$other"
}
trap cleanup EXIT

# A prefix folder that must stay empty: every case fails before any mapping.
prefix=$work/prefix
mkdir -p "$prefix"

# expect STATUS NEEDLE... -- ARGS...: runs the script, checks its exit status
# and that its error output holds every NEEDLE.
expect() {
  local status=$1
  shift
  local needles=()
  while [ "$1" != -- ]; do needles+=("$1"); shift; done
  shift
  local rc=0
  "${run[@]}" "$@" >"$work/out" 2>"$work/err" </dev/null || rc=$?
  [ "$rc" -eq "$status" ] || fail "run-on-linux.sh $* exited $rc, expected $status; it said: $(cat "$work/err" "$work/out")"
  for n in "${needles[@]}"; do
    grep -qF -- "$n" "$work/err" || fail "run-on-linux.sh $*: no '$n' in its message: $(cat "$work/err")"
  done
  [ -z "$(ls -A "$prefix")" ] || fail "run-on-linux.sh $* changed the prefix: $(ls -A "$prefix")"
  echo "ok: run-on-linux.sh $* -> $(head -n1 "$work/err")"
}
run=("$script" --prefix "$prefix")

# A serial device that is there and usable (a pseudo-terminal), for the cases
# that fail on something else.
python3 "$(dirname "$0")/pty_peer.py" "$work/pty" --lifetime 60 &
peer=$!
for _ in $(seq 1 100); do [ -s "$work/pty" ] && break; sleep 0.05; done
[ -s "$work/pty" ] || fail "the pseudo-terminal did not come up"
pty=$(cat "$work/pty")

expect 1 "/dev/qv-no-such-tty0 does not exist" "plugged in" -- /dev/qv-no-such-tty0
expect 1 "/dev/qv-no-such-tty0 does not exist" -- qv-no-such-tty0
ln -s /dev/qv-no-such-tty0 "$work/by-id-link"
expect 1 "links to /dev/qv-no-such-tty0, which does not exist" -- "$work/by-id-link"
echo data >"$work/file"
expect 1 "is a regular file, not a serial port" -- "$work/file"
expect 1 "is a directory, not a serial port" -- "$work"
expect 2 "--com takes a number from 1 to 20" -- --com 0 "$pty"
expect 2 "--com takes a number from 1 to 20" -- --com 21 "$pty"
expect 2 "--com takes a number from 1 to 20" -- --com x3 "$pty"
expect 2 "no serial device given" --
expect 2 "unknown option --bogus" -- --bogus "$pty"
expect 2 "one device only" -- "$pty" "$pty"
expect 1 "$work/absent.exe does not exist" "--exe" -- --exe "$work/absent.exe" "$pty"
# Without --exe, a copy of the script with no program next to it and no
# build tree above it.
mkdir -p "$work/lone/bin"
cp "$script" "$work/lone/bin/"
run=("$work/lone/bin/run-on-linux.sh" --prefix "$prefix")
expect 1 "QV6100_UPDATE.exe is neither next to this script" "--exe FILE" -- "$pty"

# No permission, tried as another user (the tests run as root, whom no mode
# stops) or, for a user, as that user.
if [ "$(id -u)" -eq 0 ]; then
  # A copy and a prefix folder the other user can reach, whatever the
  # permissions of the checkout.
  other=$(mktemp -d /tmp/qv-dist-test.XXXXXX)
  cp "$script" "$other/"
  mkdir "$other/prefix"
  chmod 755 "$other" "$other/run-on-linux.sh"
  chmod 777 "$other/prefix"
  prefix=$other/prefix
  run=(setpriv --reuid=nobody --regid=nogroup --clear-groups "$other/run-on-linux.sh" --prefix "$prefix")
  # As a USB serial adapter comes: group dialout, which nobody is not in.
  if getent group dialout >/dev/null; then
    chgrp dialout "$pty"
    chmod 660 "$pty"
    expect 1 "no permission to read and write $pty as user nobody" "crw-rw----, owner root, group dialout" \
      "Add yourself to the group 'dialout'" "sudo usermod -aG dialout nobody" -- "$pty"
  fi
  # A device of group root: joining dialout is still the way, after a udev rule.
  chgrp root "$pty"
  chmod 000 "$pty"
  expect 1 "no permission to read and write $pty as user nobody" "this one belongs to 'root'" \
    "sudo usermod -aG dialout nobody" -- "$pty"
  # --low-latency on an adapter whose latency timer (a stand-in sysfs file,
  # root's as in /sys) the user may not write.
  sys=$other/sys
  chmod 666 "$pty"
  run=(setpriv --reuid=nobody --regid=nogroup --clear-groups env QV_SYSFS="$sys" "$other/run-on-linux.sh"
    --prefix "$prefix")
else
  chmod 000 "$pty"
  run=("$script" --prefix "$prefix")
  me=$(id -un)
  expect 1 "no permission to read and write $pty as user $me" "dialout" "sudo usermod -aG dialout $me" -- "$pty"
  sys=$work/sys
  chmod 600 "$pty"
  run=(env QV_SYSFS="$sys" "$script" --prefix "$prefix")
fi
timer=$sys/class/tty/$(basename "$pty")/device/latency_timer
mkdir -p "$(dirname "$timer")"
chmod -R a+rX "$sys"
echo 16 >"$timer"
chmod 644 "$timer"
[ "$(id -u)" -eq 0 ] || chmod 444 "$timer"
expect 1 "cannot lower the latency timer of $pty (16 ms): no permission to write $timer" \
  "echo 1 | sudo tee $timer" -- --low-latency "$pty"
[ "$(cat "$timer")" = 16 ] || fail "the latency timer changed to $(cat "$timer")"

echo "PASS"
