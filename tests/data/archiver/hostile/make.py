#!/usr/bin/python3
"""Writes the hostile archives of this folder, one case per file.

Each archive shows one way a damaged or crafted zip file tried to make the
archiver lose data, pass bad data as good or spend far more than the file
is worth. The files are kept in the tree (tests and the fuzz replay read
them); this script says how each was made and makes them again:

    /usr/bin/python3 tests/data/archiver/hostile/make.py tests/data/archiver/hostile
"""
import io
import os
import struct
import sys
import zipfile
import zlib

DOS_TIME, DOS_DATE = 0x6000, 0x5421


def local_header(name, crc, csize, usize, method=0, version=20, flags=0):
    return struct.pack('<IHHHHHIIIHH', 0x04034B50, version, flags, method, DOS_TIME, DOS_DATE,
                       crc, csize, usize, len(name), 0) + name


def central_entry(name, crc, csize, usize, offset, method=0, version=20, made_by=20,
                  external=0x20, flags=0):
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, made_by, version, flags, method,
                       DOS_TIME, DOS_DATE, crc, csize, usize, len(name), 0, 0, 0, 0,
                       external, offset) + name


def central_on_disk(name, crc, csize, usize, offset, method, disk, zip64_disk=None):
    """A central entry naming volume `disk`, or (0xFFFF) `zip64_disk` in its zip64 field."""
    extra = b'' if zip64_disk is None else struct.pack('<HHI', 1, 4, zip64_disk)
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, method, DOS_TIME, DOS_DATE, crc, csize,
                       usize, len(name), len(extra), 0, disk, 0, 0x20, offset) + name + extra


def end_record(count, size, offset, shown_count=None):
    n = count if shown_count is None else shown_count
    return struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, n, n, size, offset, 0)


def archive(items):
    """items: (name, data, method, extra central fields) -> zip bytes."""
    out, central = b'', b''
    for name, data, method, kw in items:
        raw = zlib.compress(data, 9)[2:-4] if method == 8 else data
        crc = kw.pop('crc', zlib.crc32(data))
        version = kw.pop('version', 20)
        central += central_entry(name, crc, len(raw), len(data), len(out), method, version, **kw)
        out += local_header(name, crc, len(raw), len(data), method, version) + raw
    return out + central + end_record(len(items), len(central), len(out))


