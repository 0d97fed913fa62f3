#!/usr/bin/python3
"""Writes the damaged CDX files of this folder, one case per file.

Each file holds a tag directory and one tag NA on the key expression NA (a
text key of 10 bytes) that cannot be valid in one way; opening it, or
walking its tag, must raise "Index file ... is corrupted" (or leave the file
marked corrupted) and nothing worse. One more, sound-two-keys.cdx, is sound
(it shows the writing below is right). The files are kept in the tree; this
script says how each was made and makes them again:

    /usr/bin/python3 tests/data/xbase/cdx/make.py tests/data/xbase/cdx
"""
import os
import struct
import sys

NONE = 0xFFFFFFFF


def header(root, key_length=10, options=0x60, key=b'NA', key_pool=None, for_pool=1):
    h = bytearray(1024)
    struct.pack_into('<IIIHBB', h, 0, root, 0, 0, key_length, options, 1)
    struct.pack_into('<HHHH', h, 504, len(key) + 1 if key_pool is None else key_pool, for_pool, 0,
                     len(key) + 1)
    h[512:512 + len(key)] = key
    return bytes(h)


def leaf(keys, attributes=3, req=3, rn_bits=16, dc_bits=4, tc_bits=4, rn_mask=None, count=None, entries=None,
         key_length=10, pad=b' '):
    """keys: (text, record) in order, packed as a writer packs them; or
    `entries`: (record, dup, trail, stored bytes) as they are to stand."""
    if entries is None:
        entries, prev = [], b''
        for text, rec in keys:
            dup = 0
            while entries and dup < len(text) and dup < len(prev) and text[dup] == prev[dup]:
                dup += 1
            entries.append((rec, dup, key_length - len(text), text[dup:]))
            prev = text.ljust(key_length, pad)
    node = bytearray(512)
    end = 512
    for i, (rec, dup, trail, stored) in enumerate(entries):
        e = rec | dup << rn_bits | trail << (rn_bits + dc_bits)
        node[24 + i * req:24 + (i + 1) * req] = e.to_bytes(8, 'little')[:req]
        end -= len(stored)
        node[end:end + len(stored)] = stored
    space = end - 24 - len(entries) * req
    mask = (1 << rn_bits) - 1 if rn_mask is None else rn_mask
    struct.pack_into('<HHIIHIBBBBBB', node, 0, attributes, len(entries) if count is None else count, NONE, NONE,
                     max(space, 0), mask, ((1 << dc_bits) - 1) & 0xFF, ((1 << tc_bits) - 1) & 0xFF, rn_bits, dc_bits,
                     tc_bits, req)
    return bytes(node)


def interior(entries, attributes=1, key_length=10, count=None):
    """entries: (text, record, child) in order."""
    node = bytearray(512)
    struct.pack_into('<HHII', node, 0, attributes, len(entries) if count is None else count, NONE, NONE)
    for i, (text, rec, child) in enumerate(entries):
        at = 12 + i * (key_length + 8)
        node[at:at + key_length] = text.ljust(key_length)
        struct.pack_into('>II', node, at + key_length, rec, child)
    return bytes(node)


def directory(tag_offset=1536):
    return header(1024, options=0xE0, key=b'') + leaf([(b'NA', tag_offset)])


def cdx(tag_header, *nodes, tag_offset=1536):
    return directory(tag_offset) + tag_header + b''.join(nodes)


SOUND = leaf([(b'A', 1), (b'B', 2)])
TWO_LEAVES = (interior([(b'A', 1, 3072), (b'B', 2, 3584)]), leaf([(b'A', 1)], attributes=2),
              leaf([(b'B', 2)], attributes=2))

CASES = {
    'sound-two-keys.cdx': cdx(header(2560), SOUND),
    # Shorter than a header and its directory.
    'short.cdx': cdx(header(2560), SOUND)[:300],
    # Header checks.
    'root-at-700.cdx': cdx(header(700), SOUND),
    'root-past-end.cdx': cdx(header(4096), SOUND),
    'root-is-header.cdx': cdx(header(0), SOUND),
    'key-length-0.cdx': cdx(header(2560, key_length=0), SOUND),
    'key-length-241.cdx': cdx(header(2560, key_length=241), SOUND),
    'expressions-past-header.cdx': cdx(header(2560, key_pool=400, for_pool=200), SOUND),
    'no-key-expression.cdx': cdx(header(2560, key=b''), SOUND),
    'tag-offset-not-node.cdx': cdx(header(2560), SOUND, tag_offset=1500),
    'tag-offset-past-end.cdx': cdx(header(2560), SOUND, tag_offset=8192),
    'directory-root-past-end.cdx': header(9216, options=0xE0, key=b'') + leaf([(b'NA', 1536)]) + header(2560) + SOUND,
    # Interior nodes.
    'interior-count-overrun.cdx': cdx(header(2560), interior([(b'A', 1, 3072)], count=28), TWO_LEAVES[1]),
    'child-not-node.cdx': cdx(header(2560), interior([(b'A', 1, 3000)]), TWO_LEAVES[1]),
    'child-past-end.cdx': cdx(header(2560), interior([(b'A', 1, 8192)]), TWO_LEAVES[1]),
    'child-cycle.cdx': cdx(header(2560), interior([(b'A', 1, 3072)]), interior([(b'A', 1, 2560)], attributes=0)),
    'attributes-unknown.cdx': cdx(header(2560), leaf([(b'A', 1)], attributes=0x103)),
    # Leaf layouts.
    'leaf-req-1.cdx': cdx(header(2560), leaf([(b'A', 1)], req=1, rn_bits=0)),
    'leaf-bits-not-bytes.cdx': cdx(header(2560), leaf([(b'A', 1)], rn_bits=15)),
    'leaf-counts-over-16-bits.cdx': cdx(header(2560), leaf([(b'A', 1)], rn_bits=6, dc_bits=9, tc_bits=9)),
    'leaf-mask-not-bits.cdx': cdx(header(2560), leaf([(b'A', 1)], rn_mask=0x1FFFF)),
    'leaf-count-overrun.cdx': cdx(header(2560), leaf([(b'A', 1)], count=170)),
    'leaf-first-dup.cdx': cdx(header(2560), leaf([], entries=[(1, 1, 8, b'A')])),
    'leaf-dup-trail-over-key.cdx': cdx(header(2560), leaf([], entries=[(1, 0, 9, b'A'), (2, 3, 9, b'')])),
    'leaf-keys-over-entries.cdx': cdx(header(2560), leaf([], entries=[(i, 0, 0, b'0123456789') for i in range(40)])),
}

if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, data in CASES.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
