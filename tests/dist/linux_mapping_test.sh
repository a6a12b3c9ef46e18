#!/usr/bin/env bash
# scripts/run-on-linux.sh maps a serial device to a COM port that a Windows
# program in the prefix really talks through, now and after Wine restarts,
# and starts the program there. The device is a pseudo-terminal whose far end
# answers "pong" to "ping"; qv_dist_probe is the Windows program. A stand-in
# sysfs tree makes it a USB serial adapter with a latency timer.
# Environment: QV_DIST_TEST_DIR QV_SOURCE_DIR QV_PROBE
set -euo pipefail
source "$(dirname "$0")/env.sh"
here=$(cd "$(dirname "$0")" && pwd)
script=$QV_SOURCE_DIR/scripts/run-on-linux.sh
[ -f "${QV_PROBE:-}" ] || fail "missing build output QV_PROBE='${QV_PROBE:-}' (build the win preset first)"
[ -f "$WINEPREFIX/system.reg" ] || fail "no Wine prefix in $WINEPREFIX (the dist.prefix.up test makes it)"

work=$QV_DIST_TEST_DIR/linux-mapping
rm -rf "$work"
mkdir -p "$work"
unmap() {
  for n in 7 8 9; do
    wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$n" /f </dev/null >/dev/null 2>&1 || true
    rm -f "$WINEPREFIX/dosdevices/com$n"
  done
}
cleanup() {
  local f
  for f in "$work"/*.pid; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true; done
  unmap
}
trap cleanup EXIT

# start_peer NAME EXPECT REPLY: a pseudo-terminal; prints its path. Called
# as $(...), so its process id goes to a file for the clean-up: a peer left
# running would hold on to whatever ctest runs under for its whole lifetime.
start_peer() {
  python3 "$here/pty_peer.py" "$work/$1.path" --expect "$2" --reply "$3" --lifetime 60 >"$work/$1.log" 2>&1 &
  echo $! >"$work/$1.pid"
  for _ in $(seq 1 100); do [ -s "$work/$1.path" ] && break; sleep 0.05; done
  [ -s "$work/$1.path" ] || fail "the pseudo-terminal $1 did not come up"
  cat "$work/$1.path"
}
ports_value() {
  wine reg query 'HKLM\Software\Wine\Ports' /v "$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n -E "s/^ +$1 +REG_SZ +(.*)$/\1/p"
}

unmap
# Without a mapping the port is not there: what the probe reaches below is
# the mapping's doing.
if probe com 9 ping pong >"$work/unmapped.out"; then
  fail "COM9 opened without any mapping: $(cat "$work/unmapped.out")"
fi

# A stand-in sysfs: latency_timer FILE MS makes the device FILE a USB serial
# adapter with that latency timer; prints the timer's path.
export QV_SYSFS=$work/sys
latency_timer() {
  local timer
  timer=$QV_SYSFS/class/tty/$(basename "$1")/device/latency_timer
  mkdir -p "$(dirname "$timer")"
  echo "$2" >"$timer"
  echo "$timer"
}

# 1. --no-start: only the mapping, as the user would see it in the prefix. The
# device is an adapter with the usual latency timer of 16 ms: a warning.
dev_a=$(start_peer a ping pong)
timer_a=$(latency_timer "$dev_a" 16)
"$script" --prefix "$WINEPREFIX" --com 7 --no-start "$dev_a" </dev/null >"$work/a.out" 2>&1 ||
  fail "run-on-linux.sh --no-start failed: $(cat "$work/a.out")"
cat "$work/a.out"
grep -qF "$dev_a is a USB serial adapter whose latency timer is 16 ms" "$work/a.out" &&
  grep -qF "echo 1 | sudo tee $timer_a" "$work/a.out" && grep -qF -- "--low-latency" "$work/a.out" ||
  fail "no warning about the latency timer of 16 ms: $(cat "$work/a.out")"
[ "$(readlink "$WINEPREFIX/dosdevices/com7")" = "$dev_a" ] ||
  fail "dosdevices/com7 is $(readlink "$WINEPREFIX/dosdevices/com7" || echo missing), not $dev_a"
[ "$(ports_value COM7)" = "$dev_a" ] || fail "HKLM\\Software\\Wine\\Ports COM7 is '$(ports_value COM7)', not $dev_a"
wine reg query 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' </dev/null >/dev/null 2>&1 ||
  fail "the program's registry key was not created"

# 2. The mapping holds after Wine restarts (the server decides at start-up
# which COM names exist), and a Windows program talks through it.
"$here/wine-prefix.sh" down "$QV_DIST_TEST_DIR" >/dev/null
"$here/wine-prefix.sh" up "$QV_DIST_TEST_DIR" >/dev/null
[ "$(readlink "$WINEPREFIX/dosdevices/com7")" = "$dev_a" ] || fail "after a Wine restart COM7 no longer points to $dev_a"
probe com 7 ping pong >"$work/a.probe" || fail "the probe could not talk through COM7: $(cat "$work/a.probe")"
grep -qx "Received=pong" "$work/a.probe" || fail "COM7 answered: $(cat "$work/a.probe")"
echo "COM7 -> $dev_a: the probe sent ping and received pong"

# 3. The whole job: map COM8 and start the program there (the probe stands
# in for QV6100_UPDATE.exe, which needs a display).
# Its adapter's latency timer is 1 ms already: no word about it.
dev_b=$(start_peer b hello there)
[ "$dev_b" != "$dev_a" ] || fail "the second pseudo-terminal has the first one's name $dev_a"
latency_timer "$dev_b" 1 >/dev/null
"$script" --prefix "$WINEPREFIX" --com 8 --exe "$QV_PROBE" "$dev_b" -- com 8 hello there </dev/null >"$work/b.out" 2>&1 ||
  fail "run-on-linux.sh with the program failed: $(tr -d '\r' <"$work/b.out")"
tr -d '\r' <"$work/b.out"
! grep -qi "latency" "$work/b.out" || fail "a word about a latency timer of 1 ms: $(cat "$work/b.out")"
grep -qx "Received=there" <(tr -d '\r' <"$work/b.out") || fail "the started program did not talk through COM8"
[ "$(readlink "$WINEPREFIX/dosdevices/com8")" = "$dev_b" ] || fail "dosdevices/com8 does not point to $dev_b"

# 4. Mapping a port again moves it to the new device and says so.
"$script" --prefix "$WINEPREFIX" --com 7 --no-start "$dev_b" </dev/null >"$work/c.out" 2>&1 ||
  fail "remapping COM7 failed: $(cat "$work/c.out")"
grep -qF "COM7 of this prefix pointed to $dev_a; it now points to $dev_b" "$work/c.out" ||
  fail "no word about the moved port: $(cat "$work/c.out")"
[ "$(readlink "$WINEPREFIX/dosdevices/com7")" = "$dev_b" ] && [ "$(ports_value COM7)" = "$dev_b" ] ||
  fail "COM7 was not moved to $dev_b"

# 5. --low-latency lowers the timer to 1 ms, for a device given as a link (as
# /dev/serial/by-id/... are) too.
dev_c=$(start_peer c never-sent none)
timer_c=$(latency_timer "$dev_c" 16)
ln -s "$dev_c" "$work/usb-FTDI_FT232R_USB_UART_A1-if00-port0"
"$script" --prefix "$WINEPREFIX" --com 9 --no-start --low-latency "$work/usb-FTDI_FT232R_USB_UART_A1-if00-port0" \
  </dev/null >"$work/d.out" 2>&1 || fail "run-on-linux.sh --low-latency failed: $(cat "$work/d.out")"
cat "$work/d.out"
[ "$(cat "$timer_c")" = 1 ] || fail "the latency timer is $(cat "$timer_c"), not 1"
grep -qF "The latency timer of $dev_c is now 1 ms (it was 16 ms)." "$work/d.out" ||
  fail "no word about the lowered latency timer: $(cat "$work/d.out")"

echo "PASS"
