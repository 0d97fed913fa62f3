#!/usr/bin/python3
"""Writes the damaged archives of this folder, one case per file.

Each archive is one way another archive can be damaged when its items are
merged (copied raw) into an open one. The files are kept in the tree; this
script says how each was made and makes them again:

    /usr/bin/python3 tests/data/archiver/merge/make.py tests/data/archiver/merge
"""
import io
import os
import struct
import sys
import zipfile


def sample():
    """a.txt, b.txt and c.txt, deflated, by Python's zipfile."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', zipfile.ZIP_DEFLATED) as z:
        for name in ('a.txt', 'b.txt', 'c.txt'):
            info = zipfile.ZipInfo(name, (2024, 1, 2, 3, 4, 6))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, ('%s: some text ' % name) * 50)
    return bytearray(buf.getvalue())


def main(folder):
    # 1. The last item's directory entry claims 60 bytes more compressed data
    #    than it has: its record runs into the central directory, though it
    #    still ends inside the file.
    data = sample()
    central = data.rfind(b'PK\x01\x02')
    size = struct.unpack_from('<I', data, central + 20)[0]
    struct.pack_into('<I', data, central + 20, size + 60)
    with open(os.path.join(folder, 'record-past-end.zip'), 'wb') as f:
        f.write(data)

    # 2. b.txt's local header has the data-descriptor flag (bit 3) where its
    #    entry has not, and no descriptor follows its data: c.txt's record
    #    starts right there. Every reader takes the entry's sizes and CRC.
    data = sample()
    at = data.index(b'PK\x03\x04', 4)
    flags = struct.unpack_from('<H', data, at + 6)[0]
    struct.pack_into('<H', data, at + 6, flags | 8)
    with open(os.path.join(folder, 'descriptor-flag-only-local.zip'), 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1])
