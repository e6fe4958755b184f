#!/usr/bin/env python3
"""Packs the DER certificates and CRLs of the root bundle into a ZIP archive.

    zipbundle.py ROOTS_DIR OUT_ZIP

The archive is written record by record rather than with the zipfile module,
so that its layout is fully fixed: the same DER files always give the same
bytes. The layout follows what common Windows archivers write:

  * method 8 (raw deflate, level 9), "version needed" and "version made by"
    20 with host 0 (MS-DOS);
  * general purpose flags 0, so names are in the OEM code page (CP866), not
    UTF-8;
  * one fixed DOS date/time for every entry, and an NTFS extra field
    (0x000A) carrying the same moment as mtime/atime/ctime FILETIMEs, in
    both the local and the central header;
  * external attributes 0x2020 (archive bit), internal attributes 0;
  * no data descriptors, no folder entries, no archive comment.

Entries are the *.cer files, then the *.crl files, each group sorted by file
name. Entry names are the file names, except for the few listed in
ARCHIVE_NAMES, whose names in the archive are not suitable for the file
system of the source tree.
"""

import binascii
import datetime
import os
import struct
import sys
import zlib

STAMP = datetime.datetime(2025, 1, 15, 12, 0, 0)

# One entry carries a long Cyrillic name (exactly 250 characters with the
# extension), to exercise OEM name decoding and long names in the reader.
_LONG_STEM = ("Тестовый подчинённый УЦ 3-2, АО Образец, Москва - сертификат "
              "с длинным именем для проверки разбора имён в архиве; ") * 3
LONG_NAME = _LONG_STEM[:246] + ".cer"

ARCHIVE_NAMES = {
    "sub3-2.cer": LONG_NAME,
}

NAME_ENCODING = "cp866"

VERSION = 20            # 2.0: deflate
MADE_BY = (0 << 8) | VERSION
FLAGS = 0
METHOD_DEFLATE = 8
EXTERNAL_ATTR = 0x2020
INTERNAL_ATTR = 0

SIG_LOCAL = 0x04034B50
SIG_CENTRAL = 0x02014B50
SIG_END = 0x06054B50


def dos_date_time(t):
    date = ((t.year - 1980) << 9) | (t.month << 5) | t.day
    time = (t.hour << 11) | (t.minute << 5) | (t.second // 2)
    return date, time


def filetime(t):
    """100 ns ticks since 1601-01-01; the DOS stamp is taken as UTC."""
    delta = t - datetime.datetime(1601, 1, 1)
    return (delta.days * 86400 + delta.seconds) * 10_000_000 + delta.microseconds * 10


def ntfs_extra(t):
    ft = filetime(t)
    body = struct.pack("<IHH", 0, 0x0001, 24) + struct.pack("<QQQ", ft, ft, ft)
    return struct.pack("<HH", 0x000A, len(body)) + body


def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def collect(roots_dir):
    files = sorted(f for f in os.listdir(roots_dir) if f.endswith(".cer"))
    files += sorted(f for f in os.listdir(roots_dir) if f.endswith(".crl"))
    missing = sorted(set(ARCHIVE_NAMES) - set(files))
    if missing:
        sys.exit("zipbundle: missing " + ", ".join(missing))
    return files


def build(roots_dir):
    date, time = dos_date_time(STAMP)
    extra = ntfs_extra(STAMP)
    body = bytearray()
    central = bytearray()
    count = 0
    for fname in collect(roots_dir):
        with open(os.path.join(roots_dir, fname), "rb") as f:
            data = f.read()
        name = ARCHIVE_NAMES.get(fname, fname).encode(NAME_ENCODING)
        packed = deflate(data)
        crc = binascii.crc32(data) & 0xFFFFFFFF
        offset = len(body)

        body += struct.pack("<IHHHHHIIIHH", SIG_LOCAL, VERSION, FLAGS,
                            METHOD_DEFLATE, time, date, crc, len(packed),
                            len(data), len(name), len(extra))
        body += name + extra + packed

        central += struct.pack("<IHHHHHHIIIHHHHHII", SIG_CENTRAL, MADE_BY,
                               VERSION, FLAGS, METHOD_DEFLATE, time, date, crc,
                               len(packed), len(data), len(name), len(extra),
                               0, 0, INTERNAL_ATTR, EXTERNAL_ATTR, offset)
        central += name + extra
        count += 1

    end = struct.pack("<IHHHHIIH", SIG_END, 0, 0, count, count,
                      len(central), len(body), 0)
    return bytes(body + central + end)


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: zipbundle.py ROOTS_DIR OUT_ZIP")
    assert len(LONG_NAME) == 250 and len(LONG_NAME.encode(NAME_ENCODING)) == 250
    archive = build(argv[1])
    tmp = argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(archive)
    os.replace(tmp, argv[2])


if __name__ == "__main__":
    main(sys.argv)
