#!/usr/bin/env bash
# Runs QV-6100 Update under Wine on Linux, with a serial device of this
# machine as one of the COM ports of a Wine prefix. `run-on-linux.sh --help`
# tells how.
set -euo pipefail

self_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() {
  cat <<'EOF'
Usage: run-on-linux.sh [options] DEVICE [-- ARGS...]

Maps the serial device DEVICE (/dev/ttyUSB0, /dev/ttyS0, /dev/ttyACM0,
/dev/serial/by-id/...) to a COM port of a Wine prefix and starts
QV-6100 Update there. Select that COM port in the program.

Options:
  --com N       COM port number, 1 to 20 (default 3)
  --prefix DIR  Wine prefix (default: $WINEPREFIX, else ~/.wine)
  --exe FILE    the program (default: QV6100_UPDATE.exe next to this script,
                else build/win/QV6100_UPDATE.exe of the source tree)
  --no-start    only map the port; `wine QV6100_UPDATE.exe` uses it later
  --low-latency lower the latency timer of a USB serial adapter (FTDI) to
                1 ms; needs write access to its file in /sys
  -h, --help    show this text
ARGS after -- are passed to the program.

Your user needs read and write access to DEVICE. On Debian and Ubuntu serial
devices belong to the group dialout: sudo usermod -aG dialout $USER, then log
out and in again.

A USB serial adapter with a latency timer (FTDI, 16 ms by default) holds every
answer of the QV-6100 that long, which slows the update down. The script says
so; lower it to 1 ms (until the adapter is unplugged) as root, apart from this
script:
  echo 1 | sudo tee /sys/class/tty/ttyUSB0/device/latency_timer
or: sudo setserial /dev/ttyUSB0 low_latency
Run this script itself as your own user, not with sudo: Wine would run as
root, in root's Wine prefix.
EOF
}

die() {
  echo "run-on-linux.sh: error: $*" >&2
  exit 1
}
usage_error() {
  echo "run-on-linux.sh: $*" >&2
  echo "Try 'run-on-linux.sh --help'." >&2
  exit 2
}

com=3
prefix=${WINEPREFIX:-${HOME:-}/.wine}
exe=""
start=1
low_latency=0
device=""
while [ $# -gt 0 ]; do
  case $1 in
    --com) [ $# -ge 2 ] || usage_error "--com needs a number"; com=$2; shift 2 ;;
    --com=*) com=${1#--com=}; shift ;;
    --prefix) [ $# -ge 2 ] || usage_error "--prefix needs a folder"; prefix=$2; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --exe) [ $# -ge 2 ] || usage_error "--exe needs a file"; exe=$2; shift 2 ;;
    --exe=*) exe=${1#--exe=}; shift ;;
    --no-start) start=0; shift ;;
    --low-latency) low_latency=1; shift ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) usage_error "unknown option $1" ;;
    *)
      [ -z "$device" ] || usage_error "one device only (got $device and $1)"
      device=$1
      shift
      ;;
  esac
done
[ -n "$device" ] || usage_error "no serial device given (for example /dev/ttyUSB0)"
if [ "$(id -u)" -eq 0 ]; then
  echo "run-on-linux.sh: warning: running as root: Wine runs as root too, in the prefix $prefix." >&2
  echo "Run this script as your own user, and only what needs root with sudo." >&2
fi

# The program offers COM1 to COM20.
case $com in
  '' | *[!0-9]*) usage_error "--com takes a number from 1 to 20, not '$com'" ;;
