#!/usr/bin/env python3
"""Draws the application icon (ui/res/QV6100_UPDATE.ico): a dark unit with a
green status lamp and a white arrow writing into it, at 16, 24, 32, 48, 64 and
256 pixels square; the 256-pixel image as PNG, as Windows expects it."""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)


def draw(size):
    s = size / 32.0
    px = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]

    def rect(x0, y0, x1, y1, rgba):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = rgba

    # The unit: a dark grey box with a lighter front panel.
    rect(2, 14, 30, 30, (40, 44, 52, 255))
    rect(4, 16, 28, 28, (86, 94, 110, 255))
    rect(6, 24, 12, 26, (60, 200, 90, 255))    # status lamp
    rect(16, 24, 26, 26, (30, 34, 40, 255))    # serial connector
    # The arrow: new firmware going in. Its head in steps of one unit up to
    # 48 pixels, of one pixel above.
    white = (250, 250, 250, 255)
    rect(13, 1, 19, 11, white)
    steps = 6 if size <= 48 else int(6 * s)
    for i in range(steps):
        t = 6.0 * i / steps
        rect(9 + t, 10 + t, 23 - t, 10 + t + 6.0 / steps, white)
    # A blue outline around the arrow so it reads on light and dark taskbars:
    # one pixel up to 48 pixels, one unit above.
    r = max(1, size // 32)
    near = [[False] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if px[y][x] == white:
                for xx in range(max(0, x - r), min(size, x + r + 1)):
                    near[y][xx] = True
    out = [row[:] for row in px]
    for x in range(size):
        column = [near[y][x] for y in range(size)]
        for y in range(size):
            if out[y][x] == (0, 0, 0, 0) and any(column[max(0, y - r):y + r + 1]):
                out[y][x] = (20, 90, 200, 255)
    return out


def bmp_entry(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = px[y][x]
            data += bytes((b, g, r, a))
    row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(row)
        for x in range(size):
            if px[y][x][3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(data) + bytes(mask)


def png_entry(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\0" + bytes(v for p in row for v in p) for row in draw(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(path):
    images = [png_entry(n) if n >= 256 else bmp_entry(n) for n in SIZES]
    out = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for n, img in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ui/res/QV6100_UPDATE.ico")
