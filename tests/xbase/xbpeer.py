"""Peer readers and writers of tables for the engine's tests.

  xbpeer.py pydbf DIR       makes python3-dbf tables in DIR and prints what
                            they hold (see below)
  xbpeer.py pydbfall DIR    makes python3-dbf tables of every field type in
                            DIR and prints "T file count" for each
  xbpeer.py dbfread TABLE   prints the live records as dbfread reads them
  xbpeer.py fixture JSON    prints what a fixture's JSON expects
  xbpeer.py select TABLE P...  prints for each Python expression P, on a
                            line, blank-separated and sorted, field RN of
                            every record (live or deleted) for which P
                            holds: the record's values are `r` (by field
                            name, as dbfread reads them), `deleted` its
                            flag, `date` is datetime.date
  xbpeer.py fixturelive JSON  prints a fixture's live rows as 'V' lines,
                            as dbfread would list them
  xbpeer.py sortmodel TABLE prints 'U recnos' (every record in the order of
                            the bytes of its first field upper-cased by
                            Unicode's simple case mapping within
                            Windows-1251, ties by record number) and 'H
                            recnos' (the same upper-casing only a-z and
                            а-я, as the fixtures' writer does)
  xbpeer.py pydbfmemos TABLE  prints 'M recno deleted hex' for the memo
                            field NOTE of every record as python3-dbf
                            reads it
  xbpeer.py orders JSON     prints a fixture's index orders (see below)
  xbpeer.py navtables DIR   makes python3-dbf tables for walks: nav.dbf
                            (12 records, 1, 4, 5 and 12 deleted), three.dbf
                            (3 records), memo.dbf (dBase III with memos)

Output is one item per line, bytes as hex of their Windows-1251 form:
  T file count            a table and its record count
  R recno deleted hex     a record: deletion flag (0/1), raw bytes
  M recno hex             the memo of field NOTES / NOTE of that record
  C recno index hex       C field `index` (0-based), trailing blanks removed
  V v1|v2|...             one live record's values as dbfread reads them:
                          text as hex, dates yyyymmdd, date-times as
                          milliseconds since 0001-01-01 less one day,
                          logicals T/F, numbers as Python prints them,
                          None as nothing
  D v1|v2|...             one deleted record's, after all live ones
  O tag count desc unique type dec   an index order of a fixture, then:
  W r1 r2 ...             its walk (record numbers)
  K k1 k2 ...             its keys: C hex (- when empty), N with the order's
                          decimals, D yyyymmdd (- when empty)
  S key soft last deleted found recno eof   a seek (key as a K item)
"""
import json
import os
import sys


def hexs(v):
    import datetime
    if v is None:
        return ''
    if isinstance(v, bool):
        return 'T' if v else 'F'
    if isinstance(v, datetime.datetime):
        ms = (v.hour * 3600 + v.minute * 60 + v.second) * 1000 + v.microsecond // 1000
        return str(v.toordinal() * 86400000 + ms)
    if isinstance(v, datetime.date):
        return '%04d%02d%02d' % (v.year, v.month, v.day)
    if isinstance(v, str):
        return v.encode('cp1251').hex()
    if isinstance(v, (bytes, bytearray)):
        return bytes(v).hex()
    return str(v)


def pydbf(folder):
    import dbf
    memo = 'Записка\r\nвторая строка ' + 'x' * 700
    rows = [('Иван', memo, 5), ('deleted', 'gone', 7), ('B', '', 8), ('Ёлка', 'short', -3)]
    kinds = [('db3m', 'db3', True), ('db3n', 'db3', False), ('fpm', 'fp', True), ('vfpm', 'vfp', True)]
    for name, kind, with_memo in kinds:
        spec = 'name C(12); notes M; qty N(5,0)' if with_memo else 'name C(12); qty N(5,0)'
        t = dbf.Table(os.path.join(folder, name), spec, dbf_type=kind, codepage='cp1251')
        t.open(dbf.READ_WRITE)
        for r in rows:
            t.append(r if with_memo else (r[0], r[2]))
        dbf.delete(t[1])
        print('T %s.dbf %d' % (name, len(t)))
        for i, rec in enumerate(t):
            print('R %d %d %s' % (i + 1, 1 if dbf.is_deleted(rec) else 0, bytes(rec._data).hex()))
            if with_memo and rows[i][1]:
                print('M %d %s' % (i + 1, hexs(rows[i][1])))
        t.close()