esac
com=$((10#$com))
[ "$com" -ge 1 ] && [ "$com" -le 20 ] || usage_error "--com takes a number from 1 to 20 (QV-6100 Update offers COM1 to COM20), not $com"

# "ttyUSB0" means /dev/ttyUSB0; Wine needs absolute paths.
case $device in
  */*) ;;
  *) device=/dev/$device ;;
esac
case $device in
  /*) ;;
  *) device=$PWD/$device ;;
esac

list_serial_devices() {
  local found=0 d
  for d in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*; do
    [ -e "$d" ] || continue
    [ $found -eq 1 ] || echo "Serial devices present:" >&2
    echo "  $d" >&2
    found=1
  done
  if [ $found -eq 0 ]; then
    echo "No USB serial adapter is present (no /dev/ttyUSB*, /dev/ttyACM*). Built-in ports are /dev/ttyS0, /dev/ttyS1, ..." >&2
  fi
}

if [ ! -e "$device" ]; then
  if [ -L "$device" ]; then
    echo "run-on-linux.sh: error: $device links to $(readlink "$device"), which does not exist." >&2
  else
    echo "run-on-linux.sh: error: $device does not exist." >&2
  fi
  echo "Is the serial adapter plugged in? Check the name with: ls /dev/ttyUSB* /dev/ttyS* /dev/serial/by-id/" >&2
  list_serial_devices
  exit 1
fi

if [ ! -c "$device" ]; then
  if [ -d "$device" ]; then what="a directory"
  elif [ -f "$device" ]; then what="a regular file"
  elif [ -b "$device" ]; then what="a block device"
  else what="not a device"
  fi
  echo "run-on-linux.sh: error: $device is $what, not a serial port (a character device such as /dev/ttyUSB0)." >&2
  list_serial_devices
  exit 1
fi

# access(2), not an open: opening a serial port can wait for its carrier.
if [ ! -r "$device" ] || [ ! -w "$device" ]; then
  me=$(id -un 2>/dev/null || id -u)
  read -r owner group mode < <(stat -L -c '%U %G %A' "$device")
  {
    echo "run-on-linux.sh: error: no permission to read and write $device as user $me"
    echo "(the device is $mode, owner $owner, group $group)."
    case $group in
      root | tty)
        echo "Serial ports belong to the group 'dialout' on Debian and Ubuntu; this one belongs to '$group'"
        echo "(ask the administrator for a udev rule giving it to 'dialout'). Then add yourself to 'dialout':"
        echo "  sudo usermod -aG dialout $me"
        echo "and log out and in again."
        ;;
      *)
        if [ "$group" != dialout ]; then
          echo "Serial ports belong to the group 'dialout' on Debian and Ubuntu; this one belongs to '$group'."
        fi
        if id -nG "$me" 2>/dev/null | tr ' ' '\n' | grep -qx "$group" && ! id -nG | tr ' ' '\n' | grep -qx "$group"; then
          echo "You are in the group '$group', but this login session started before you were added:"
          echo "log out and in again (or run: newgrp $group)."
        else
          echo "Add yourself to the group '$group', then log out and in again:"
          echo "  sudo usermod -aG $group $me"
        fi
        ;;
    esac
  } >&2
  exit 1
fi

# A USB serial adapter (ftdi_sio) passes on what it receives when its latency
# timer runs out: each of the unit's thousands of answers arrives that late.
# Its sysfs root can be given as QV_SYSFS.
real_device=$(readlink -f "$device")
timer=${QV_SYSFS:-/sys}/class/tty/$(basename "$real_device")/device/latency_timer
latency=""
if [ -f "$timer" ]; then
  latency=$(cat "$timer" 2>/dev/null || true)
  case $latency in '' | *[!0-9]*) latency="" ;; esac
fi
if [ -n "$latency" ] && [ "$latency" -gt 1 ]; then
  if [ $low_latency -eq 1 ]; then
    if [ -w "$timer" ] && { echo 1 >"$timer"; } 2>/dev/null; then
      echo "The latency timer of $real_device is now 1 ms (it was $latency ms)."
    else
      die "cannot lower the latency timer of $real_device ($latency ms): no permission to write $timer.
Lower it as root:  echo 1 | sudo tee $timer
or: sudo setserial $real_device low_latency"
    fi
  else
    {
      echo "run-on-linux.sh: warning: $real_device is a USB serial adapter whose latency timer is $latency ms:"
      echo "it holds every answer of the QV-6100 that long, which slows the update down. Lower it to 1 ms"
      echo "(until the adapter is unplugged) with --low-latency where you may write that file, or as root:"
      echo "  echo 1 | sudo tee $timer"
      echo "or: sudo setserial $real_device low_latency"
    } >&2
  fi
elif [ $low_latency -eq 1 ] && [ -z "$latency" ]; then
  echo "run-on-linux.sh: --low-latency: $real_device has no latency timer to lower (not an FTDI USB serial adapter)." >&2
fi

if [ $start -eq 1 ]; then
  if [ -z "$exe" ]; then
    for candidate in "$self_dir/QV6100_UPDATE.exe" "$self_dir/../build/win/QV6100_UPDATE.exe"; do
      if [ -f "$candidate" ]; then exe=$candidate; break; fi
    done
    [ -n "$exe" ] || die "QV6100_UPDATE.exe is neither next to this script nor in build/win/ of the source tree.
Give its path with --exe FILE, or build it first (scripts/build.sh)."
  fi
  [ -f "$exe" ] || die "the program $exe does not exist. Give the path of QV6100_UPDATE.exe with --exe FILE."
  exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
fi

command -v wine >/dev/null 2>&1 || die "Wine is not installed (Debian and Ubuntu: sudo apt-get install wine)."

[ -n "$prefix" ] || die "no Wine prefix: set WINEPREFIX or HOME, or give --prefix DIR."
case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;
esac
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (once; this takes a while)..."
  mkdir -p "$WINEPREFIX" || die "cannot create the folder $WINEPREFIX."
  wineboot -i </dev/null >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  [ -f "$WINEPREFIX/system.reg" ] || die "Wine could not create a prefix in $WINEPREFIX (try: WINEPREFIX=$WINEPREFIX wineboot -i)."
fi

# Debian's Wine 8.0 looks for its own fonts at "Z:\usr\share\wine\../fonts",
# a name it cannot open: without Marlett the window's caption buttons show as
# letters. Links in the prefix's Fonts folder make them the prefix's own.
fonts=$WINEPREFIX/drive_c/windows/Fonts
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ -d "$fonts" ] && [ ! -e "$fonts/marlett.ttf" ]; then
  for f in /usr/share/wine/fonts/*; do
    if [ ! -e "$fonts/${f##*/}" ]; then ln -s "$f" "$fonts/" || true; fi
  done
fi

# The port: a link in dosdevices, which Wine follows whenever the program
# opens COMn, and a Ports entry, so that Wine itself keeps COMn on that
# device whenever it starts.
link=$WINEPREFIX/dosdevices/com$com
if [ -e "$link" ] && [ ! -L "$link" ]; then
  die "$link exists and is not a link: remove it or choose another number with --com."
fi
if [ -L "$link" ] && [ "$(readlink "$link")" != "$device" ]; then
  echo "COM$com of this prefix pointed to $(readlink "$link"); it now points to $device."
fi
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$device" "$link" || die "cannot create the link $link."
wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /t REG_SZ /d "$device" /f </dev/null >/dev/null 2>&1 ||
  die "cannot write HKLM\\Software\\Wine\\Ports in $WINEPREFIX."
# The program records the identification of the unit under this key but does
# not create it (the installer does on Windows).
wine reg add 'HKLM\SOFTWARE\CORVANE\QV-6100 Update' /f </dev/null >/dev/null 2>&1 ||
  die "cannot create the key HKLM\\SOFTWARE\\CORVANE\\QV-6100 Update in $WINEPREFIX."
echo "COM$com of the Wine prefix $WINEPREFIX is $device."

if [ $start -eq 0 ]; then
  echo "Start the program with: WINEPREFIX=\"$WINEPREFIX\" wine QV6100_UPDATE.exe (select COM$com)"
  exit 0
fi
echo "Starting QV-6100 Update: select COM$com."
cd "$(dirname "$exe")"
exec wine "$exe" "$@"