def write(folder, name, data):
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def main(folder):
    book = b'<FictionBook>' + b'text of the book ' * 200 + b'</FictionBook>'
    damaged = bytearray(book)
    damaged[100] ^= 0x20

    # 1. An entry whose "version needed" claims the other flavour (0x4114)
    # with data changed after its CRC was taken: still damaged.
    write(folder, 'crc-version-4114.zip',
          archive([(b'book.fb2', bytes(damaged), 0, {'crc': zlib.crc32(book), 'version': 0x4114})]))
    # ... and the same item with no central directory (read by the rebuild).
    write(folder, 'crc-version-4114-nodir.zip',
          local_header(b'book.fb2', zlib.crc32(book), len(damaged), len(damaged), 0, 0x4114) + damaged)

    # 2. Overlapping items. Twenty central entries share one deflated item of
    # 5 MB of zeros...
    zeros = bytes(5 << 20)
    raw = zlib.compress(zeros, 9)[2:-4]
    out = local_header(b'zeros.bin', zlib.crc32(zeros), len(raw), len(zeros), 8) + raw
    central = b''.join(central_entry(b'%d.bin' % i, zlib.crc32(zeros), len(raw), len(zeros), 0, 8)
                       for i in range(20))
    write(folder, 'overlap-shared.zip', out + central + end_record(20, len(central), len(out)))
    # ... and the quoted layout: each stored item's data holds the next
    # item's local header and everything after it, every CRC valid.
    n, kernel = 20, bytes(range(256)) * 400
    names = [b'q%02d.txt' % i for i in range(n)]
    tail = local_header(names[-1], zlib.crc32(kernel), len(kernel), len(kernel)) + kernel
    for name in reversed(names[:-1]):
        tail = local_header(name, zlib.crc32(tail), len(tail), len(tail)) + tail
    central, offset, rest = b'', 0, tail
    for name in names:
        header = 30 + len(name)
        data = rest[header:]
        central += central_entry(name, zlib.crc32(data), len(data), len(data), offset)
        offset += header
        rest = data
    write(folder, 'overlap-quoted.zip', tail + central + end_record(n, len(central), len(tail)))

    # 3. A file with the folder attribute but data and no trailing slash,
    # written on Unix (040755 in the high bits), beside a real folder.
    folder_attr = (0o40755 << 16) | 0x10
    items = [(b'd/', b'', 0, {'external': folder_attr, 'made_by': 0x031E}),
             (b'data', b'payload of a file marked as a folder', 0,
              {'external': folder_attr, 'made_by': 0x031E})]
    write(folder, 'folder-attr-with-data.zip', archive(items))
    # ... and such a file damaged: a test must read it to find out.
    write(folder, 'folder-attr-damaged.zip',
          archive([(b'data', bytes(damaged), 0,
                    {'external': folder_attr, 'made_by': 0x031E, 'crc': zlib.crc32(book)})]))

    # 4. Names with backslashes, as DOS-era tools wrote them.
    write(folder, 'backslash-names.zip',
          archive([(b'folder\\123.fb2', book, 8, {'made_by': 0x0014}),
                   (b'folder\\sub\\x.txt', b'inner', 0, {'made_by': 0x0014})]))

    # 5. A deflate bomb with honest sizes: 100 MB of zeros in about 100 KB.
    big = bytes(100 << 20)
    write(folder, 'deflate-bomb-100mb.zip', archive([(b'zeros.bin', big, 8, {})]))

    # 6. A directory whose count (2) is lower than its entries (3).
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w') as z:
        for i in range(3):
            z.writestr('m%d.txt' % i, 'member %d' % i)
    data = bytearray(buf.getvalue())
    end = data.rfind(b'PK\x05\x06')
    struct.pack_into('<HH', data, end + 8, 2, 2)
    write(folder, 'count-low.zip', bytes(data))

    # 7. 20,000 items with one name.
    write(folder, 'one-name-20000.zip',
          archive([(b'same.txt', b'%d' % i, 0, {}) for i in range(20000)]))

    # 8. Records whose local header names a shorter name than their entry
    # ("odd" for odd.txt, first, and "last" for last.txt, last), each
    # followed at once by the next record (the directory after the last):
    # measured with the entry's name, each would run into what follows.
    # Every record reads where its local header says; Info-ZIP takes all.
    items = [(b'odd.txt', b'odd record\n', b'odd'), (b'c.txt', b'clean c\n' * 40, b'c.txt'),
             (b'd.txt', b'clean d\n' * 40, b'd.txt'), (b'last.txt', b'last record\n', b'last')]
    out, central = b'', b''
    for name, data, local in items:
        crc = zlib.crc32(data)
        central += central_entry(name, crc, len(data), len(data), len(out))
        out += local_header(local, crc, len(data), len(data)) + data
    write(folder, 'local-name-shorter-sound.zip', out + central + end_record(len(items), len(central), len(out)))

    # 9. Twenty entries on one deflated record of 5 MB of zeros in a single
    # file, each naming a volume of its own (0 to 19), in the entry itself
    # or through its zip64 field: the file is read at the offset whatever
    # volume an entry names.
    out = local_header(b'zeros.bin', zlib.crc32(zeros), len(raw), len(zeros), 8) + raw
    for name, zip64 in (('disk-number-shared.zip', False), ('disk-number-zip64.zip', True)):
        central = b''.join(central_on_disk(b'%d.bin' % i, zlib.crc32(zeros), len(raw), len(zeros), 0, 8,
                                           0xFFFF if zip64 else i, i if zip64 else None) for i in range(20))
        write(folder, name, out + central + end_record(20, len(central), len(out)))

    # 10. Four stored items of 60 bytes; the first's local header says its
    # name is 1,000 bytes long, more than the file holds: its record runs
    # over the three others and past the end of the file.
    out, central = b'', b''
    for i, name in enumerate((b'a.txt', b'b.txt', b'c.txt', b'd.txt')):
        data = b'%d' % i * 60
        central += central_entry(name, zlib.crc32(data), len(data), len(data), len(out))
        header = bytearray(local_header(name, zlib.crc32(data), len(data), len(data)))
        if i == 0:
            struct.pack_into('<H', header, 26, 1000)
        out += bytes(header) + data
    write(folder, 'local-name-runs-over.zip', out + central + end_record(4, len(central), len(out)))

    # 11. Four stored items of 600 bytes; one bit of b.txt's local header
    # offset in the directory inverted: it points into c.txt's data.
    out, central = b'', b''
    for name in (b'a.txt', b'b.txt', b'c.txt', b'd.txt'):
        data = b''.join(b'%s line %d\n' % (name, i) for i in range(60))[:600]
        offset = len(out)
        if name == b'b.txt':
            c_data = offset + 30 + 5 + 600 + 30 + 5
            offset ^= next(1 << b for b in range(32) if c_data < offset ^ (1 << b) < c_data + 600 - 30)
        central += central_entry(name, zlib.crc32(data), len(data), len(data), offset)
        out += local_header(name, zlib.crc32(data), len(data), len(data)) + data
    write(folder, 'offset-flipped.zip', out + central + end_record(4, len(central), len(out)))

    # 12. A stored item whose data begin with a whole record of a.txt, and
    # whose local header's compressed size lost its low bit; a.txt's entry
    # has that record's name, CRC and sizes, and an offset one byte into the
    # item's header. The inner record is a.txt's only if it is read twice.
    text = b''.join(b'a.txt line %d\n' % i for i in range(100))[:1000]
    inner = local_header(b'a.txt', zlib.crc32(text), len(text), len(text)) + text
    data = inner + b'padding of b.bin\n'
    header = bytearray(local_header(b'b.bin', zlib.crc32(data), len(data), len(data)))
    header[18] ^= 1
    out = bytes(header) + data
    central = (central_entry(b'b.bin', zlib.crc32(data), len(data), len(data), 0) +
               central_entry(b'a.txt', zlib.crc32(text), len(text), len(text), 1))
    write(folder, 'lost-offset-inside-other.zip', out + central + end_record(2, len(central), len(out)))
    # ... and the same behind a record the directory does not list, at whose
    # offset b.bin's entry points: b.bin is read from that header of another
    # name, its data running over the record of a.txt that the scan finds.
    before = local_header(b'first.txt', zlib.crc32(b'first\n'), 6, 6) + b'first\n'
    write(folder, 'lost-offset-foreign-header.zip',
          before + out + central + end_record(2, len(central), len(before + out)))

    # 13. Three stored items; the second's data hold an end-record signature
    # whose comment length reaches the end of the file, and whose directory
    # (10 bytes at offset 0) would fit before it but holds no central entry.
    # The real end record is the last 22 bytes, as peers read it.
    def with_fake(length):
        fake = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 1, 1, 10, 0, length)
        return [(b'a.txt', b'clean a\n' * 40, 0, {}), (b'b.bin', b'before ' + fake + b' after\n', 0, {}),
                (b'c.txt', b'clean c\n' * 40, 0, {})]
    out = archive(with_fake(0))
    at = out.find(b'PK\x05\x06')
    write(folder, 'end-record-in-data.zip', archive(with_fake(len(out) - at - 22)))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