def navtables(folder):
    import dbf
    names = ['Шукшин', 'abel', 'Ёжиков', 'Zola', 'Бунин', 'абрамов', 'Zola', 'Чехов', 'Ahmatova', 'бунин',
             'Ёлкин', 'Горький']
    t = dbf.Table(os.path.join(folder, 'nav'), 'name C(20); qty N(5,0)', dbf_type='db3', codepage='cp1251')
    t.open(dbf.READ_WRITE)
    for i, n in enumerate(names):
        t.append((n, (i * 37) % 23 - 11))
    for i in (0, 3, 4, 11):
        dbf.delete(t[i])
    t.close()
    t = dbf.Table(os.path.join(folder, 'three'), 'name C(8)', dbf_type='db3', codepage='cp1251')
    t.open(dbf.READ_WRITE)
    for n in ('one', 'two', 'three'):
        t.append((n,))
    t.close()
    t = dbf.Table(os.path.join(folder, 'memo'), 'name C(10); notes M', dbf_type='db3', codepage='cp1251')
    t.open(dbf.READ_WRITE)
    for i in range(5):
        t.append(('rec%d' % i, ('Записка %d ' % i) * (i * 90) if i != 2 else ''))
    dbf.delete(t[3])
    t.close()


def pydbfall(folder):
    import datetime
    import decimal
    import dbf
    memo = 'Записка\r\nвторая строка ' + 'x' * 700
    rows = [('Иван', 12.5, 3.25, datetime.date(1999, 12, 31), True, memo, 7, 1.5,
             datetime.datetime(2024, 2, 29, 13, 45, 10), decimal.Decimal('12.3456')),
            ('gone', -1.0, 0.0, None, False, 'x', -3, -2.25, None, decimal.Decimal('-1')),
            ('', 0, None, datetime.date(2024, 2, 29), None, '', 0, 0.0,
             datetime.datetime(1900, 1, 1), decimal.Decimal('0')),
            ('Ёлка', -98765.43, -0.001, datetime.date(1, 1, 1), False, 'short', -2147483647, 1e300,
             datetime.datetime(9999, 12, 31, 23, 59, 59), decimal.Decimal('-922337203685.4775'))]
    kinds = [('db3all', 'db3', 'name C(12); qty N(10,2); born D; ok L; notes M', [0, 1, 3, 4, 5]),
             ('fpall', 'fp', 'name C(12); qty N(10,2); rate F(10,3); born D; ok L; notes M', [0, 1, 2, 3, 4, 5]),
             ('vfpall', 'vfp', 'name C(12); qty N(10,2); rate F(10,3); born D; ok L; notes M; cnt I; dbl B; '
              'ts T; price Y', list(range(10)))]
    for name, kind, spec, columns in kinds:
        t = dbf.Table(os.path.join(folder, name), spec, dbf_type=kind, codepage='cp1251')
        t.open(dbf.READ_WRITE)
        for r in rows:
            t.append(tuple(r[i] for i in columns))
        dbf.delete(t[1])
        print('T %s.dbf %d' % (name, len(t)))
        t.close()


def dbfread_dump(table):
    from dbfread import DBF
    t = DBF(table, encoding='cp1251', char_decode_errors='strict')
    for rec in t:
        print('V ' + '|'.join(hexs(v) for v in rec.values()))
    for rec in t.deleted:
        print('D ' + '|'.join(hexs(v) for v in rec.values()))


def select(table, predicates):
    import datetime
    from dbfread import DBF
    t = DBF(table, encoding='cp1251', load=True)
    for predicate in predicates:
        test = eval('lambda r, deleted: ' + predicate, {'date': datetime.date})
        rns = [int(r['RN']) for r in t.records if test(r, False)]
        rns += [int(r['RN']) for r in t.deleted if test(r, True)]
        print(' '.join(str(n) for n in sorted(rns)))


