#!/usr/bin/env python3
"""Writes the seed inputs of the reply fuzz target (layout in ReplyFuzz.h)
into corpus/reply/ beside this folder's parent: one good exchange of each
kind, and the faults nearest to it. Run it again after changing the layout.
"""
import os
import struct
import sys

DETECT, SYNC, LOAD, TRANSFER, WAIT_FOR, RING_LOOP = range(6)
PROGRAM_BYTES = 1436
BLOCK_SIZES = [0x1000] * 8 + [0x8000] + [0x10000] * 3


def header(op, unplug_at=None, read_limit=None, cancel_at=None):
    flags = (1 if unplug_at is not None else 0) | (2 if read_limit else 0) | (4 if cancel_at is not None else 0)
    out = bytes([op, flags])
    if unplug_at is not None:
        out += struct.pack("<H", unplug_at)
    if read_limit:
        out += bytes([read_limit - 1])
    if cancel_at is not None:
        out += struct.pack("<H", cancel_at)
    return out


def events(items):
    """items: (trigger, delay_ms, data, stride, repeats) with absolute
    triggers (0 = start, n = after the n-th write); written as steps."""
    out = b""
    base = 0
    for trigger, delay, data, stride, repeats in sorted(items, key=lambda e: e[0]):
        while trigger - base > 255:  # an empty event moves the trigger on
            out += bytes([255, 0]) + struct.pack("<H", 0) + bytes([0, 0])
            base += 255
        out += bytes([trigger - base, stride]) + struct.pack("<H", delay) + bytes([repeats, len(data)]) + data
        base = trigger
    return out


def ev(trigger, delay, data, stride=0, repeats=0):
    return (trigger, delay, bytes(data), stride, repeats)


def numbered(count, seed):
    x = (seed * 2654435761 + 1) & 0xFFFFFFFF
    out = bytearray()
    for _ in range(count):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out.append((x >> 11) & 0xFF)
    return bytes(out)


def echoes(first=1, last=PROGRAM_BYTES - 1, delay=2):
    """One echo after each program write from `first` to `last`."""
    items = []
    t = first
    while t <= last:
        n = min(256, last - t + 1)
        items.append(ev(t, delay, b"\x00", 1, n - 1))
        t += n
    return items


def transfer(reject_block=None, blocks=12):
    items = []
    w = 0  # writes before the block
    for b, size in enumerate(BLOCK_SIZES[:blocks]):
        chunks = size // 128
        items.append(ev(w + 1, 3, b"\x06"))  # command
        items.append(ev(w + 3, 3, b"\x11"))  # address and size
        t = w + 5
        left = chunks
        while left:
            n = min(256, left)
            items.append(ev(t, 3, b"\x11", 2, n - 1))
            t += 2 * n
            left -= n
        checksum = w + 5 + 2 * chunks
        items.append(ev(checksum, 3, b"\x15" if b == reject_block else b"\x06"))
        w = checksum
    return items


def wait_for(timeout, expected):
    return struct.pack("<H", timeout) + bytes([len(expected) - 1]) + bytes(expected)


def seeds():
    reply = b"TY210;"
    yield "detect-good", header(DETECT) + events([ev(1, 5, reply)])
    yield "detect-busy-then-reply", header(DETECT) + events([ev(1, 150, b"?;"), ev(1, 330, reply)])
    yield "detect-split", header(DETECT) + events([ev(1, 5, b"TY2"), ev(1, 40, b"10;")])
    yield "detect-bytewise", header(DETECT) + events([ev(1, 5 + 20 * i, reply[i:i + 1]) for i in range(len(reply))])
    yield "detect-other-model", header(DETECT) + events([ev(1, 5, b"TY211;")])
    yield "detect-noise-first", header(DETECT) + events([ev(1, 5, b"X;;"), ev(1, 10, reply)])
    yield "detect-unplugged", header(DETECT, unplug_at=0) + events([ev(1, 5, reply)])
    yield "detect-flood", header(DETECT) + events([ev(1, 5, b"T" * 250, 0, 19)])
    yield "sync-good", header(SYNC) + events([ev(1, 5, b"\x00"), ev(2, 5, b"\xaa")])
    yield "sync-third-burst", header(SYNC) + events([ev(3, 5, b"\x00"), ev(4, 5, b"\xaa")])
    yield "sync-two-bytes", header(SYNC) + events([ev(1, 5, b"\x00\x00")])
    yield "sync-silent", header(SYNC)
    last = [ev(PROGRAM_BYTES, 2, b"\x00\xaa")]
    yield "load-good", header(LOAD) + events(echoes() + last)
    yield "load-late-erase", header(LOAD) + events(echoes(last=PROGRAM_BYTES) + [ev(PROGRAM_BYTES, 400, b"\xaa")])
    yield "load-not-erased", header(LOAD) + events(echoes() + [ev(PROGRAM_BYTES, 2, b"\x00\x55")])
    yield "load-missing-echo", header(LOAD) + events(echoes(last=10))
    yield "load-flood", header(LOAD) + events([ev(1, 2, numbered(200, 1), 0, 2)] + echoes(first=2) + last)
    yield "load-short-reads", header(LOAD, read_limit=1) + events(echoes() + last)
    yield "load-cancel", header(LOAD, cancel_at=300) + events(echoes() + last)
    yield "transfer-good", header(TRANSFER) + events(transfer())
    yield "transfer-rejected-checksum", header(TRANSFER) + events(transfer(reject_block=0, blocks=1))
    yield "transfer-extra-ack", header(TRANSFER) + events([ev(1, 3, b"\x06\x06")])
    yield "transfer-unplugged", header(TRANSFER, unplug_at=40) + events(transfer(blocks=1))
    yield "transfer-cancel", header(TRANSFER, cancel_at=60) + events(transfer(blocks=2))
    yield "wait-right", header(WAIT_FOR) + wait_for(1000, b"\x06") + events([ev(0, 10, b"\x06")])
    yield "wait-two-pieces", header(WAIT_FOR) + wait_for(1000, reply) + events([ev(0, 30, b"TY2"), ev(0, 80, b"10;")])
    yield "wait-extra", header(WAIT_FOR) + wait_for(1000, b"\x06") + events([ev(0, 10, b"\x06\x06")])
    yield "wait-wrong", header(WAIT_FOR) + wait_for(1000, b"\x06") + events([ev(0, 10, b"\x15")])
    yield "wait-none", header(WAIT_FOR) + wait_for(200, b"\x11")
    full = numbered(256, 2)
    yield "wait-256", header(WAIT_FOR) + wait_for(1000, full) + events([ev(0, 5, full[:200]), ev(0, 9, full[200:])])
    burst = numbered(200, 3) + b";" + numbered(54, 4)
    yield "ring-burst", header(RING_LOOP) + bytes([255, 7]) + events([ev(0, 5, burst, 0, 3)])
    yield "ring-small-capacity", header(RING_LOOP) + bytes([15, 9]) + events([ev(0, 5, burst), ev(0, 6, b"a;b;c;")])
    yield "ring-at-open", header(RING_LOOP) + bytes([255, 5]) + events([ev(0, 0, b"TY210;")])
    yield "ring-spread", header(RING_LOOP) + bytes([255, 3]) + events(
        [ev(0, 3 * i, numbered(37 * i % 250 + 1, i)) for i in range(1, 12)])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "corpus", "reply")
    os.makedirs(out_dir, exist_ok=True)
    for name, data in seeds():
        assert len(data) <= 4096, name
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
