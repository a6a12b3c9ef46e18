#!/usr/bin/env python3
"""Draws the application icon (ui/res/QV6100_UPDATE.ico): a dark unit with a
green status lamp and a white arrow writing into it, at 16x16, 32x32 and 48x48."""
import struct
import sys


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
    # The arrow: new firmware going in.
    rect(13, 1, 19, 11, (250, 250, 250, 255))
    for row in range(6):
        rect(9 + row, 10 + row, 23 - row, 11 + row, (250, 250, 250, 255))
    # A blue outline around the arrow so it reads on light and dark taskbars.
    out = [r[:] for r in px]
    for y in range(size):
        for x in range(size):
            if px[y][x] == (0, 0, 0, 0):
                for dy in (-1, 0, 1):
                    for dx in (-1, 0, 1):
                        yy, xx = y + dy, x + dx
                        if 0 <= yy < size and 0 <= xx < size and px[yy][xx] == (250, 250, 250, 255):
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


def main(path):
    sizes = (16, 32, 48)
    images = [bmp_entry(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ui/res/QV6100_UPDATE.ico")
