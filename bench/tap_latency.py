#!/usr/bin/env python3
"""What a forwarder between two serial ports adds to the line.

  bench/tap_latency.py [--bytes N] [--socat]

Two pseudo-terminal pairs stand for the cables to the PC and to the unit:
the forwarder (qv6100-tap, or with --socat `socat -x -v`, the way to log a
line that socat offers) sits on their far ends; this script writes single
bytes at the near ends, N each way, taking turns as the protocol does, and
times each from its write on one side to its read on the other. The same on
one pair alone, with nobody between, is the floor. Prints the median and the
largest of each, against the 1,042 us a byte takes at 9600 baud.
"""
import argparse
import os
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TAP = os.path.join(ROOT, "build", "host", "sim", "qv6100-tap")


def pair():
    master, slave = os.openpty()
    tty.setraw(slave)
    tty.setraw(master)
    name = os.ttyname(slave)
    return master, slave, name


def carry(send, receive, count):
    """Microseconds from each one-byte write on `send` to its read on `receive`."""
    delays = []
    for i in range(count):
        byte = bytes([i % 256])
        start = time.perf_counter()
        os.write(send, byte)
        while True:
            select.select([receive], [], [], 1.0)
            got = os.read(receive, 16)
            if got:
                break
        delays.append((time.perf_counter() - start) * 1e6)
        if got != byte:
            sys.exit("a byte went astray: sent %r, got %r" % (byte, got))
        time.sleep(0.001)
    return delays


def line(name, delays):
    return "%-34s median %7.1f us   largest %8.1f us" % (name, statistics.median(delays), max(delays))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bytes", type=int, default=2000)
    parser.add_argument("--socat", action="store_true")
    args = parser.parse_args()

    m, s, _ = pair()
    floor = carry(m, s, args.bytes)
    os.close(m)
    os.close(s)

    pc, pc_far, pc_name = pair()
    unit, unit_far, unit_name = pair()
    # The forwarder opens the far ends itself, exclusively: let go of them.
    os.close(pc_far)
    os.close(unit_far)
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "wire.log")
        if args.socat:
            if not shutil.which("socat"):
                sys.exit("socat is not installed (Debian and Ubuntu: sudo apt-get install socat)")
            command = ["socat", "-x", "-v", "FILE:%s,raw,echo=0" % pc_name, "FILE:%s,raw,echo=0" % unit_name]
            forwarder = subprocess.Popen(command, stderr=open(log, "w"))
            name = "socat -x -v"
        else:
            command = [TAP, "--pc", pc_name, "--unit", unit_name, "--log", log]
            forwarder = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
            name = "qv6100-tap"
        time.sleep(0.5)
        to_unit = carry(pc, unit, args.bytes)
        to_pc = carry(unit, pc, args.bytes)
        forwarder.terminate()
        said = forwarder.communicate()[0] if not args.socat else ""
    print(line("one pseudo-terminal pair, nobody between", floor))
    print(line(name + ", PC to unit", to_unit))
    print(line(name + ", unit to PC", to_pc))
    for l in (said or "").splitlines():
        if "added" in l:
            print("  as the tap measured itself: " + l.split(": ", 1)[1])
    print("a byte takes 1041.7 us at 9600 baud")


if __name__ == "__main__":
    main()
