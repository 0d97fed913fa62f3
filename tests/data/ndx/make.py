#!/usr/bin/python3
"""Writes the damaged NDX index files of this folder, one case per file.

Each file is an index on the key expression NA (a text key of 10 bytes,
entry length 20, 25 keys per page) that cannot be valid in one way; opening
it or walking its keys must raise "Index file ... is corrupted" and nothing
worse. One more, sound-two-keys.ndx, is sound (it shows the writing below
is right). The files are kept in the tree; this script says how each was made
and makes them again:

    /usr/bin/python3 tests/data/ndx/make.py tests/data/ndx
"""
import os
import struct
import sys


def header(root=1, next_free=3, key_length=10, max_keys=25, numeric=0, entry_length=20):
    h = struct.pack('<IIIHHHH', root, next_free, 0, key_length, max_keys, numeric, entry_length)
    h += b'\0\0\0\0' + b'NA\0'
    return h.ljust(512, b'\0')


def leaf(keys, count=None):
    """keys: (text, record) in order."""
    body = b''.join(struct.pack('<II', 0, rec) + text.ljust(10).encode() + b'\0' * 2 for text, rec in keys)
    return (struct.pack('<I', len(keys) if count is None else count) + body).ljust(512, b'\0')


def node(entries, last_child):
    """entries: (text, child) in order; last_child the pointer-only entry."""
    body = b''.join(struct.pack('<II', child, 0) + text.ljust(10).encode() + b'\0' * 2 for text, child in entries)
    return (struct.pack('<I', len(entries)) + body + struct.pack('<I', last_child)).ljust(512, b'\0')


CASES = {
    'sound-two-keys.ndx': header(next_free=2) + leaf([('A', 1), ('B', 2)]),
    # Two nodes whose children point at each other: a descent without end.
    'cycle.ndx': header(next_free=3) + node([('M', 2)], 2) + node([('M', 1)], 1),
    # A leaf claiming 26 keys where a page holds 25.
    'count-past-max.ndx': header() + leaf([('K%02d' % i, i + 1) for i in range(25)], count=26),
    'entry-length-0.ndx': header(entry_length=0) + leaf([('A', 1)]),
    'entry-length-600.ndx': header(entry_length=600) + leaf([('A', 1)]),
    # A key longer than its entry would read into the next one.
    'key-longer-than-entry.ndx': header(key_length=30) + leaf([('A', 1)]),
    'max-keys-0.ndx': header(max_keys=0) + leaf([('A', 1)]),
    'root-outside.ndx': header(root=7) + leaf([('A', 1)]),
    'root-is-header.ndx': header(root=0) + leaf([('A', 1)]),
    # The root page ends after 200 of its 512 bytes.
    'truncated-page.ndx': header() + leaf([('A', 1), ('B', 2)])[:200],
    # A node whose second child lies beyond the end of the file.
    'child-past-end.ndx': header() + node([('B', 2)], 50) + leaf([('A', 1), ('B', 2)]),
    # A node whose pointer-only entry has no child.
    'node-without-last-child.ndx': header() + node([('B', 2)], 0) + leaf([('A', 1), ('B', 2)]),
}

if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, data in CASES.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
