#!/usr/bin/env python3
# A null-modem cable between two pseudo-terminals:
#   null_modem.py LINK-A LINK-B CUT-FILE
# Publishes two pseudo-terminals as the links LINK-A and LINK-B and passes
# what is written at one end on to the other. It holds neither end open, so
# a program may hold one exclusively; what is sent to an end nobody has open
# is lost, as on a closed port. While CUT-FILE exists the cable is pulled:
# nothing passes, both ends stay open. Ends on SIGTERM (at most after 600 s).
import errno
import os
import select
import signal
import sys
import time
import tty

ends = []
for link in sys.argv[1:3]:
    master, slave = os.openpty()
    tty.setraw(slave)
    os.symlink(os.ttyname(slave), link + ".tmp")
    os.replace(link + ".tmp", link)
    os.close(slave)
    ends.append(master)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
quiet = [0.0, 0.0]  # an end nobody has open reads as an error: look again later
deadline = time.monotonic() + 600
try:
    while time.monotonic() < deadline:
        now = time.monotonic()
        ready, _, _ = select.select([e for e, q in zip(ends, quiet) if q <= now], [], [], 0.01)
        for i, end in enumerate(ends):
            if end not in ready:
                continue
            try:
                data = os.read(end, 4096)
            except OSError as e:
                if e.errno != errno.EIO:
                    raise
                quiet[i] = now + 0.01
                continue
            far = select.poll()
            far.register(ends[1 - i], select.POLLOUT)
            if os.path.exists(sys.argv[3]) or any(ev & select.POLLHUP for _, ev in far.poll(0)):
                continue
            os.write(ends[1 - i], data)
finally:
    for link in sys.argv[1:3]:
        os.unlink(link)
