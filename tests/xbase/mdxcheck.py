"""A structural check of MDX files, written from the format's description
alone (not from the engine's code), against a table read by dbfread.

  mdxcheck.py MDX DBF TAGS

TAGS is JSON: a list of {"tag": name, "key": python expression, "for":
python expression or "", "unique": bool, "descending": bool, "built":
bool}. A tag built and not changed since lists equal keys in record order,
and a unique one every key of the passing records, with its first record;
a unique tag kept through changes lists each key at most once. The
expressions see the record `r` (dbfread's values by field name) and `up`
(upper case by Unicode's simple mapping within Windows-1251). A key is text
(C), a number (N) or a date (D) as the tag's type says; a date of None is
the empty date.

Prints "OK", or one line per broken rule.
"""
import datetime
import json
import struct
import sys

BLOCK = 512
errors = []


def fail(msg):
    errors.append(msg)


def up(s):
    out = []
    for ch in s:
        u = ch.upper()
        try:
            out.append(u if len(u) == 1 and len(u.encode('cp1251')) == 1 else ch)
        except UnicodeEncodeError:
            out.append(ch)
    return ''.join(out)


def u16(b, at):
    return struct.unpack_from('<H', b, at)[0]


def u32(b, at):
    return struct.unpack_from('<I', b, at)[0]


def zstring(b, at, n):
    field = b[at:at + n]
    end = field.find(b'\0')
    return None if end < 0 else field[:end]


