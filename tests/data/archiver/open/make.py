#!/usr/bin/python3
"""Writes the archives of this folder, one case per file.

Each is an archive that a strict open (OpenCorruptedArchives off) refuses
and a lenient one rebuilds from its local headers, the same whether the
archive is opened as a file or from a stream. The files are kept in the
tree; this script says how each was made and makes them again:

    /usr/bin/python3 tests/data/archiver/open/make.py tests/data/archiver/open
"""
import importlib.util
import os
import sys


def sample():
    """The three deflated items of ../merge/make.py, by Python's zipfile."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'merge', 'make.py')
    spec = importlib.util.spec_from_file_location('merge_make', path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return bytes(module.sample())


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
