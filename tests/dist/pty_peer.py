#!/usr/bin/env python3
"""A serial device for the tests: a pseudo-terminal whose far end answers.

  pty_peer.py PATH-FILE [--mode OCTAL] [--expect TEXT --reply TEXT] [--lifetime S]

Writes the device's path (/dev/pts/N) to PATH-FILE once it is ready and holds
the device open until its lifetime ends, so that no other pseudo-terminal gets
its name meanwhile. With --expect it waits for TEXT from the port's user and
answers --reply once; it exits 1 if the expected text did not come within the
lifetime, else 0.
"""
import argparse
import os
import select
import sys
import time
import tty


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("path_file")
    parser.add_argument("--mode", help="permissions of the device, octal")
    parser.add_argument("--expect")
    parser.add_argument("--reply", default="")
    parser.add_argument("--lifetime", type=float, default=60.0)
    args = parser.parse_args()

    master, slave = os.openpty()
    # Raw: the bytes pass unchanged, as on a serial line.
    tty.setraw(slave)
    name = os.ttyname(slave)
    if args.mode is not None:
        os.chmod(name, int(args.mode, 8))
    tmp = args.path_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(name + "\n")
    os.replace(tmp, args.path_file)

    deadline = time.monotonic() + args.lifetime
    received = b""
    answered = False
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.1)
        if not ready:
            continue
        try:
            received += os.read(master, 256)
        except OSError:
            time.sleep(0.1)
            continue
        if args.expect and not answered and args.expect.encode() in received:
            os.write(master, args.reply.encode())
            answered = True
            print("pty_peer: got %r, answered %r" % (received.decode(errors="replace"), args.reply), flush=True)
    if args.expect and not answered:
        print("pty_peer: no %r within %.0f s (got %r)" % (args.expect, args.lifetime, received), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
