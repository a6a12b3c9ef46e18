#!/usr/bin/env python3
"""A null-modem cable between two pseudo-terminals.

  null_modem.py LINK-A LINK-B [--cut-file FILE] [--lifetime S]

Makes two pseudo-terminals, publishes them as the symlinks LINK-A and LINK-B
and passes every byte written at one end on to the other, as a cable joins two
serial ports. It holds neither device open itself, so a program may hold one
exclusively. While nobody has an end open, what is sent to it is lost, as on a
port that is closed. While FILE exists the cable is pulled: the line carries
nothing and both ends stay open. Ends on SIGTERM, SIGINT or after S seconds
(default 600), removing the links.
"""
import argparse
import errno
import os
import select
import signal
import sys
import time
import tty


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("link_a")
    parser.add_argument("link_b")
    parser.add_argument("--cut-file")
    parser.add_argument("--lifetime", type=float, default=600.0)
    args = parser.parse_args()

    ends = []
    for link in (args.link_a, args.link_b):
        master, slave = os.openpty()
        tty.setraw(slave)
        name = os.ttyname(slave)
        os.close(slave)
        os.set_blocking(master, False)
        tmp = link + ".tmp"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(name, tmp)
        os.replace(tmp, link)
        ends.append({"fd": master, "link": link, "quiet_until": 0.0})

    stop = []
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stop.append(True))
    deadline = time.monotonic() + args.lifetime
    carried = [0, 0]
    try:
        while not stop and time.monotonic() < deadline:
            now = time.monotonic()
            watched = [e["fd"] for e in ends if e["quiet_until"] <= now]
            try:
                readable, _, _ = select.select(watched, [], [], 0.01)
            except InterruptedError:
                continue
            cut = args.cut_file is not None and os.path.exists(args.cut_file)
            for i, end in enumerate(ends):
                if end["fd"] not in readable:
                    continue
                try:
                    data = os.read(end["fd"], 4096)
                except OSError as e:
                    if e.errno != errno.EIO:
                        raise
                    # Nobody has this end open: look again a little later.
                    end["quiet_until"] = time.monotonic() + 0.01
                    continue
                if cut or not data:
                    continue
                if send(ends[1 - i]["fd"], data):
                    carried[i] += len(data)
    finally:
        for end in ends:
            if os.path.islink(end["link"]):
                os.unlink(end["link"])
        print("null_modem: carried %d bytes A to B, %d bytes B to A" % tuple(carried), flush=True)
    return 0


def send(fd, data):
    """Writes all of data to the master fd; False if nobody has its end open."""
    poller = select.poll()
    poller.register(fd, select.POLLOUT)
    if any(events & select.POLLHUP for _, events in poller.poll(0)):
        return False
    while data:
        try:
            n = os.write(fd, data)
        except BlockingIOError:
            select.select([], [fd], [], 0.01)
            continue
        except OSError as e:
            if e.errno == errno.EIO:
                return False
            raise
        data = data[n:]
    return True


if __name__ == "__main__":
    sys.exit(main())