def order_key(o, v):
    if o['key_type'] == 'C':
        return v.encode('cp1251').hex() or '-'
    if o['key_type'] == 'N':
        return '%.*f' % (o['key_dec'], v)
    return v or '-'


def orders(path):
    d = json.load(open(path, encoding='utf-8'))
    b = lambda v: '1' if v else '0'
    for o in d['orders']:
        print('O %s %d %s %s %s %d' % (o['tag'], o['key_count'], b(o['descending']), b(o['unique']),
                                       o['key_type'], o['key_dec']))
        print('W ' + ' '.join(str(r) for r in o['recnos']))
        if 'keys' in o:
            print('K ' + ' '.join(order_key(o, k) for k in o['keys']))
        for s in o.get('seeks', []):
            print('S %s %s %s %s %s %d %s' % (order_key(o, s['key']), b(s['soft']), b(s['last']),
                                              b(s['deleted_on']), b(s['found']), s['recno'], b(s['eof'])))


def fixture(path):
    d = json.load(open(path, encoding='utf-8'))
    h = d['header']
    print('H %d %d %d' % (h['lastrec'], h['header_len'], h['record_len']))
    fields = d['fields']
    for row in d['rows']:
        recno, deleted, values = row[0], row[1], row[2:]
        print('R %d %d' % (recno, 1 if deleted else 0))
        for i, (f, v) in enumerate(zip(fields, values)):
            if f[1] == 'C':
                print('C %d %d %s' % (recno, i, hexs(v)))
            elif f[1] == 'M':
                print('M %d %s' % (recno, hexs(v)))


def fixturelive(path):
    d = json.load(open(path, encoding='utf-8'))
    types = [f[1] for f in d['fields']]
    unset = {(r, f) for r, f in d['unset_fields']}
    names = [f[0] for f in d['fields']]
    for row in d['rows']:
        if row[1]:
            continue
        out = []
        for name, t, v in zip(names, types, row[2:]):
            if (row[0], name) in unset and t != 'C':
                v = None  # blanks, which dbfread reads as no value
            elif t == 'D' and v == '':
                v = None
            elif t == 'M' and v == '':
                v = None
            out.append(v if t == 'D' and v else hexs(v))
        print('V ' + '|'.join(out))


def sortmodel(table):
    data = open(table, 'rb').read()
    head, reclen, count = int.from_bytes(data[8:10], 'little'), int.from_bytes(data[10:12], 'little'), \
        int.from_bytes(data[4:8], 'little')
    width = data[32 + 16]

    def unicode_upper(b):
        try:
            u = bytes([b]).decode('cp1251').upper()
            return u.encode('cp1251')[0] if len(u) == 1 else b
        except (UnicodeDecodeError, UnicodeEncodeError):
            return b

    def writer_upper(b):
        return b - 32 if 0x61 <= b <= 0x7A or 0xE0 <= b <= 0xFF else b

    for tag, upper in (('U', unicode_upper), ('H', writer_upper)):
        table_ = bytes(upper(b) for b in range(256))
        keys = []
        for n in range(count):
            at = head + n * reclen + 1
            keys.append((data[at:at + width].translate(table_), n + 1))
        print(tag + ' ' + ' '.join(str(n) for _, n in sorted(keys)))


def pydbfmemos(table):
    import dbf
    t = dbf.Table(table, codepage='cp1251')
    t.open(dbf.READ_ONLY)
    for i, rec in enumerate(t):
        print('M %d %d %s' % (i + 1, 1 if dbf.is_deleted(rec) else 0, hexs(rec['note'])))
    t.close()


if __name__ == '__main__':
    cmd, arg = sys.argv[1], sys.argv[2]
    if cmd == 'select':
        select(arg, sys.argv[3:])
        sys.exit(0)
    {'pydbf': pydbf, 'pydbfall': pydbfall, 'dbfread': dbfread_dump, 'fixture': fixture, 'orders': orders,
     'navtables': navtables, 'fixturelive': fixturelive, 'pydbfmemos': pydbfmemos,
     'sortmodel': sortmodel}[cmd](arg)
