#!/usr/bin/python3
"""Writes the damaged archives of this folder (run from anywhere; the files
are kept in the repository, so this is the record of how they were made).

Each archive holds small FB2 books numbered 1, 2, 3...; book 2 is the damaged
one unless its file says otherwise:
  truncated-deflate.zip  2.fb2's deflate stream cut to its first 40 bytes
  unknown-method.zip     2.fb2 stored with compression method 99
  bad-xml.zip            2.fb2 with an unclosed tag, 3.fb2 with an undeclared
                         prefix in title-info; 1 and 4 sound
  encrypted-member.zip   2.fb2 encrypted with the traditional cipher (Info-ZIP)
  truncated-archive.zip  a sound archive of three books cut after book 2's
                         data: no central directory
  not-a-zip.zip          text
"""

import os
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def book(number, title_info_extra=""):
    body = " ".join("Слово%d" % i for i in range(400))
    return ('<?xml version="1.0" encoding="utf-8"?>\n'
            '<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0"><description><title-info>'
            '<genre>prose</genre><author><first-name>Иван</first-name><last-name>Тестов</last-name></author>'
            '<book-title>Книга %d</book-title>%s<lang>ru</lang></title-info></description>'
            '<body><section><p>%s</p></section></body></FictionBook>\n' % (number, title_info_extra, body)
            ).encode("utf-8")


def write_zip(path, members):
    """members: (name, data, method, stored bytes or None); sizes and CRC
    are those of `data` whatever is stored."""
    out = bytearray()
    central = bytearray()
    for name, data, method, stored in members:
        if stored is None:
            stored = data if method == 0 else zlib.compress(data, 9)[2:-4]
        fields = struct.pack("<HHHHHIII", 20, 0, method, 0, 0x5821, zlib.crc32(data), len(stored), len(data))
        offset = len(out)
        out += b"PK\x03\x04" + fields + struct.pack("<HH", len(name), 0) + name.encode() + stored
        central += (b"PK\x01\x02" + struct.pack("<H", 20) + fields +
                    struct.pack("<HHHHHII", len(name), 0, 0, 0, 0, 0, offset) + name.encode())
    end = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, len(members), len(members), len(central), len(out), 0)
    with open(path, "wb") as f:
        f.write(bytes(out + central + end))


def main():
    full = zlib.compress(book(2), 9)[2:-4]
    write_zip(os.path.join(HERE, "truncated-deflate.zip"),
              [("1.fb2", book(1), 8, None), ("2.fb2", book(2), 8, full[:40]), ("3.fb2", book(3), 8, None)])
    write_zip(os.path.join(HERE, "unknown-method.zip"),
              [("1.fb2", book(1), 8, None), ("2.fb2", book(2), 99, book(2)), ("3.fb2", book(3), 8, None)])
    write_zip(os.path.join(HERE, "bad-xml.zip"),
              [("1.fb2", book(1), 8, None), ("2.fb2", book(2, "<annotation><p>открыто</annotation>"), 8, None),
               ("3.fb2", book(3, "<x:keywords>слово</x:keywords>"), 8, None), ("4.fb2", book(4), 8, None)])
    with tempfile.TemporaryDirectory() as tmp:
        for n in (1, 2, 3):
            with open(os.path.join(tmp, "%d.fb2" % n), "wb") as f:
                f.write(book(n))
        target = os.path.join(HERE, "encrypted-member.zip")
        if os.path.exists(target):
            os.remove(target)
        subprocess.run(["zip", "-q", "-X", "-D", target, "1.fb2"], cwd=tmp, check=True)
        subprocess.run(["zip", "-q", "-X", "-D", "-P", "secret", target, "2.fb2"], cwd=tmp, check=True)
        subprocess.run(["zip", "-q", "-X", "-D", target, "3.fb2"], cwd=tmp, check=True)
    sound = os.path.join(HERE, "truncated-archive.zip")
    write_zip(sound, [("1.fb2", book(1), 8, None), ("2.fb2", book(2), 8, None), ("3.fb2", book(3), 8, None)])
    with open(sound, "rb") as f:
        data = f.read()
    cut = data.index(b"PK\x03\x04", data.index(b"2.fb2") + 1)  # book 3's local header
    with open(sound, "wb") as f:
        f.write(data[:cut])
    with open(os.path.join(HERE, "not-a-zip.zip"), "wb") as f:
        f.write(b"This is not a zip archive.\r\n" * 8)


if __name__ == "__main__":
    main()
