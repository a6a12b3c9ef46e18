#!/usr/bin/env python3
"""Writes the portable zip so that the same files give the same bytes: one
folder entry, then the files sorted by name, all with the time
SOURCE_DATE_EPOCH, modes 0644 (0755 for executables) and no owner fields.

  make_zip.py OUTPUT.zip EPOCH FOLDER FILE...
"""
import os
import sys
import time
import zipfile


def entry(name, epoch, mode):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, 315532800))[:6])
    info.create_system = 3  # Unix, so that the modes count
    info.external_attr = mode << 16
    return info


def main():
    output, epoch, folder, files = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    tmp = output + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        folder_info = entry(folder + "/", epoch, 0o40755)
        folder_info.external_attr |= 0x10  # MS-DOS directory flag
        z.writestr(folder_info, b"")
        for path in sorted(files, key=os.path.basename):
            mode = 0o100755 if os.access(path, os.X_OK) else 0o100644
            info = entry(folder + "/" + os.path.basename(path), epoch, mode)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(tmp, output)


if __name__ == "__main__":
    main()
