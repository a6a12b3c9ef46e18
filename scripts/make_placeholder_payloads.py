#!/usr/bin/env python3
"""Writes the placeholder payloads used when no firmware files are given to the
build. They write no real firmware: they only let every byte's position be
checked end to end.

  placeholder-firmware-image.bin          IMAGE-BYTES pseudo-random bytes, with
                                          stretches of 0xFF as blank flash has
  placeholder-write-control-program.bin   its length (PROGRAM-BYTES - 2, two bytes,
                                          most significant first), then that many
                                          pseudo-random bytes

  make_placeholder_payloads.py OUT-DIR IMAGE-BYTES PROGRAM-BYTES
"""
import sys

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


def main(out_dir, image_bytes, program_bytes):
    image = xorshift_bytes(0x51C6100, image_bytes)
    for start, length in BLANK:
        image[start:start + length] = b"\xff" * length
    code = xorshift_bytes(0x1436, program_bytes - 2)
    length = program_bytes - 2
    program = bytes((length >> 8, length & 0xFF)) + code
    with open(f"{out_dir}/placeholder-firmware-image.bin", "wb") as f:
        f.write(image)
    with open(f"{out_dir}/placeholder-write-control-program.bin", "wb") as f:
        f.write(program)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: make_placeholder_payloads.py OUT-DIR IMAGE-BYTES PROGRAM-BYTES")
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
