#!/usr/bin/python3
"""Writes the archives of this folder, one case per file.

Each is an archive that a strict open (OpenCorruptedArchives off) refuses
and a lenient one rebuilds from its local headers, the same whether the
archive is opened as a file or from a stream. The files are kept in the
tree; this script says how each was made and makes them again:

    /usr/bin/python3 tests/data/archiver/open/make.py tests/data/archiver/open
"""
import io
import os
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
    return buf.getvalue()


def main(folder):
    data = sample()
    end = data.rfind(b'PK\x05\x06')
    cases = {
        # The end record cut off: items and central directory whole.
        'no-end-record.zip': data[:end],
        # Bytes after the end record: its comment length no longer reaches
        # the end of the file, so no end record is found.
        'end-record-then-junk.zip': data + b'appended after the end record',
    }
    for name, bytes_ in cases.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(bytes_)


if __name__ == '__main__':
    main(sys.argv[1])
