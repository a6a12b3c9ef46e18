#!/usr/bin/env python3
"""Writes the placeholder payloads used when no firmware files are given to the
build. They write no real firmware: they only let every byte's position be
checked end to end.

  placeholder-firmware-image.bin          262,144 pseudo-random bytes, with
                                          stretches of 0xFF as blank flash has
  placeholder-write-control-program.bin   0x05 0x9A (length 1,434), then
                                          1,434 pseudo-random bytes
"""
import sys

IMAGE_BYTES = 262144
PROGRAM_BYTES = 1436

# Blank stretches (offset, length): a whole small block, a run across a chunk
# boundary, and the top of the flash.
BLANK = [(0x06000, 0x1000), (0x0C0F0, 0x220), (0x3E000, 0x2000)]


def xorshift_bytes(seed, count):
    x = seed & 0xFFFFFFFF
    out = bytearray(count)
    for i in range(count):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = (x >> 11) & 0xFF
    return out


def main(out_dir):
    image = xorshift_bytes(0x51C6100, IMAGE_BYTES)
    for start, length in BLANK:
        image[start:start + length] = b"\xff" * length
    code = xorshift_bytes(0x1436, PROGRAM_BYTES - 2)
    length = PROGRAM_BYTES - 2
    program = bytes((length >> 8, length & 0xFF)) + code
    with open(f"{out_dir}/placeholder-firmware-image.bin", "wb") as f:
        f.write(image)
    with open(f"{out_dir}/placeholder-write-control-program.bin", "wb") as f:
        f.write(program)


if __name__ == "__main__":
    main(sys.argv[1])
