#!/usr/bin/python3
"""Writes the damaged archives of this folder, one case per file.

Two sound archives hold the same items, in this order: a.txt (deflated),
the folder dir/, inner.zip (a zip archive of x.txt and y.txt, stored), c.txt
(deflated) and an item whose name is in the OEM code page 866 (no UTF-8
flag, DOS host for Python; raw 866 bytes from a Linux file name for
Info-ZIP). One is made by Python's zipfile (py-), one by Info-ZIP zip (iz-).
Each is kept as it is (sound), and each damage is applied to both:

    dir-zeroed          the central directory zeroed, the end record kept
    dir-zeroed-noend    the central directory and the end record zeroed
    dir-cut             the file cut where the central directory starts
    cut-in-c            the file cut half way through c.txt's data
    cut-in-inner        the file cut half way through inner.zip's data
    garbage             777 bytes of garbage before and after inner.zip,
                        the directory kept (its offsets now wrong)
    garbage-cut         the same, cut where the directory started
    flipped             one byte of a.txt's compressed data inverted

The files are kept in the tree; this script says how each was made and
makes them again (Info-ZIP zip must be installed):

    /usr/bin/python3 tests/data/archiver/repair/make.py tests/data/archiver/repair
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

OEM_NAME = 'повесть.txt'


def texts():
    a = ''.join('line %d of a.txt: книга\n' % i for i in range(300)).encode()
    c = ''.join('line %d of c.txt, other words\n' % i for i in range(400)).encode()
    inner = io.BytesIO()
    with zipfile.ZipFile(inner, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('x.txt', 'x of the inner archive\n' * 40)
        z.writestr('y.txt', 'y of the inner archive\n' * 40)
    return a, inner.getvalue(), c, ('866 ' * 20).encode()


class OemInfo(zipfile.ZipInfo):
    """An item whose name is stored in code page 866, as DOS tools store it."""

    def _encodeFilenameFlags(self):
        return self.filename.encode('cp866'), self.flag_bits


def python_base():
    a, inner, c, oem = texts()
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('a.txt', a)
        z.writestr('dir/', b'')
        z.writestr(zipfile.ZipInfo('inner.zip', (2024, 3, 4, 5, 6, 8)), inner, zipfile.ZIP_STORED)
        z.writestr('c.txt', c)
        info = OemInfo(OEM_NAME, (2024, 3, 4, 5, 6, 8))
        info.create_system = 0
        z.writestr(info, oem, zipfile.ZIP_DEFLATED)
    return bytearray(out.getvalue())


def infozip_base():
    a, inner, c, oem = texts()
    work = tempfile.mkdtemp()
    try:
        os.mkdir(os.path.join(work, 'dir'))
        for name, data in (('a.txt', a), ('inner.zip', inner), ('c.txt', c)):
            with open(os.path.join(work, name), 'wb') as f:
                f.write(data)
        with open(os.path.join(work.encode(), OEM_NAME.encode('cp866')), 'wb') as f:
            f.write(oem)
        subprocess.run(['zip', '-q', '-X', 'base.zip', 'a.txt', 'dir', 'inner.zip', 'c.txt',
                        OEM_NAME.encode('cp866')], cwd=work, check=True)
        with open(os.path.join(work, 'base.zip'), 'rb') as f:
            return bytearray(f.read())
    finally:
        shutil.rmtree(work)


def locate(data):
    """(central directory start, {name bytes: (header offset, data offset, data size)})."""
    end = data.rfind(b'PK\x05\x06')
    size, start = struct.unpack_from('<II', data, end + 12)
    items, at = {}, start
    while data[at:at + 4] == b'PK\x01\x02':
        csize = struct.unpack_from('<I', data, at + 20)[0]
        n, e, k = struct.unpack_from('<HHH', data, at + 28)
        offset = struct.unpack_from('<I', data, at + 42)[0]
        name = bytes(data[at + 46:at + 46 + n])
        ln, le = struct.unpack_from('<HH', data, offset + 26)
        items[name] = (offset, offset + 30 + ln + le, csize)
        at += 46 + n + e + k
    return start, end, items


def cases(base):
    start, end, items = locate(base)
    out = {'sound': base}
    d = bytearray(base)
    d[start:end] = bytes(end - start)
    out['dir-zeroed'] = d
    d = bytearray(base)
    d[start:] = bytes(len(d) - start)
    out['dir-zeroed-noend'] = d
    out['dir-cut'] = base[:start]
    _, c_data, c_size = items[b'c.txt']
    out['cut-in-c'] = base[:c_data + c_size // 2]
    i_head, i_data, i_size = items[b'inner.zip']
    out['cut-in-inner'] = base[:i_data + i_size // 2]
    rng = random.Random(777)
    garbage = bytes(rng.randrange(256) for _ in range(777))
    assert b'PK' not in garbage
    after = i_data + i_size
    g = base[:i_head] + garbage + base[i_head:after] + garbage + base[after:]
    out['garbage'] = g
    out['garbage-cut'] = g[:start + 2 * len(garbage)]
    _, a_data, a_size = items[b'a.txt']
    d = bytearray(base)
    d[a_data + a_size // 2] ^= 0xFF
    out['flipped'] = d
    return out


def single_cases():
    """Cases of one kind of item each:

    cut-stored          a.txt, then b.txt, both stored, the file cut half
                        way through b.txt's data (still longer than b.txt:
                        a header claiming more than the file holds is no
                        header)
    blank-name          sound; items named "" and "/" between two others
    unix-755            sound, Info-ZIP; run.sh with mode 755 (Unix host)
    compressible-dir-cut  one deflated item of 200,000 bytes that shrinks
                        to a few hundred, the directory cut off
    cut-in-first        four deflated items, the first of 155,448 bytes of
                        words that deflate to about a third; the file cut
                        half way through the first item's data (nothing
                        of any other item is left)
    unicode-path        sound, Python; an item whose name is stored in code
                        page 866 (DOS host) with an Info-ZIP Unicode path
                        field (0x7075) holding it in UTF-8, between two
                        others
    cut-at-data         one deflated item, the file cut where its data
                        begin: an item that had data and has none left
    cut-in-name         one stored item, the file cut inside its local
                        header's name (the fixed 30 bytes whole)
    py64-stream-cut     Python's zip64 stream (written where it cannot seek:
                        flag bit 3, zeros in the local header and its zip64
                        field, the sizes in a 24-byte data descriptor) of
                        one deflated book of 60,000 bytes, the file cut half
                        way through its data
    py64-stream-cut-in-descriptor  the same, cut inside the descriptor
    py64-stream-cut-at-data  the same, cut where the data begin
    iz-stream-cut       Info-ZIP writing to a pipe (flag bit 3, CRC and
                        compressed size 0 in the local header, the
                        uncompressed size there) the same book and a second
                        one, the file cut half way through the first's data
    utf8-name           sound, Python; books named in Cyrillic with the UTF-8
                        flag (bit 11) and a Windows host, one in a folder

    local-name-shorter.zip is not made here: found by fuzzing and kept as
    found, its first local header has a name length of 0 where its entry
    names m0.txt (a copy of that record as it is would seem to run into the
    next item).
    """
    out = {}
    b = ''.join('stored line %d of b.txt\n' % i for i in range(200)).encode()
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_DEFLATED) as w:
        w.writestr('a.txt', 'a.txt of the cut archive\n' * 120, zipfile.ZIP_STORED)
        w.writestr('b.txt', b, zipfile.ZIP_STORED)
    data = z.getvalue()
    at = data.index(b'b.txt', data.index(b'PK\x03\x04', 30)) + 5
    out['cut-stored'] = data[:at + len(b) // 2]
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_STORED) as w:
        w.writestr('first.txt', 'first\n')
        w.writestr(zipfile.ZipInfo(''), 'blank\n')
        w.writestr(zipfile.ZipInfo('/'), '')
        w.writestr('last.txt', 'last\n')
    out['blank-name'] = z.getvalue()
    work = tempfile.mkdtemp()
    try:
        with open(os.path.join(work, 'run.sh'), 'w') as f:
            f.write('#!/bin/sh\necho run\n')
        os.chmod(os.path.join(work, 'run.sh'), 0o755)
        subprocess.run(['zip', '-q', '-X', 'x.zip', 'run.sh'], cwd=work, check=True)
        with open(os.path.join(work, 'x.zip'), 'rb') as f:
            out['unix-755'] = f.read()
    finally:
        shutil.rmtree(work)
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_DEFLATED) as w:
        w.writestr('zeros.txt', b'0' * 200000)
    data = z.getvalue()
    out['compressible-dir-cut'] = data[:data.index(b'PK\x01\x02')]
    first = words(155448, 155448)
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_DEFLATED) as w:
        w.writestr(zipfile.ZipInfo('first.txt', (2024, 3, 4, 5, 6, 8)), first, zipfile.ZIP_DEFLATED)
        for i in range(2, 5):
            w.writestr(zipfile.ZipInfo('item%d.txt' % i, (2024, 3, 4, 5, 6, 8)), ('item %d\n' % i) * 500,
                       zipfile.ZIP_DEFLATED)
    data = z.getvalue()
    at = data.index(b'first.txt') + len('first.txt')
    size = struct.unpack_from('<I', data, 18)[0]
    out['cut-in-first'] = data[:at + size // 2]
    name = 'повесть.txt'
    extra = struct.pack('<HHB', 0x7075, 5 + len(name.encode()), 1)
    extra += struct.pack('<I', zlib.crc32(name.encode('cp866'))) + name.encode()
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_DEFLATED) as w:
        w.writestr(zipfile.ZipInfo('first.txt', (2024, 3, 4, 5, 6, 8)), 'first\n')
        info = OemInfo(name, (2024, 3, 4, 5, 6, 8))
        info.create_system = 0
        info.extra = extra
        w.writestr(info, 'a name in two forms\n')
        w.writestr(zipfile.ZipInfo('last.txt', (2024, 3, 4, 5, 6, 8)), 'last\n')
    out['unicode-path'] = z.getvalue()
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_DEFLATED) as w:
        w.writestr(zipfile.ZipInfo('gone.txt', (2024, 3, 4, 5, 6, 8)), 'nothing of it is left\n' * 40,
                   zipfile.ZIP_DEFLATED)
    out['cut-at-data'] = z.getvalue()[:30 + len('gone.txt')]
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_STORED) as w:
        w.writestr(zipfile.ZipInfo('a name cut short.txt', (2024, 3, 4, 5, 6, 8)), 'stored data\n')
    out['cut-in-name'] = z.getvalue()[:30 + 6]
    book = words(60000, 60000)
    stream = Unseekable()
    with zipfile.ZipFile(stream, 'w') as w:
        info = zipfile.ZipInfo('book.fb2', (2024, 3, 4, 5, 6, 8))
        info.compress_type = zipfile.ZIP_DEFLATED
        with w.open(info, 'w', force_zip64=True) as f:
            f.write(book)
    data = bytes(stream.data)
    start = 30 + len('book.fb2') + 20
    descriptor = data.index(b'PK\x07\x08')
    out['py64-stream-cut'] = data[:(start + descriptor) // 2]
    out['py64-stream-cut-in-descriptor'] = data[:descriptor + 10]
    out['py64-stream-cut-at-data'] = data[:start]
    work = tempfile.mkdtemp()
    try:
        for name, text in (('book.fb2', book), ('other.fb2', words(20000, 20000))):
            with open(os.path.join(work, name), 'wb') as f:
                f.write(text)
        data = subprocess.run(['zip', '-q', '-X', '-', 'book.fb2', 'other.fb2'], cwd=work, check=True,
                              stdout=subprocess.PIPE).stdout
    finally:
        shutil.rmtree(work)
    assert struct.unpack_from('<HIII', data, 6)[0] & 8 and data.count(b'PK\x07\x08') == 2
    second = data.index(b'PK\x03\x04', 4)
    start = 30 + sum(struct.unpack_from('<HH', data, 26))
    out['iz-stream-cut'] = data[:(start + second) // 2]
    z = io.BytesIO()
    with zipfile.ZipFile(z, 'w', zipfile.ZIP_DEFLATED) as w:
        for name, text in (('первая.fb2', 'первая книга\n' * 30), ('книги/вторая.fb2', 'вторая книга\n' * 30)):
            info = zipfile.ZipInfo(name, (2024, 3, 4, 5, 6, 8))
            info.create_system = 0
            info.compress_type = zipfile.ZIP_DEFLATED
            w.writestr(info, text)
    out['utf8-name'] = z.getvalue()
    return out


def words(size, seed):
    """`size` bytes of numbered words, Russian and English, from `seed`."""
    rng = random.Random(seed)
    vocabulary = ['книга', 'глава', 'line', 'words', 'of', 'the', 'tome', 'shelf', 'read', 'page', 'автор', 'том']
    out = bytearray()
    while len(out) < size:
        out += ('%s %d ' % (rng.choice(vocabulary), rng.randrange(100000))).encode()
    return bytes(out[:size])


class Unseekable(io.RawIOBase):
    """A stream that cannot seek: zipfile writes streamed records into it."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def main(folder):
    for prefix, base in (('py', python_base()), ('iz', infozip_base())):
        for name, data in cases(base).items():
            with open(os.path.join(folder, '%s-%s.zip' % (prefix, name)), 'wb') as f:
                f.write(data)
    for name, data in single_cases().items():
        with open(os.path.join(folder, name + '.zip'), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main(sys.argv[1])
