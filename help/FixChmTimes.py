#!/usr/bin/env python3
"""Sets the two build times that chmcmd writes into a help file (the ITSF
header's and the #SYSTEM file's, both milliseconds of the day) to one derived
from SOURCE_DATE_EPOCH, so that the same sources give the same bytes.

  FixChmTimes.py FILE.chm EPOCH
"""
import struct
import sys


def encint(data, pos):
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def system_offset(data):
    """The file offset of #SYSTEM (stored uncompressed, in section 0)."""
    dir_off = struct.unpack_from("<Q", data, 0x48)[0]
    content_off = struct.unpack_from("<Q", data, 0x58)[0]
    header_len, _, chunk_size = struct.unpack_from("<III", data, dir_off + 8)
    chunks = struct.unpack_from("<I", data, dir_off + 0x2C)[0]
    for i in range(chunks):
        base = dir_off + header_len + i * chunk_size
        if data[base:base + 4] != b"PMGL":
            continue
        free = struct.unpack_from("<I", data, base + 4)[0]
        pos, end = base + 20, base + chunk_size - free
        while pos < end:
            length, pos = encint(data, pos)
            name = data[pos:pos + length]
            pos += length
            section, pos = encint(data, pos)
            offset, pos = encint(data, pos)
            _, pos = encint(data, pos)
            if name == b"/#SYSTEM" and section == 0:
                return content_off + offset
    sys.exit("FixChmTimes.py: no #SYSTEM in the help file")


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    data = bytearray(open(path, "rb").read())
    if data[:4] != b"ITSF" or struct.unpack_from("<I", data, 4)[0] != 3:
        sys.exit("FixChmTimes.py: %s is not a version 3 help file" % path)
    millis = (epoch % 86400) * 1000
    struct.pack_into(">I", data, 0x10, millis)
    system = system_offset(data)
    # #SYSTEM: a version, then code 10 with its length 4 and the time.
    if struct.unpack_from("<HH", data, system + 4) != (10, 4):
        sys.exit("FixChmTimes.py: #SYSTEM does not start with the build time")
    struct.pack_into("<I", data, system + 8, millis)
    open(path, "wb").write(data)


if __name__ == "__main__":
    main()