def unpack_decimal(k):
    """The value of a 12-byte packed decimal as a string of digits and an
    exponent: 0.digits * 10^exponent, with its sign."""
    positions = (k[1] & 0x7F) >> 2
    digits = ''
    for i in range(positions):
        d = (k[2 + i // 2] >> (4 if i % 2 == 0 else 0)) & 15
        if d > 9:
            return None
        digits += str(d)
    if not digits.strip('0'):
        return 0.0
    v = float('0.' + digits + 'e' + str(k[0] - 52))
    return -v if k[1] & 0x80 else v


def records(dbf):
    """(record number, deleted, values) of every record, in file order."""
    from dbfread import DBF
    t = DBF(dbf, encoding='cp1251', char_decode_errors='strict')
    raw = open(dbf, 'rb').read()
    count, head, reclen = u32(raw, 4), u16(raw, 8), u16(raw, 10)
    live, dead = iter(t), iter(t.deleted)
    out = []
    for n in range(count):
        deleted = raw[head + n * reclen:head + n * reclen + 1] == b'*'
        out.append((n + 1, deleted, next(dead) if deleted else next(live)))
    return out


def model_key(kind, length, v):
    if kind == 'C':
        b = v.encode('cp1251')[:length]
        return b + b' ' * (length - len(b))
    if kind == 'N':
        return float('%.14e' % float(v)) if v else 0.0
    if v is None:
        return 1.0e100
    if isinstance(v, datetime.datetime):
        v = v.date()
    return float(v.toordinal() + 1721425)


def stored_key(kind, k):
    if kind == 'C':
        return bytes(k)
    if kind == 'N':
        return unpack_decimal(k)
    return struct.unpack('<d', bytes(k[:8]))[0]


def check_tag(mdx, page_size, size, name, block, kind_in_table, spec, rows, seen):
    h = mdx[block * BLOCK:block * BLOCK + page_size]
    where = 'tag %s' % name
    root, options, kind = u32(h, 0), h[8], chr(h[9])
    length, maximum, entry = u16(h, 12), u16(h, 14), u16(h, 18)
    if kind != kind_in_table:
        fail('%s: type %s in its header, %s in the table' % (where, kind, kind_in_table))
    if kind not in 'CND' or (kind == 'N' and length != 12) or (kind == 'D' and length != 8) or length < 1:
        fail('%s: type %s with key length %d' % (where, kind, length))
        return
    if entry != (length + 4 + 3) // 4 * 4:
        fail('%s: entry length %d for key length %d' % (where, entry, length))
    if maximum != (page_size - 8) // entry - 1:
        fail('%s: maximum keys %d' % (where, maximum))
    unique, descending = bool(options & 0x40), bool(options & 8)
    if options & 0x10 == 0 or (h[23] == 0x40) != unique:
        fail('%s: options %#x, byte 23 %#x' % (where, options, h[23]))
    if unique != spec['unique'] or descending != spec['descending']:
        fail('%s: unique %s descending %s' % (where, unique, descending))
    if zstring(h, 24, 245 - 24) is None:
        fail('%s: key expression not terminated' % where)
    if h[246] != 1 or (h[245] == 1) != bool(spec['for']):
        fail('%s: bytes 245-246 %d %d' % (where, h[245], h[246]))
    if h[245] and zstring(h, 762, page_size - 762) is None:
        fail('%s: FOR expression not terminated' % where)
    for at in (248, 252):
        b = u32(h, at)
        if b < 4 or b * BLOCK + page_size > size:
            fail('%s: page %d at byte %d outside the file' % (where, b, at))

    listed = []

    def walk(page, depth):
        if page < 4 or page * BLOCK + page_size > size or depth > 64:
            fail('%s: page %d outside the file' % (where, page))
            return None
        if page in seen:
            fail('%s: page %d reached twice' % (where, page))
            return None
        seen.add(page)
        p = mdx[page * BLOCK:page * BLOCK + page_size]
        k = u32(p, 0)
        if k > maximum:
            fail('%s: page %d holds %d keys' % (where, page, k))
            return None
        node = u32(p, 8 + k * entry) != 0
        last = None
        for i in range(k):
            e = p[8 + i * entry:8 + (i + 1) * entry]
            key = e[4:4 + length]
            if node:
                below = walk(u32(e, 0), depth + 1)
                if below is not None and below != key:
                    fail('%s: node %d key %d is not the last key below it' % (where, page, i))
            else:
                listed.append((u32(e, 0), key))
            last = key
        if node:
            below = walk(u32(p, 8 + k * entry), depth + 1)
            last = below
        return last

    walk(root, 1)
    # The records the tag must list, each once, with its key.
    expect = {}
    first = {}
    for rec, deleted, values in rows:
        env = {'r': values, 'up': up, 'deleted': deleted}
        if spec['for'] and not eval(spec['for'], env):
            continue
        key = model_key(kind, length, eval(spec['key'], env))
        expect[rec] = key
        first.setdefault(key, rec)
    got = [rec for rec, _ in listed]
    if unique:
        keys = [expect[rec] for rec in got if rec in expect]
        if len(keys) != len(got) or len(set(keys)) != len(keys):
            fail('%s: lists a record twice, or a key twice, or a record that does not pass' % where)
            return
        if spec.get('built') and sorted(got) != sorted(first.values()):
            fail('%s: lists %s, not the first record of each key' % (where, got[:20]))
            return
    elif sorted(got) != sorted(expect):
        fail('%s: lists records %s, expected %s' % (where, got[:20], sorted(expect)[:20]))
        return
    previous = None
    for rec, key in listed:
        value = stored_key(kind, key)
        if value is None:
            fail('%s: record %d: a packed decimal that cannot be read' % (where, rec))
            return
        if value != expect[rec]:
            fail('%s: record %d: key %r, its field gives %r' % (where, rec, value, expect[rec]))
            return
        if previous is not None:
            pv, pr = previous
            before = value > pv if descending else value < pv
            if before or (value == pv and rec < pr and spec.get('built')):
                fail('%s: record %d out of order' % (where, rec))
                return
        previous = (value, rec)


def main(path, dbf, tags_json):
    specs = {t['tag'].upper(): t for t in json.loads(tags_json)}
    mdx = open(path, 'rb').read()
    size = len(mdx)
    h = mdx[:2048]
    if size < 2048 or h[0] != 2:
        fail('header: byte 0 or size')
        return
    unit, page_size, count = u16(h, 20), u16(h, 22), u16(h, 28)
    if page_size % BLOCK or page_size > 4096 or page_size > unit * BLOCK:
        fail('header: page size %d, unit %d' % (page_size, unit))
    if h[24] != 1 or h[25] != 48 or u16(h, 26) != 32:
        fail('header: bytes 24-27')
    # The last page ends the file; it took `unit` blocks (of which a page
    # may use fewer).
    if (u32(h, 32) - max(unit, page_size // BLOCK)) * BLOCK + page_size != size and u32(h, 32) * BLOCK != size:
        fail('header: next free block %d, file of %d bytes' % (u32(h, 32), size))
    if count > 47:
        fail('header: %d tags' % count)
        return
    if count and h[512 + 17] != 1:
        fail('tag table: the first slot does not link to entry 1')
    rows = records(dbf)
    names, seen = [], set()
    for i in range(1, count + 1):
        e = h[512 + 32 * i:512 + 32 * (i + 1)]
        name = zstring(e, 4, 11)
        if name is None:
            fail('entry %d: name not terminated' % i)
            continue
        name = name.decode('cp1251')
        names.append(name)
        if e[17] != (i + 1 if i < count else 0) or e[19] != 2:
            fail('entry %d: link %d, byte 19 %d' % (i, e[17], e[19]))
        if name not in specs:
            fail('entry %d: tag %s not expected' % (i, name))
            continue
        check_tag(mdx, page_size, size, name, u32(e, 0), chr(e[20]), specs[name], rows, seen)
    if names != sorted(names, key=lambda n: n.encode('cp1251')):
        fail('tag table: names not in order: %s' % names)
    if sorted(names) != sorted(specs):
        fail('tag table: tags %s, expected %s' % (names, sorted(specs)))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2], sys.argv[3])
    print('\n'.join(errors) if errors else 'OK')
