#!/usr/bin/python3
"""Makes sample e-book collections for Tomeshelf's tests and benchmarks.

A collection is what a user points Tomeshelf at: an archive folder of numbered
zip archives of FB2 books and an INPX index (a zip of UTF-8 record lines).
Beside it this program writes the catalogue that Tomeshelf's book-list build
must produce from it, computed here independently from the files just written:
as plain files under expected/ and as a reference catalogue archive (.dbz).

Only the Python standard library is used, so its zipfile module acts as an
independent zip implementation and every fixture doubles as an
interoperability test. Output is byte-for-byte deterministic for a given
--variant, --records and --seed.

Variants:
  small  every odd archive, odd FB2 head and odd index record, a few hundred books
  edge   small plus the large-count cases (pseudo-authors, >100,000 authors,
         a block of more than 65,535 lines, bad lines, unsafe file numbers) and
         three sub-collections of exactly 1,000, 1,001 and 2,500 authors
  scale  250,000-600,000 plain records for benchmarks

tools/README.md describes the layout and the assumptions of the model.
"""

import argparse
import codecs
import json
import os
import random
import shutil
import struct
import sys
import time
import xml.etree.ElementTree as ET
import zipfile
import zlib
from xml.sax.saxutils import escape as xml_escape

GENERATOR = "make_collection"
GENERATOR_VERSION = 2
DEFAULT_SEED = 20240607
ZIP_TIME = (2024, 1, 1, 12, 0, 0)
UTF8_BOM = b"\xef\xbb\xbf"

# --------------------------------------------------------------------------
# Windows-1251 ("ANSI") text, as the catalogue stores it.
# --------------------------------------------------------------------------


def _ansi_tables():
    decode = []
    for b in range(256):
        try:
            decode.append(bytes([b]).decode("cp1251"))
        except UnicodeDecodeError:
            decode.append(chr(b))  # 0x98 is undefined: it stands for U+0098
    encode = {c: b for b, c in enumerate(decode)}
    # Upper case from Unicode case mapping, kept only where the result is one
    # character that 1251 has (so 0xB5 micro sign stays: its upper is Greek).
    upper = bytearray(range(256))
    for b, c in enumerate(decode):
        u = c.upper()
        if len(u) == 1 and u in encode:
            upper[b] = encode[u]
    return decode, bytes(upper)


ANSI_DECODE, ANSI_UPPER = _ansi_tables()


def _ansi_encode_error(err):
    bad = err.object[err.start:err.end]
    return bytes(0x98 if c == "\x98" else 0x3F for c in bad), err.end


def _ansi_decode_error(err):
    return "".join(chr(b) for b in err.object[err.start:err.end]), err.end


codecs.register_error("tomeshelf-ansi", _ansi_encode_error)
codecs.register_error("tomeshelf-ansi-decode", _ansi_decode_error)


def to_ansi(text):
    """Unicode text to 1251 bytes; a character 1251 lacks becomes '?'."""
    return text.encode("cp1251", "tomeshelf-ansi")


def from_ansi(data):
    return data.decode("cp1251", "tomeshelf-ansi-decode")


CONTROLS_TO_BLANK = bytes.maketrans(bytes(range(32)), b" " * 32)


def clean(field):
    """Control characters become blanks, then blanks are trimmed."""
    return field.translate(CONTROLS_TO_BLANK).strip(b" ")


def blank_controls(field):
    """Control characters become blanks; the blanks stay."""
    return field.translate(CONTROLS_TO_BLANK)


def cut(field, width):
    return field[:width].rstrip(b" ")


# --------------------------------------------------------------------------
# Genre table: FB2 genre id -> two-letter code, searched in this row order.
# Ids and codes both repeat; every matching row contributes its code.
# --------------------------------------------------------------------------

GENRE_ROWS = [tuple(row.split(":")) for row in """
FS:sf FF:sf_fantasy FA:sf_action FH:sf_horror FU:sf_humor FK:sf_space FH:sf_history F0:sf_social FL:love_sf
FC:child_sf FE:sf_heroic F1:sf_epic FD:sf_detective FY:sf_cyberpunk F2:sf_fantasy_city F3:sf_postapocalyptic
FM:sf_mystic F4:sf_space_opera FO:sf_etc FI:sf_fantasy_irony FP:sf_stimpank FN:nsf FT:sf_technofantasy
FG:gothic_novel FJ:sf_irony FZ:fairy_fantasy PM:prose_contemporary PC:prose_classic PR:prose_rus_classic
PS:prose_su_classics PH:prose_history PP:prose PW:prose_military PU:prose_counter PZ:short_story
PE:epistolary_fiction PY:essay PA:aphorisms PG:prose_magic PN:roman PO:great_story PX:story PZ:extravaganza
DO:detective DT:thriller DC:det_classic DA:det_action DI:det_irony DD:child_det DL:love_detective D1:det_hard
DS:det_espionage DP:det_police DR:det_crime DH:det_history DF:sf_detective DW:det_cozy D2:det_political
DM:det_maniac DE:thriller_medical DU:thriller_legal D3:thriller_techno SH:sci_history SY:sci_psychology
S0:sci_philosophy SO:science SP:sci_politics ST:sci_tech SU:sci_juris SK:sci_culture S1:sci_medicine
SX:sci_linguistic SD:sci_business SR:sci_religion SL:sci_philology SY:sci_biology SM:sci_math SF:sci_phys
SE:sci_economy S2:sci_medicine_alternative SA:sci_cosmos S3:sci_pedagogy S4:sci_chem SG:sci_state S5:sci_geo
SW:military_history SB:sci_biochem S6:sci_physchem S7:sci_social_studies S8:sci_biophys S9:sci_orgchem
SI:sci_anachem SJ:sci_botany SV:sci_veterinary SZ:sci_zoo VP:nonf_publicism VB:nonf_biography VS:sci_popular
VN:adv_animal VL:nonfiction VK:nonf_criticism VW:nonf_military LH:love_history LM:love_contemporary
LK:love_short LL:love LO:love_detective LF:love_sf LE:love_erotica LW:det_cozy CO:children CT:child_tale
CP:child_prose CX:child_det CF:child_sf CA:child_adv CE:child_education CV:child_verse CL:child_folklore
UF:sf_humor UP:humor_prose UO:humor UV:humor_verse UA:humor_anecdote UC:comedy US:humor_satire AO:adventure
AH:adv_history AG:adv_geo AA:adv_animal AC:child_adv AM:adv_maritime AW:adv_western AI:adv_indian
HH:home_health HE:home_sex HK:home_cooking HY:home_crafts HA:home_pets HS:home_sport HO:home
HR:home_entertain HD:home_diy HG:home_garden HC:home_collecting RE:religion_esoterics RR:religion_rel
RS:religion_self RP:religion_orthodoxy RB:religion_budda RC:religion_christianity RT:religion_protestantism
RL:religion RA:astrology RI:religion_judaism RJ:religion_hinduism RM:religion_islam RK:religion_catholicism
RZ:religion_paganism RX:palmistry EO:poetry EC:child_verse EU:humor_verse EP:palindromes EB:fable
EP:song_poetry EL:lyrics ES:in_verse EE:epic_poetry XG:periodic XO:other XU:unfinished XF:fanfiction
XT:theatre XM:music XK:cine XP:notes YE:ref_encyc YR:ref_guide YI:design YS:ref_ref YL:reference YD:ref_dict
YP:geo_guides TS:sci_tech TR:sci_radio TT:sci_transport TB:sci_build TM:sci_metal GD:dramaturgy GT:tragedy
GK:screenplays GC:comedy GG:drama GV:vaudeville GS:scenarios IO:computers IP:comp_programming IN:comp_osnet
IS:comp_soft IW:comp_www IB:comp_db IC:comp_hard ID:comp_dsp OA:antique_ant OM:antique_myths OE:antique_east
OZ:antique_european OR:antique_russian OO:antique BP:popular_business BE:economics BM:marketing BC:management
BU:accounting BS:stock BD:paper_work B0:small_business BF:personal_finance BH:job_hunting BY:org_behavior
BI:industries BB:banking BV:global_economy BX:real_estate BZ:economics_ref ZA:humor_anecdote ZP:proverbs
ZC:child_folklore ZL:limerick ZF:folklore ZT:folk_tale
""".split()]
assert len(GENRE_ROWS) == 232

GENRE_CODES = {}
for _code, _gid in GENRE_ROWS:
    GENRE_CODES[_gid.encode()] = GENRE_CODES.get(_gid.encode(), b"") + _code.encode()
GENRE_IDS = sorted({gid for _code, gid in GENRE_ROWS})


def genre_codes(ids):
    return b"".join(GENRE_CODES.get(gid, b"") for gid in ids)[:8]


# --------------------------------------------------------------------------
# The expected catalogue.
# --------------------------------------------------------------------------

UNKNOWN_AUTHOR = to_ansi("Неизвестный автор")
UNKNOWN_UPPER = UNKNOWN_AUTHOR.translate(ANSI_UPPER)
PSEUDO_AUTHOR_BOOKS = 500
AUTHOR_WIDTH, TITLE_WIDTH, SERIES_WIDTH, FILE_WIDTH = 120, 250, 150, 8
BLOCK_AUTHORS = 1000
MAX_AUTHOR_LINES = 65535
MAX_SIZE = 99999999


def series_text(name, number, zero_means_none):
    """"Name #NN": the number padded on the left to 2, never cut."""
    if not name:
        return b""
    if zero_means_none and number == b"0":
        return cut(name, SERIES_WIDTH)
    return cut(name + b" #" + number.rjust(2, b" "), SERIES_WIDTH)


def size_text(text):
    return b"%d" % min(int(text), MAX_SIZE) if text.isdigit() else b"0"


def book_line(title, series, file, size, codes, lang, deleted):
    return b"\t".join((title, series, file, size, codes, b"", lang, b"Y" if deleted else b"N"))


class CatalogueModel:
    """Books filed under authors as the book-list build files them."""

    def __init__(self, keep_records=False):
        self.keys = {}  # upper-cased name -> author number (first seen order)
        self.names = []
        self.sort_keys = []
        self.lines = []
        self.books = 0
        self.duplicates = 0
        self.pseudo = 0
        self.read_errors = 0
        # The book table's records in writing order, as "<author ID> TAB <book
        # line>" (IDs from 1 in order of first appearance), when kept.
        self.records = [] if keep_records else None

    def author_number(self, name):
        name = cut(name, AUTHOR_WIDTH) or b"???"
        key = name.translate(ANSI_UPPER)
        number = self.keys.get(key)
        if number is None:
            number = len(self.names)
            self.keys[key] = number
            self.names.append(name)
            self.sort_keys.append(key)
            self.lines.append([])
        return number

    def add_book(self, authors, line, deleted):
        self.books += 1
        if deleted:
            self.duplicates += 1
        for name in authors or [UNKNOWN_AUTHOR]:
            if name.translate(ANSI_UPPER) == UNKNOWN_UPPER:
                name = UNKNOWN_AUTHOR + b" #%03d" % (self.pseudo // PSEUDO_AUTHOR_BOOKS)
                self.pseudo += 1
            number = self.author_number(name)
            self.lines[number].append(line)
            if self.records is not None:
                self.records.append(b"%d\t" % (number + 1) + line)

    def finish(self):
        """Returns the catalogue: members by name, and facts for model.json."""
        order = sorted(range(len(self.names)), key=self.sort_keys.__getitem__)
        members = {"a.txt": b"".join(self.names[n] + b"\r\n" for n in order)}
        members["inf.txt"] = to_ansi("Авторов:\t\t%d\nКниг:\t\t%d\nДублей книг:\t%d" % (
            len(order), self.books, self.duplicates))
        books_txt = []
        cut_authors = []
        largest = (0, -1)
        for first in range(0, len(order), BLOCK_AUTHORS):
            header = bytearray()
            body = []
            running = 0
            for index in range(first, min(first + BLOCK_AUTHORS, len(order))):
                lines = self.lines[order[index]]
                if len(lines) > MAX_AUTHOR_LINES:
                    cut_authors.append({"index": index, "name": from_ansi(self.names[order[index]]),
                                        "books": len(lines), "kept": MAX_AUTHOR_LINES})
                    lines = lines[:MAX_AUTHOR_LINES]
                header += struct.pack(">HH", running, len(lines))
                running = (running + len(lines)) & 0xFFFF
                body.extend(lines)
                prefix = b"%d\t" % index
                books_txt.extend(prefix + line + b"\n" for line in lines)
            block = first // BLOCK_AUTHORS
            members["%d.txt" % block] = b"".join(
                (struct.pack(">H", len(header) // 4), bytes(header), b"\r", b"\r".join(body),
                 b"\r" if body else b""))
            largest = max(largest, (len(body), block))
        facts = {
            "authors": len(order),
            "books": self.books,
            "duplicates": self.duplicates,
            "read_errors": self.read_errors,
            "pseudo_author_entries": self.pseudo,
            "blocks": (len(order) + BLOCK_AUTHORS - 1) // BLOCK_AUTHORS,
            "book_lines": len(books_txt),
            "largest_block": {"block": largest[1], "lines": largest[0]},
            "cut_authors": cut_authors,
        }
        return members, b"".join(books_txt), facts


def split_lines(text):
    """CR, LF or CR LF end a line; a final line end adds no empty line."""
    lines = text.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    return lines


def parse_record(line):
    """One index record line (1251 bytes) -> (authors, book line, deleted, read
    errors) or None for a line too short to be a record."""
    fields = line.split(b"\x04")
    if line.endswith(b"\x04"):
        fields.pop()  # the terminator of the last field opens no field of its own
    if len(fields) < 12:
        return None
    f = [clean(field) for field in fields[:12]]
    pieces = f[0].split(b":")
    authors = []
    for i, piece in enumerate(pieces):
        if not piece and i == len(pieces) - 1:
            continue  # the empty piece after the last ":" names no one
        authors.append(piece.replace(b",", b" ").strip(b" ") or UNKNOWN_AUTHOR)
    ids = [g.replace(b",", b" ").strip(b" ") for g in f[1].split(b":")]
    title = cut(f[2] or b"???", TITLE_WIDTH)
    deleted = f[8] == b"1"
    bad_size = f[6] != b"" and not f[6].isdigit()
    line = book_line(title, series_text(f[3], f[4], True), cut(f[5], FILE_WIDTH), size_text(f[6]),
                     genre_codes([g for g in ids if g]), cut(f[11], 2), deleted)
    return authors, line, deleted, int(bad_size)


def inpx_member_is_read(info):
    if info.is_dir():
        return False
    return info.filename.lower().endswith(".inp") or info.file_size >= 3333


def model_from_inpx(path, keep_records=False):
    model = CatalogueModel(keep_records)
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if not inpx_member_is_read(info):
                continue
            data = z.read(info)
            if data.startswith(UTF8_BOM):
                data = data[len(UTF8_BOM):]
            for line in split_lines(to_ansi(data.decode("utf-8", "replace"))):
                record = parse_record(line)
                if record is None:
                    model.read_errors += 1
                else:
                    authors, book, deleted, errors = record
                    model.read_errors += errors
                    model.add_book(authors, book, deleted)
    return model


# FB2 heads -----------------------------------------------------------------

HEAD_SIZES = (2000, 4000, 8000, 16000)


def element_text(element):
    return "".join(element.itertext())


def parse_head(head):
    """Returns (position logged, fields or None); fields are None when no title."""
    p1 = head.find(b"?>") + 1
    p2 = head.find(b"<title-info") + 1
    p3 = head.find(b"</title-info") + 1
    if not p2 or not p3:
        return p3, None
    # Without an XML declaration in front of the block, XML's default (UTF-8) applies.
    declaration = head[:p1 + 1] + b"\r" if 0 < p1 < p2 else b""
    text = (declaration + head[p2 - 1:p3 + 12]).replace(b":href", b"href")
    try:
        root = ET.fromstring(text)
    except ET.ParseError:
        return p3, None
    title, lang, series, ids, authors = b"", b"", b"", [], []
    for child in root:
        if child.tag == "book-title":
            title = clean(to_ansi(element_text(child)))
        elif child.tag == "lang":
            lang = clean(to_ansi(element_text(child)))
        elif child.tag == "genre":
            ids.append(clean(to_ansi(element_text(child))))
        elif child.tag == "sequence":
            # The attributes as they stand: blanks around them are kept.
            series = series_text(blank_controls(to_ansi(child.get("name", ""))),
                                 blank_controls(to_ansi(child.get("number", ""))), False)
        elif child.tag == "author":
            parts = []
            for tag in ("last-name", "first-name", "middle-name"):
                part = child.find(tag)
                if part is not None and element_text(part):
                    parts.append(element_text(part))
            authors.append(clean(to_ansi(" ".join(parts))) or UNKNOWN_AUTHOR)
    if not title:
        return p3, None
    return p3, (authors, cut(title, TITLE_WIDTH), series, genre_codes(ids), cut(lang, 2))


def archive_names(lib):
    """The archive folder's "*.zip" files (any letter case) in byte order of name."""
    names = [n for n in os.listdir(lib)
             if n.lower().endswith(".zip") and os.path.isfile(os.path.join(lib, n))]
    return sorted(names, key=lambda n: n.encode("utf-8", "surrogateescape"))


# What reading a damaged member raises: a bad record or CRC, a broken deflate
# stream, data cut short, an unknown compression method, and an encrypted
# member (RuntimeError: no password is asked for).
MEMBER_ERRORS = (zipfile.BadZipFile, zlib.error, EOFError, OSError, NotImplementedError, RuntimeError)


def model_from_archives(lib, keep_records=False):
    """The catalogue built from the FB2 heads, the header log and per-member outcomes."""
    model = CatalogueModel(keep_records)
    log = []
    outcomes = []
    for name in archive_names(lib):
        try:
            archive = zipfile.ZipFile(os.path.join(lib, name))
        except (zipfile.BadZipFile, OSError):
            model.read_errors += 1
            continue
        with archive:
            head_size = HEAD_SIZES[0]
            for info in archive.infolist():
                if info.is_dir() or not info.filename.lower().endswith(".fb2"):
                    continue
                # Each try reads the head afresh at the current size, so bytes
                # past the head are never inflated.
                fields, read_error = None, False
                try:
                    while True:
                        with archive.open(info) as member:
                            head = member.read(min(head_size, info.file_size))
                        position, fields = parse_head(head)
                        log.append(b"%d\r" % position)
                        if fields or head_size >= HEAD_SIZES[-1]:
                            break
                        head_size *= 2
                except MEMBER_ERRORS:
                    model.read_errors += 1
                    fields, read_error = None, True
                file_name = info.filename.rstrip("/").rsplit("/", 1)[-1]
                outcomes.append({"archive": name, "member": info.filename, "catalogued": fields is not None,
                                 "read_error": read_error, "head_size": head_size})
                if fields:
                    authors, title, series, codes, lang = fields
                    line = book_line(title, series, cut(blank_controls(to_ansi(file_name[:-4])), FILE_WIDTH),
                                     size_text(b"%d" % info.file_size), codes, lang, False)
                    model.add_book(authors, line, False)
    return model, b"".join(log), outcomes


# Reading a book: which archive holds a file number ---------------------------


def archive_range(name):
    """(first, last) from "prefix-first-last[suffix].zip", or None."""
    stem = name[:-4]
    first_dash = stem.find("-")
    second_dash = stem.find("-", first_dash + 1) if first_dash >= 0 else -1
    if second_dash < 0:
        return None
    first = stem[first_dash + 1:second_dash]
    rest = stem[second_dash + 1:].split(".", 1)[0]
    digits = len(rest) - len(rest.lstrip("0123456789"))
    if not (first.isascii() and first.isdigit()) or digits == 0:
        return None
    return int(first), int(rest[:digits])


def archive_facts(lib):
    facts = []
    for name in sorted(os.listdir(lib), key=lambda n: n.encode("utf-8", "surrogateescape")):
        path = os.path.join(lib, name)
        entry = {"name": name, "is_zip": zipfile.is_zipfile(path),
                 "matches_mask": name.lower().endswith(".zip"), "range": archive_range(name)
                 if name.lower().endswith(".zip") else None, "members": []}
        if entry["is_zip"]:
            with zipfile.ZipFile(path) as z:
                entry["members"] = [i.filename for i in z.infolist()]
        facts.append(entry)
    return facts


def find_book(facts, file_number):
    """(archive, member) that reading the book opens, or (None, reason)."""
    if not (file_number.isascii() and file_number.isdigit()):
        return None, "file number is not a decimal number"
    number = int(file_number)
    wanted = (file_number + ".fb2").lower()
    covered = unreadable = False
    for entry in facts:
        if not entry["matches_mask"] or entry["range"] is None:
            continue
        first, last = entry["range"]
        if not first <= number <= last:
            continue
        covered = True
        if not entry["is_zip"]:
            unreadable = True  # it may hold the book: reading says so, not "missing"
            continue
        members = [m for m in entry["members"] if not m.endswith("/")]
        exact = [m for m in members if m.lower() == wanted]
        nested = [m for m in members if m.rsplit("/", 1)[-1].lower() == wanted]
        if exact or nested:
            return entry["name"], (exact or nested)[0]
    if unreadable:
        return None, "a covering archive is no zip"
    return None, "no archive holds it" if covered else "no archive covers it"


# Writing the model ------------------------------------------------------------


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_json(path, value):
    write_bytes(path, (json.dumps(value, ensure_ascii=False, indent=1) + "\n").encode("utf-8"))


def zip_info(name, compress_type):
    info = zipfile.ZipInfo(name, ZIP_TIME)
    info.compress_type = compress_type
    info.external_attr = 0o644 << 16
    return info


def write_catalogue(path, members):
    """The reference catalogue archive: "a.txt", "inf.txt", then the blocks in order."""
    blocks = sorted((n for n in members if n not in ("a.txt", "inf.txt")), key=lambda n: int(n[:-4]))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name in ["a.txt", "inf.txt"] + blocks:
            z.writestr(zip_info(name, zipfile.ZIP_DEFLATED), members[name])


def write_model(out, folder, dbz_name, model, notable=None, extra=None):
    members, books_txt, facts = model.finish()
    facts["notable_authors"] = {}
    if notable:
        names = members["a.txt"].split(b"\r\n")
        index = {name.translate(ANSI_UPPER): i for i, name in enumerate(names)}
        for label, name in notable.items():
            facts["notable_authors"][label] = index.get(cut(to_ansi(name), AUTHOR_WIDTH).translate(ANSI_UPPER))
    facts.update(extra or {})
    expected = os.path.join(out, folder)
    write_bytes(os.path.join(expected, "a.txt"), members["a.txt"])
    write_bytes(os.path.join(expected, "inf.txt"), members["inf.txt"])
    write_bytes(os.path.join(expected, "books.txt"), books_txt)
    if model.records is not None:
        write_bytes(os.path.join(expected, "bo.txt"), b"".join(r + b"\n" for r in model.records))
        write_bytes(os.path.join(expected, "au.txt"), b"".join(n + b"\n" for n in model.names))
    write_json(os.path.join(expected, "model.json"), facts)
    write_catalogue(os.path.join(out, dbz_name), members)
    return facts


# --------------------------------------------------------------------------
# Generating collections.
# --------------------------------------------------------------------------

RU_WORDS = """время жизнь дорога город море небо ветер огонь тайна тень звезда река лес дом сад
мост ночь утро зима весна лето осень путь сердце память слово песня война мир остров берег
камень железо стекло серебро золото пламя туман буря гроза свет мрак холод тепло край степь
северный южный тихий тёмный светлый последний первый забытый старый новый долгий короткий
далёкий близкий красный белый чёрный синий зелёный живой мёртвый вечный случайный странный""".split()
EN_WORDS = """time life road city sea sky wind fire secret shadow star river forest house garden
bridge night morning winter spring summer autumn path heart memory word song war peace island
shore stone iron glass silver gold flame fog storm light dark cold warm edge last first lost
old new long short far near red white black blue green living dead eternal strange""".split()
UK_WORDS = """час життя дорога місто море небо вітер вогонь таємниця тінь зірка ріка ліс дім сад
міст ніч ранок зима весна літо осінь шлях серце пам'ять слово пісня їжак єдність ґанок""".split()
RU_LAST = """Иванов Петров Сидоров Смирнов Кузнецов Попов Васильев Соколов Михайлов Новиков Фёдоров
Морозов Волков Алексеев Лебедев Семёнов Егоров Павлов Козлов Степанов Николаев Орлов Андреев
Макаров Никитин Захаров Зайцев Соловьёв Борисов Яковлев Григорьев Романов Воробьёв Сергеев
Ёлкин Жуков Белов Тарасов Белоусов Щербаков""".split()
RU_FIRST = """Александр Алексей Андрей Борис Вадим Виктор Владимир Галина Дмитрий Евгений Елена
Иван Игорь Ирина Кирилл Людмила Мария Михаил Наталья Николай Ольга Павел Пётр Сергей Татьяна
Юлия Юрий Яна Фёдор Анна""".split()
RU_MIDDLE = """Александрович Алексеевич Андреевич Борисович Викторович Владимирович Дмитриевич
Иванович Игоревич Михайлович Николаевич Павлович Петрович Сергеевна Ивановна Олеговна""".split()
EN_LAST = """Smith Johnson Williams Brown Jones Miller Davis Wilson Anderson Taylor Thomas Moore
Martin Jackson White Harris Clark Lewis Walker Hall Allen Young King Wright Scott Green Baker
Adams Nelson Hill""".split()
EN_FIRST = """James John Robert Michael William David Richard Joseph Mary Patricia Jennifer Linda
Elizabeth Susan Jessica Sarah Karen Nancy Lisa Betty""".split()
SYLLABLES = """ба ва га да жа за ка ла ма на па ра са та фа ха ца ча ша бе ве ге де же зе ке ле ме не
пе ре се те бо во го до жо зо ко ло мо но по ро со то бу ву гу ду зу ку лу му ну пу ру су ту
би ви ги ди зи ки ли ми ни пи ри си ти""".split()
SUFFIXES = "ов ев ин ын ский цкий енко ук як ич ёв ан ян ко".split()
EN_SYLLABLES = """ar ber cal dan el fen gar hal in jor kel lin mor nor or par quin ros sel tor
ul val wil xan yor zel""".split()
EN_SUFFIXES = "son ton ley ford man er well ham by".split()


def inpx_line(fields, end="\r\n"):
    return "".join(str(f) + "\x04" for f in fields) + end


class Book:
    """One book: what its index record says and how its FB2 file looks."""

    def __init__(self, number, title, authors, genres=("prose",), series="", serno="",
                 lang="ru", deleted=False, size=None):
        self.number = str(number)
        self.title = title
        self.authors = list(authors)  # (last, first, middle); None = element absent
        self.genres = list(genres)
        self.series = series
        self.serno = serno
        self.lang = lang
        self.deleted = deleted
        self.del_field = None  # raw DEL field when it is neither "1" nor "0"
        self.size = size
        self.inpx_authors = None  # raw author field when it differs from `authors`
        self.inpx_title = None
        # FB2 shape
        self.encoding = "utf-8"
        self.bom = False
        self.declaration = True
        self.title_info = True
        self.ends_at = None  # byte offset at which "</title-info>" should end
        self.annotation = "Аннотация к книге."
        self.annotation_raw = ""  # markup placed in the annotation as is
        self.cover = False
        self.src_title_info = False
        self.sequence_number = None  # FB2 attribute when it differs from serno; "" = absent
        self.nickname = None
        self.body = "Текст книги."
        self.stored = False  # stored rather than deflated, whatever its archive does
        # Damage done to the member in its archive: "tail" (a stored member
        # whose bytes after the head are changed: its CRC fails, its head reads)
        # or "start" (a deflate stream broken at its first byte).
        self.damage = None
        self.expect = None  # what the FB2 build should make of it

    def author_field(self):
        if self.inpx_authors is not None:
            return self.inpx_authors
        return "".join("%s,%s,%s:" % tuple(p or "" for p in a) for a in self.authors)

    def record(self, end="\r\n"):
        title = self.inpx_title if self.inpx_title is not None else self.title.replace("\n", " ")
        deleted = self.del_field if self.del_field is not None else "1" if self.deleted else "0"
        return inpx_line([self.author_field(), "".join(g + ":" for g in self.genres), title,
                          self.series, self.serno, self.number, self.size, self.number,
                          deleted, "fb2", "2024-01-01", self.lang, "", ""], end)

    def fb2(self):
        encoding = self.encoding
        ti = ["<title-info>\n"]
        ti += ["<genre>%s</genre>\n" % xml_escape(g) for g in self.genres]
        for last, first, middle in self.authors:
            ti.append("<author>")
            for tag, value in (("first-name", first), ("middle-name", middle), ("last-name", last)):
                if value is not None:
                    ti.append("<%s>%s</%s>" % (tag, xml_escape(value), tag) if value else "<%s/>" % tag)
            if self.nickname:
                ti.append("<nickname>%s</nickname>" % xml_escape(self.nickname))
            ti.append("</author>\n")
        ti.append("<book-title>%s</book-title>\n" % xml_escape(self.title))
        ti.append("<annotation><p>%s%s@PAD@</p></annotation>\n" % (xml_escape(self.annotation),
                                                                  self.annotation_raw))
        if self.cover:
            ti.append('<coverpage><image l:href="#cover.jpg"/></coverpage>\n')
        ti.append("<lang>%s</lang>\n" % self.lang)
        number = self.serno if self.sequence_number is None else self.sequence_number
        if self.series:
            attrs = ' name="%s"' % xml_escape(self.series, {'"': "&quot;"})
            if number:
                attrs += ' number="%s"' % number
            ti.append("<sequence%s/>\n" % attrs)
        ti.append("</title-info>\n")
        declaration = '<?xml version="1.0" encoding="%s"?>\n' % encoding if self.declaration else ""
        head = (declaration + '<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" '
                'xmlns:l="http://www.w3.org/1999/xlink">\n<description>\n')
        tail = ""
        if self.src_title_info:
            tail += ("<src-title-info><genre>prose</genre><book-title>Original</book-title>"
                     "<lang>en</lang></src-title-info>\n")
        tail += ("<document-info><program-used>%s</program-used><id>%s</id></document-info>\n"
                 "</description>\n<body><section><p>%s</p></section></body>\n</FictionBook>\n"
                 % (GENERATOR, self.number, xml_escape(self.body)))
        bom = UTF8_BOM if self.bom else b""
        if not self.title_info:
            return bom + (head + tail).replace("@PAD@", "").encode(encoding)
        info = "".join(ti)
        data = bom + (head + info).replace("@PAD@", "").encode(encoding)
        if self.ends_at is not None:
            pad = self.ends_at - (data.rfind(b"</title-info>") + len(b"</title-info>"))
            if pad < 0:
                raise ValueError("title-info of book %s too long for %d" % (self.number, self.ends_at))
            filler = ("lorem ipsum dolor sit amet " * (pad // 27 + 1))[:pad]
            info = info.replace("@PAD@", filler)
        else:
            info = info.replace("@PAD@", "")
        return bom + (head + info + tail).encode(encoding)


class Collection:
    """Everything one variant writes, gathered before it is written."""

    def __init__(self, rng):
        self.rng = rng
        self.archives = []  # (file name, compress type, [(member name, bytes or Book)]) or raw bytes
        self.inpx_members = []  # (member name, bytes)
        self.books = {}  # file number -> Book with an FB2 file
        self.notable = {}
        self.fb2_intent = []  # per FB2 member: what the FB2 build should do with it
        self.probes = []  # file numbers to look up besides those of the index
        self.exact_records = {}  # exact-size index member -> file numbers in it

    # random content ------------------------------------------------------
    def words(self, pool, length):
        out = []
        while sum(len(w) + 1 for w in out) < length:
            out.append(self.rng.choice(pool))
        text = " ".join(out)
        return text[:1].upper() + text[1:]

    def person(self, latin=False):
        r = self.rng
        if latin:
            return (r.choice(EN_LAST), r.choice(EN_FIRST), "")
        return (r.choice(RU_LAST), r.choice(RU_FIRST), r.choice(RU_MIDDLE) if r.random() < 0.5 else "")

    def filler_book(self, number, pool):
        r = self.rng
        lang = r.choice(["ru"] * 6 + ["en", "uk"])
        words = {"ru": RU_WORDS, "en": EN_WORDS, "uk": UK_WORDS}[lang]
        authors = [r.choice(pool)] + ([r.choice(pool)] if r.random() < 0.15 else [])
        if len(authors) == 2 and authors[0] == authors[1]:
            authors.pop()
        book = Book(number, self.words(words, r.randint(8, 60)), authors,
                    genres=r.sample(GENRE_IDS, r.choice([1, 1, 2])), lang=lang,
                    deleted=r.random() < 0.05)
        if r.random() < 0.3:
            book.series = self.words(words, r.randint(5, 25))
            book.serno = str(r.randint(1, 12))
        book.annotation = self.words(words, r.randint(20, 200))
        book.body = self.words(words, r.randint(100, 1500))
        return book

    def add_fb2(self, archive_members, book, catalogued=True, parses=True, note="", folder=""):
        self.books[book.number] = book
        book.expect = {"catalogued": catalogued, "parses": parses, "note": note}
        archive_members.append((folder + book.number + ".fb2", book))
        return book


def finish_books(archive_members):
    """Turns Books into bytes and fixes their index sizes; a book's member
    keeps the Book as a third item (how it is stored and damaged)."""
    out = []
    for name, content in archive_members:
        if isinstance(content, Book):
            data = content.fb2()
            content.size = len(data)
            out.append((name, data, content))
        else:
            out.append((name, content))
    return out


# Where a "tail" damage hits a stored member: past every head size the build
# tries first and past the 4,096-byte reads of Python's zipfile.
TAIL_DAMAGE_AT = 12000


def damage_members(path, damaged):
    """Changes the stored bytes of the members `damaged` (name -> kind)."""
    with zipfile.ZipFile(path) as z:
        spots = []
        for info in z.infolist():
            if info.filename not in damaged:
                continue
            with open(path, "rb") as f:
                f.seek(info.header_offset + 26)
                name_len, extra_len = struct.unpack("<HH", f.read(4))
            data_at = info.header_offset + 30 + name_len + extra_len
            if damaged[info.filename] == "tail":
                assert info.compress_type == zipfile.ZIP_STORED and info.file_size > TAIL_DAMAGE_AT + 8
                spots.append((data_at + TAIL_DAMAGE_AT, b"\x00\xff\x00\xff\x00\xff\x00\xff"))
            else:
                assert info.compress_type == zipfile.ZIP_DEFLATED
                spots.append((data_at, b"\xff"))  # block type 3: invalid at once
    with open(path, "r+b") as f:
        for at, data in spots:
            f.seek(at)
            f.write(data)


def exact_member(records, target):
    """Index member text of exactly `target` bytes: the last record's title is
    lengthened with ASCII letters until the member has that size."""
    def render():
        return "".join(b.record() for b in records).encode("utf-8")
    size = len(render())
    if size > target:
        raise ValueError("records do not fit %d bytes" % target)
    if target > size:
        records[-1].inpx_title = records[-1].title.replace("\n", " ") + " " + "x" * (target - size - 1)
    data = render()
    assert len(data) == target, (len(data), target)
    return data


def info_members():
    return [
        ("collection.info", "Sample collection\r\nsample_collection\r\n65536\r\n"
         "Sample collection made for tests\r\n".encode("utf-8")),
        ("version.info", b"20240101\r\n"),
        ("structure.info",
         b"AUTHOR;GENRE;TITLE;SERIES;SERNO;FILE;SIZE;LIBID;DEL;EXT;DATE;LANG;LIBRATE;KEYWORDS;\r\n"),
    ]


def build_small(c, fillers):
    """The archive folder and index of the small variant (also the base of edge)."""
    r = c.rng
    pool = [c.person(latin=i % 4 == 0) for i in range(40)]

    # -- fb2-000100-000139.zip: contiguous, every odd FB2 head -----------------
    a1 = []
    n = iter(range(100, 140))

    def feature(title, authors=None, number=None, **kw):
        number = next(n) if number is None else number
        book = Book(number, title, [("Лесков", "Николай", "Семёнович")] if authors is None else authors, **kw)
        book.body = c.words(RU_WORDS, 300)
        return book

    b = c.add_fb2(a1, feature("Обычная книга", [("Толстой", "Лев", "Николаевич")]),
                  note="UTF-8, declaration, title-info ends before byte 2,000")
    b = c.add_fb2(a1, feature("Книга с сигнатурой", [("Чехов", "Антон", "Павлович")]), note="UTF-8 with BOM")
    b.bom = True
    b = c.add_fb2(a1, feature("Ёжик в тумане и Ђаво", [("Козлов", "Сергей", "Григорьевич")]),
                  note='encoding="windows-1251"')
    b.encoding = "windows-1251"
    b.annotation = "Сказка про ёжика. Ўсё, Ґанок, Їжа, Єва, Љубав, Њива, Ћуприја, Џеп, Јабука, Ѕвезда."
    b = c.add_fb2(a1, feature("Книга без объявления XML", [("Гоголь", "Николай", "Васильевич")]),
                  note="no XML declaration: parsed as UTF-8")
    b.declaration = False
    b = c.add_fb2(a1, feature("Длинное описание", [("Толстой", "Лев", "Николаевич")]),
                  note="title-info ends between byte 2,000 and 4,000: read at the second attempt")
    b.ends_at = 3000
    c.add_fb2(a1, feature("Короткая после длинной", [("Толстой", "Лев", "Николаевич")]),
              note="short head after a long one: read with 4,000 bytes at once")
    b = c.add_fb2(a1, feature("Неразрывный пробел", [("Бунин", "Иван", "Алексеевич")]),
                  catalogued=False, parses=False, note="&nbsp; inside title-info: malformed, skipped")
    b.annotation_raw = "Текст&nbsp;с пробелом"
    b = c.add_fb2(a1, feature("Незакрытый тег", [("Бунин", "Иван", "Алексеевич")]),
                  catalogued=False, parses=False, note="unclosed tag inside title-info: malformed, skipped")
    b.annotation_raw = "<emphasis>незакрыто"
    b = c.add_fb2(a1, feature("Обложка со ссылкой", [("Куприн", "Александр", "Иванович")]),
                  note="l:href in title-info parses after the prefix is dropped")
    b.cover = True
    b.src_title_info = True
    c.add_fb2(a1, feature("Фамилия имя отчество", [("Достоевский", "Фёдор", "Михайлович")]),
              note="author last/first/middle")
    c.add_fb2(a1, feature("Только фамилия", [("Горький", None, None)]), note="author: last name only")
    c.add_fb2(a1, feature("Несколько авторов", [("Ильф", "Илья", "Арнольдович"),
                                               ("Петров", "Евгений", "Петрович")]), note="two authors")
    c.add_fb2(a1, feature("Пустые части имени", [("Пушкин", "", "Сергеевич")]),
              note="empty first-name element")
    b = c.add_fb2(a1, feature("Без автора", []), note="no author: filed under the unknown author")
    b.inpx_authors = ""
    b = c.add_fb2(a1, feature("Только псевдоним", [(None, None, None)]),
                  note="author with a nickname only: filed under the unknown author")
    b.nickname = "Аноним"
    b.inpx_authors = ":"
    c.add_fb2(a1, feature("Два кода жанра", genres=["sf_humor", "love_sf"]), note="ids with two codes each")
    c.add_fb2(a1, feature("Неизвестный жанр", genres=["no_such_genre", "sf"]), note="unknown genre id")
    c.add_fb2(a1, feature("Пять жанров", genres=["sf", "sf_fantasy", "det_classic", "prose", "humor"]),
              note="more than four genres: codes cut to 8 characters")
    c.add_fb2(a1, feature("Серия номер пять", series="Большая серия", serno="5"), note="sequence 5")
    c.add_fb2(a1, feature("Серия номер сто двадцать три", series="Большая серия", serno="123"),
              note="sequence 123 (not cut)")
    c.add_fb2(a1, feature("Серия без номера", series="Серия без номеров", serno=""),
                  note="sequence without number")
    c.add_fb2(a1, feature("Серия с пробелами", series=" Пробельная серия", serno="5 "),
              note="sequence attributes with blanks: kept as they stand")
    c.add_fb2(a1, feature("Первая строка\nвторая строка"), note="title with an embedded newline")
    c.add_fb2(a1, feature("Заголовок\tс табуляцией"), note="title with a TAB")
    c.add_fb2(a1, feature(" ".join(["Очень длинное название книги"] * 11)), note="title longer than 250 characters")
    c.add_fb2(a1, feature("English book", [("King", "Stephen", "")], lang="en"), note="lang en")
    c.add_fb2(a1, feature("Українська книга про їжака і ґанок", [("Шевченко", "Тарас", "Григорович")],
                          lang="uk"), note="lang uk")
    c.add_fb2(a1, feature("日本の本 😀 Łódź Čapek", [("Murakami", "Haruki", "")], lang="en"),
              note="characters outside Windows-1251")
    c.add_fb2(a1, feature("Игра ‘в кавычках’ И", [("Олеша", "Юрий", "Карлович")]),
              note="И and ‘ (UTF-8 bytes with 0x98)")
    c.add_fb2(a1, feature("Удалённая книга", [("Олеша", "Юрий", "Карлович")], deleted=True),
              note="deleted in the index (not in the FB2 build)")
    for number in n:
        if number == 138:
            b = c.add_fb2(a1, feature("Очень длинный заголовок описания", number=number), catalogued=False,
                          note="title-info ends after byte 16,000: skipped")
            b.ends_at = 20000
        elif number == 139:
            b = c.add_fb2(a1, feature("Нет блока title-info", number=number), catalogued=False,
                          note="no title-info at all: skipped")
            b.title_info = False
        else:
            c.add_fb2(a1, c.filler_book(number, pool), note="ordinary book")
    a1.append(("cover.jpg", b"\xff\xd8\xff\xe0 not really a picture"))
    c.archives.append(("fb2-000100-000139.zip", zipfile.ZIP_DEFLATED, a1))

    # -- fb2-000140-000199.zip: a range with gaps, stored -----------------------
    a2 = []
    gaps = set(range(150, 155)) | {170} | set(range(190, 200))
    missing = []
    for number in range(140, 200):
        book = c.filler_book(number, pool)
        if number in gaps:
            book.size = r.randint(10000, 900000)
            missing.append(book)
        else:
            c.add_fb2(a2, book, note="ordinary book")
    c.archives.append(("fb2-000140-000199.zip", zipfile.ZIP_STORED, a2))

    # -- overlapping ranges as real collections have them -----------------------
    main, lost, deleted_archive = [], [], []
    for number in list(range(625000, 625020)) + list(range(625161, 625171)):
        c.add_fb2(main, c.filler_book(number, pool), note="ordinary book")
    for number in (625127, 625130, 625131):
        c.add_fb2(lost, c.filler_book(number, pool), note="book of a _lost archive")
    for number in (625140, 625141):
        book = c.filler_book(number, pool)
        book.size = r.randint(10000, 900000)
        missing.append(book)
    for number in (9373, 10000, 10001):
        book = c.filler_book(number, pool)
        book.deleted = True
        c.add_fb2(deleted_archive, book, note="deleted book in the d.fb2 archive")
    c.archives.append(("fb2-625000-627999.zip", zipfile.ZIP_DEFLATED, main))
    c.archives.append(("fb2-625127-625160_lost.zip", zipfile.ZIP_DEFLATED, lost))
    c.archives.append(("d.fb2-009373-367300.zip", zipfile.ZIP_DEFLATED, deleted_archive))

    # -- odd names, odd files ---------------------------------------------------
    single, odd, upper, nested = [], [], [], []
    c.add_fb2(single, c.filler_book(300, pool), note="archive name with a single '-'")
    c.add_fb2(odd, c.filler_book(310, pool), note="archive name with non-numeric parts")
    for number in range(400, 405):
        c.add_fb2(upper, c.filler_book(number, pool), note="archive with an upper-case .ZIP")
    c.archives.append(("fb2-000300.zip", zipfile.ZIP_DEFLATED, single))
    c.archives.append(("fb2-abc-xyz.zip", zipfile.ZIP_DEFLATED, odd))
    c.archives.append(("fb2-000400-000409.ZIP", zipfile.ZIP_DEFLATED, upper))
    c.archives.append(("fb2-000500-000509.zip", None, b"This is not a zip archive.\r\n" * 8))
    c.archives.append(("readme.txt", None, "Образец коллекции.\r\n".encode("utf-8")))
    c.archives.append(("fb2-000600-000609.zip", zipfile.ZIP_DEFLATED, []))
    nested.append(("sub/", None))
    c.add_fb2(nested, c.filler_book(700, pool), note="member stored under a sub-folder", folder="sub/")
    c.add_fb2(nested, c.filler_book(701, pool), note="ordinary book")
    nested.append(("notes.txt", "Не книга.\r\n".encode("utf-8")))
    c.archives.append(("fb2-000700-000709.zip", zipfile.ZIP_DEFLATED, nested))
    damaged = []
    b = c.add_fb2(damaged, c.filler_book(950, pool), note="stored, damaged after its head: read from the head")
    b.stored, b.damage = True, "tail"
    b.body = c.words(RU_WORDS, TAIL_DAMAGE_AT)
    b = c.add_fb2(damaged, c.filler_book(951, pool), catalogued=False,
                  note="deflate stream damaged at its start: a read error, skipped")
    b.damage = "start"
    c.add_fb2(damaged, c.filler_book(952, pool), note="ordinary book after a damaged one")
    c.archives.append(("fb2-000950-000959.zip", zipfile.ZIP_DEFLATED, damaged))
    for number in (500, 600):
        book = c.filler_book(number, pool)
        book.size = r.randint(10000, 900000)
        missing.append(book)

    # -- ordinary books --------------------------------------------------------
    plain_numbers = range(20000, 20000 + fillers)
    plain = []
    for number in plain_numbers:
        c.add_fb2(plain, c.filler_book(number, pool), note="ordinary book")
    if plain:
        c.archives.append(("fb2-%06d-%06d.zip" % (plain_numbers[0], plain_numbers[-1]),
                           zipfile.ZIP_DEFLATED, plain))

    # FB2 bytes first: the index carries their sizes.
    c.archives = [(name, kind, finish_books(content) if isinstance(content, list) else content)
                  for name, kind, content in c.archives]

    # -- the index ------------------------------------------------------------
    c.inpx_members.extend(info_members())
    listed = sorted(list(c.books.values()) + missing, key=lambda bk: int(bk.number))
    first = [bk for bk in listed if int(bk.number) < 200]
    plain_books = [bk for bk in listed if int(bk.number) in plain_numbers]
    rest = [bk for bk in listed if bk not in first and bk not in plain_books]
    # with a byte-order mark and CR LF; without a mark; LF alone
    c.inpx_members.append(("fb2-000100-000199.inp",
                           UTF8_BOM + "".join(bk.record() for bk in first).encode("utf-8")))
    c.inpx_members.append(("fb2-000800-000899.inp",
                           "".join(bk.record() for bk in index_only_records(c)).encode("utf-8")))
    c.inpx_members.append(("fb2-000300-627999.inp",
                           "".join(bk.record(end="\n") for bk in rest).encode("utf-8")))
    # Members of exactly 3,332 and 3,333 bytes: ".inp" ones are read whatever their
    # size, others only from 3,333 bytes on.
    for name, base, size in (("extra-3332.inp", 9000, 3332), ("extra-3333.inp", 9100, 3333),
                             ("notes-3332.txt", 9200, 3332), ("notes-3333.txt", 9300, 3333)):
        books = []
        while True:
            book = c.filler_book(base + len(books), pool)
            book.size = r.randint(1000, 99999)
            if len("".join(bk.record() for bk in books + [book]).encode("utf-8")) > size - 20:
                break
            books.append(book)
        c.exact_records[name] = [bk.number for bk in books]
        c.inpx_members.append((name, exact_member(books, size)))
    if plain_books:
        c.inpx_members.append(("fb2-%06d-%06d.inp" % (plain_numbers[0], plain_numbers[-1]),
                               "".join(bk.record() for bk in plain_books).encode("utf-8")))
    c.probes += ["150", "170", "199", "200", "625140", "625160", "9400", "0", "99999999", "300",
                 "310", "400", "500", "600", "700", "701", "702"]
    for name, kind, content in c.archives:
        if not isinstance(content, list):
            continue
        for member, data, *_ in content:
            book = c.books.get(member.rsplit("/", 1)[-1][:-4]) if member.endswith(".fb2") else None
            if book is not None:
                ends = data.find(b"</title-info>")
                c.fb2_intent.append(dict(
                    book.expect, archive=name, member=member, number=book.number, damage=book.damage,
                    title=book.title if book.expect["catalogued"] else None,
                    title_info_end=ends + len(b"</title-info>") if ends >= 0 else None,
                    planned_end=book.ends_at))


def index_only_records(c):
    """Index records for books in no archive: every odd author, title and field."""
    r = c.rng
    n = iter(range(800, 900))
    out = []

    def rec(title, authors_field, **kw):
        book = Book(next(n), title, [], **kw)
        book.inpx_authors = authors_field
        book.size = kw.get("size") or r.randint(5000, 3000000)
        out.append(book)
        return book

    # First line of a member without BOM begins with a character 1251 lacks:
    # its "?" must stay (only a real byte-order mark is dropped).
    rec("Ведьмак", "Łuczak,Anna,:")
    rec("Огромный файл", "Толстой,Лев,Николаевич:", size="123456789")
    rec("Три части имени", "Иванов,Иван,Иванович:")
    rec("Пустая средняя часть", "Гоголь,,Васильевич:")
    rec("Первое написание", "Петров,Пётр,:")
    rec("Второе написание", "ПЕТРОВ,ПЁТР,:")
    rec("Третье написание", "петров,пётр,:")
    rec("Smithson first", "Smithson,John,:", lang="en")
    rec("Smith second", "Smith,John,:", lang="en")
    rec("Smith only", "Smith,,:", lang="en")
    rec("Latin name", "Doe,Jane,:", lang="en")
    rec("Їжак і ґанок", "Ґонта,Їжак,:", lang="uk")
    rec("Ще раз", "ґонта,їжак,:", lang="uk")
    rec("Сербская книга", "Ђорђевић,Љубомир,:")
    rec("Сербская книга 2", "ЂОРЂЕВИЋ,ЉУБОМИР,:")
    rec("Јабука", "Јовановић,Џон,Ѕвездан:")
    rec("Ўсё", "Ўладзімір,Ѓорѓи,Ќемал:")
    rec("Њива", "Његош,Ћирило,:")
    rec("Єдність", "Єрмак,Іван,:", lang="uk")
    rec("Ёлки", "Ёлкин,Семён,:")
    rec("ёлки 2", "ёлкин,семён,:")
    rec("Польская книга", "Orbitowski,Łukasz,:", lang="en")
    rec("Чешская книга", "Čapek,Karel,:", lang="en")
    rec("Японская книга", "村上,春樹,:", lang="en")
    rec("Другая японская книга", "夏目,漱石,:", lang="en")
    rec("Smiley", "😀Smile,Bot,:", lang="en")
    rec("Без автора в индексе", "")
    rec("Двоеточие", ":")
    rec("Неизвестный автор явно", "Неизвестный автор:")
    rec("Неизвестный автор через запятую", "Неизвестный,автор,:")
    rec("С пустой записью посередине", "Иванов,Иван,Иванович::Петров,Пётр,:")
    rec("Братья", "Стругацкий,Аркадий,Натанович:Стругацкий,Борис,Натанович:")
    rec("Имя с табуляцией", "Таб\tов,Иван,:")
    long_name = "Очень" + "длинноеимя" * 13
    rec("Длинное имя 1", long_name + "Первый,Иван,:")
    rec("Длинное имя 2", long_name + "Второй,Пётр,:")
    rec("Серия ноль", "Серийный,Автор,:", series="Серия", serno="0")
    rec("Серия пустой номер", "Серийный,Автор,:", series="Серия", serno="")
    rec("Серия три", "Серийный,Автор,:", series="Серия", serno="3")
    rec("Серия двенадцать", "Серийный,Автор,:", series="Серия", serno="12")
    rec("Серия сто двадцать три", "Серийный,Автор,:", series="Серия", serno="123")
    rec("Номер без серии", "Серийный,Автор,:", series="", serno="5")
    rec("Удалена", "Удалёнов,Автор,:", deleted=True)
    rec("Удалена ноль", "Удалёнов,Автор,:")
    b = rec("Удалена пусто", "Удалёнов,Автор,:")
    b.del_field = ""
    rec("", "Безымянный,Автор,:")
    rec("   ", "Безымянный,Автор,:")
    rec("Управляющий\x01символ\x1fв названии", "Контрольный,Автор,:")
    rec("Заголовок\tс табуляцией в индексе", "Контрольный,Автор,:")
    rec("  Пробелы по краям  ", "Контрольный,Автор,:")
    rec("Игра ‘в кавычках’ И", "Олеша,Юрий,Карлович:")
    rec("日本の本 😀", "Murakami,Haruki,:", lang="en")
    rec("Д" * 300, "Длиннов,Автор,:")
    rec("Два кода", "Жанров,Автор,:", genres=["sf_humor", "child_adv"])
    rec("Пустой жанр", "Жанров,Автор,:", genres=[])
    rec("Жанр с запятой", "Жанров,Автор,:", genres=["sf,", " prose "])
    rec("Шесть жанров", "Жанров,Автор,:", genres=["sf", "sf_action", "sf_horror", "prose", "roman", "humor"])
    rec("Запятые после автора", "Смитов,Джон,:,,")
    c.notable.update({
        "smith": "Smith John", "smithson": "Smithson John", "smith_only": "Smith",
        "petrov": "Петров Пётр", "long_name": long_name + "Первый Иван",
        "lukasz": "?uczak Anna", "japanese": "?? ??", "unknown_000": "Неизвестный автор #000",
        "unknown_001": "Неизвестный автор #001", "gonta": "Ґонта Їжак", "djordjevic": "Ђорђевић Љубомир",
        "yolkin": "Ёлкин Семён",
    })
    return out


def build_edge(c):
    """Large-count cases added to the small variant's index."""
    r = c.rng
    # 600 books of unknown authors: the 501st unknown entry goes to pseudo-author 001.
    lines = []
    forms = ["", ":", "Неизвестный автор:", "неизвестный,автор,:", "НЕИЗВЕСТНЫЙ АВТОР:"]
    for i in range(600):
        lines.append(inpx_line([forms[i % len(forms)], "prose:", "Книга неизвестного автора %d" % i, "", "",
                                400000 + i, r.randint(5000, 90000), 400000 + i, "0", "fb2",
                                "2024-01-01", "ru", "", ""]))
    c.inpx_members.append(("unknown-authors.inp", "".join(lines).encode("utf-8")))

    # A member with an empty line and a line of eleven fields (both read errors),
    # records with unsafe file numbers, an empty size and a size with a letter
    # (stored as 0, a read error).
    good = lambda number, title: inpx_line(["Опасный,Номер,:", "prose:", title, "", "", number, 12345,
                                            1, "0", "fb2", "2024-01-01", "ru", "", ""])
    text = (good("1*", "Звёздочка в номере") + "\r\n" +
            inpx_line(["Одиннадцать,Полей,:", "prose:", "Мало полей", "", "", 410000, 1, 1, "0", "fb2",
                       "2024-01-01"]) +
            good("../x1", "Путь в номере") + good('5"5', "Кавычка в номере") +
            inpx_line(["Опасный,Номер,:", "prose:", "Пустой размер", "", "", 410001, "", 1, "0", "fb2",
                       "2024-01-01", "ru"]) +
            inpx_line(["Опасный,Номер,:", "prose:", "Размер с буквой", "", "", 410002, "12k", 1, "0", "fb2",
                       "2024-01-01", "ru"]))
    c.inpx_members.append(("bad-lines.inp", text.encode("utf-8")))
    c.probes += ["1*", "../x1", '5"5']

    # More than 100,000 authors, and one block of more than 65,535 book lines:
    # three prolific authors sort first (names beginning with "0"); the third has
    # more books than one block entry can count.
    prolific = ["0 Плодовитый А", "0 Плодовитый Б", "0 Плодовитый В"]
    names = unique_names(r, 100600, taken={to_ansi(p).translate(ANSI_UPPER) for p in prolific})
    records = 65540
    chunk = []
    member = 0
    for i in range(records):
        authors = [prolific[0] if i < 40000 else prolific[1], prolific[2]]
        authors += names[i * 100600 // records: (i + 1) * 100600 // records]
        field = "".join(a + ":" for a in authors)
        number = 100000 + i
        chunk.append(inpx_line([field, r.choice(GENRE_IDS) + ":", c.words(RU_WORDS, r.randint(10, 60)),
                                "", "", number, r.randint(5000, 900000), number, "0", "fb2",
                                "2024-01-01", "ru", "", ""]))
        if len(chunk) == 20000 or i == records - 1:
            c.inpx_members.append(("many-authors-%d.inp" % member, "".join(chunk).encode("utf-8")))
            member += 1
            chunk = []
    c.notable.update({"prolific_a": prolific[0], "prolific_b": prolific[1], "prolific_c": prolific[2]})


def unique_names(r, count, taken=(), latin_share=0.15):
    """`count` author names whose 1251 upper cases are distinct."""
    seen = set(taken)
    out = []
    while len(out) < count:
        if r.random() < latin_share:
            last = "".join(r.choice(EN_SYLLABLES) for _ in range(r.randint(1, 3))) + r.choice(EN_SUFFIXES)
            name = "%s %s" % (last.capitalize(), r.choice(EN_FIRST))
        else:
            last = "".join(r.choice(SYLLABLES) for _ in range(r.randint(1, 3))) + r.choice(SUFFIXES)
            name = "%s %s" % (last.capitalize(), r.choice(RU_FIRST))
            if r.random() < 0.5:
                name += " " + r.choice(RU_MIDDLE)
        key = to_ansi(name).translate(ANSI_UPPER)
        if key not in seen:
            seen.add(key)
            out.append(name)
    return out


def write_sub_collection(out, rng, authors):
    """A collection of exactly `authors` authors (one or two per record)."""
    folder = os.path.join(out, "sub", "authors-%d" % authors)
    os.makedirs(os.path.join(folder, "lib"), exist_ok=True)
    names = unique_names(rng, authors)
    lines = []
    i = 0
    number = 1
    while i < len(names):
        group = names[i:i + (2 if rng.random() < 0.2 else 1)]
        i += len(group)
        lines.append(inpx_line(["".join(g + ":" for g in group), "prose:", "Книга %d" % number, "", "",
                                number, rng.randint(5000, 90000), number, "0", "fb2", "2024-01-01",
                                "ru", "", ""]))
        number += 1
    members = info_members() + [("books.inp", "".join(lines).encode("utf-8"))]
    write_inpx(os.path.join(folder, "librusec.inpx"), members)
    model = model_from_inpx(os.path.join(folder, "librusec.inpx"), True)
    facts = write_model(folder, "expected", "ref.dbz", model)
    assert facts["authors"] == authors, facts
    return facts


def write_inpx(path, members):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            z.writestr(zip_info(name, zipfile.ZIP_DEFLATED), data)


def write_archives(lib, archives):
    os.makedirs(lib, exist_ok=True)
    for name, kind, content in archives:
        path = os.path.join(lib, name)
        if kind is None:
            write_bytes(path, content)
            continue
        damaged = {}
        with zipfile.ZipFile(path, "w", kind) as z:
            for member, data, *book in content:
                if member.endswith("/"):
                    info = zip_info(member, zipfile.ZIP_STORED)
                    info.external_attr = (0o40755 << 16) | 0x10
                    z.writestr(info, b"")
                    continue
                book = book[0] if book else None
                z.writestr(zip_info(member, zipfile.ZIP_STORED if book and book.stored else kind), data)
                if book and book.damage:
                    damaged[member] = book.damage
        if damaged:
            damage_members(path, damaged)


def make_small_or_edge(out, variant, seed, fillers, log):
    c = Collection(random.Random(seed))
    build_small(c, fillers)
    if variant == "edge":
        build_edge(c)
    log("content ready")
    lib = os.path.join(out, "lib")
    write_archives(lib, c.archives)
    inpx = os.path.join(out, "librusec.inpx")
    write_inpx(inpx, c.inpx_members)
    log("archives and index written")

    model = model_from_inpx(inpx, True)
    index_numbers = []
    with zipfile.ZipFile(inpx) as z:
        for info in z.infolist():
            if inpx_member_is_read(info):
                for line in split_lines(z.read(info)):
                    fields = line.decode("utf-8").split("\x04")
                    if len(fields) > 5:
                        index_numbers.append(fields[5].strip())
    facts = write_model(out, "expected", "ref.dbz", model, c.notable,
                        {"mode": "index", "skipped_member_numbers": c.exact_records["notes-3332.txt"]})
    log("index model written: %d authors, %d books" % (facts["authors"], facts["books"]))

    fb2_model, zzz, outcomes = model_from_archives(lib, True)
    fb2_facts = write_model(out, os.path.join("expected", "fb2"), "ref-fb2.dbz", fb2_model, None,
                            {"mode": "fb2"})
    write_bytes(os.path.join(out, "expected", "fb2", "zzz.txt"), zzz)
    write_json(os.path.join(out, "expected", "fb2", "heads.json"),
               {"outcomes": outcomes, "intent": c.fb2_intent})
    log("FB2 model written: %d authors, %d books" % (fb2_facts["authors"], fb2_facts["books"]))

    archives = archive_facts(lib)
    lookups = {}
    for number in index_numbers + c.probes:
        archive, detail = find_book(archives, number)
        lookups[number] = {"archive": archive, "member": detail if archive else None,
                           "reason": None if archive else detail}
    write_json(os.path.join(out, "expected", "archives.json"), {"archives": archives, "lookups": lookups})

    subs = {}
    if variant == "edge":
        for count in (1000, 1001, 2500):
            subs["authors-%d" % count] = write_sub_collection(out, random.Random(seed + count), count)
        log("sub-collections written")
    return {"index": facts, "fb2": fb2_facts, "sub_collections": sorted(subs)}


# --------------------------------------------------------------------------
# Scale variant: plain records, quickly.
# --------------------------------------------------------------------------

SCALE_FB2 = ('<?xml version="1.0" encoding="utf-8"?>\n<FictionBook xmlns="http://www.gribuser.ru/xml/'
             'fictionbook/2.0"><description><title-info>%s<book-title>%s</book-title><lang>%s</lang>%s'
             '</title-info></description><body><section><p>%s</p></section></body></FictionBook>\n')


def make_scale(out, seed, records, log):
    r = random.Random(seed)
    author_count = max(10, round(records * 0.26))
    names = unique_names(r, author_count)
    log("%d author names" % author_count)
    # About 1.15 authors per record. Every author gets a book; the other slots
    # follow a Zipf-like spread (weight 1/(rank+5)): a few authors have thousands.
    counts = r.choices((1, 2, 3), weights=(0.865, 0.12, 0.015), k=records)
    cum = []
    total = 0.0
    for rank in range(author_count):
        total += 1.0 / (rank + 5)
        cum.append(total)
    assigned = list(range(author_count)) + r.choices(range(author_count), cum_weights=cum,
                                                     k=max(0, sum(counts) - author_count))
    r.shuffle(assigned)
    log("authors assigned")

    words = RU_WORDS + EN_WORDS
    xml_names = [tuple(xml_escape(p) for p in name.split(" ", 2)) for name in names]
    inpx_names = [name.replace(" ", ",", 2) + ":" for name in names]
    lib = os.path.join(out, "lib")
    os.makedirs(lib)
    inpx = zipfile.ZipFile(os.path.join(out, "librusec.inpx"), "w", zipfile.ZIP_DEFLATED, compresslevel=1)
    for name, data in info_members():
        inpx.writestr(zip_info(name, zipfile.ZIP_DEFLATED), data)
    per_archive = 1000
    slot = 0
    number = 0
    archives = []
    for first_record in range(0, records, per_archive):
        batch = range(first_record, min(records, first_record + per_archive))
        lines = []
        members = []
        for i in batch:
            number += 1 if r.random() < 0.98 else r.randint(2, 4)
            ids = assigned[slot:slot + counts[i]]
            slot += counts[i]
            if len(ids) > 1:
                ids = list(dict.fromkeys(ids))
            title_words = r.choices(words, k=r.randint(4, 10))
            title = " ".join(title_words).capitalize()
            genre = r.choice(GENRE_IDS)
            lang = "ru" if r.random() < 0.85 else ("en" if r.random() < 0.67 else "uk")
            series = serno = fb2_series = ""
            if r.random() < 0.3:
                series = r.choice(words).capitalize() + " " + r.choice(words)
                serno = str(r.randint(1, 30))
                fb2_series = '<sequence name="%s" number="%s"/>' % (series, serno)
            if r.random() < 0.004:  # books of unknown authors, spread over pseudo-authors
                author_field, authors_xml = "Неизвестный автор:", ""
            else:
                author_field = "".join(inpx_names[a] for a in ids)
                authors_xml = "".join(
                    "<author><first-name>%s</first-name>%s<last-name>%s</last-name></author>"
                    % (xn[1], "<middle-name>%s</middle-name>" % xn[2] if len(xn) > 2 else "", xn[0])
                    for xn in (xml_names[a] for a in ids))
            data = (SCALE_FB2 % ("<genre>%s</genre>%s" % (genre, authors_xml), title, lang, fb2_series,
                                 title_words[0])).encode("utf-8")
            deleted = "1" if r.random() < 0.03 else "0"
            lines.append("%s\x04%s:\x04%s\x04%s\x04%s\x04%d\x04%d\x04%d\x04%s\x04fb2\x04"
                         "2024-01-01\x04%s\x04\x04\x04\r\n"
                         % (author_field, genre, title, series, serno, number, len(data), number, deleted, lang))
            members.append(("%d.fb2" % number, data))
        first, last = int(members[0][0][:-4]), number
        name = "fb2-%06d-%06d" % (first, last)
        with zipfile.ZipFile(os.path.join(lib, name + ".zip"), "w", zipfile.ZIP_STORED) as z:
            for member, data in members:
                z.writestr(zip_info(member, zipfile.ZIP_STORED), data)
        inpx.writestr(zip_info(name + ".inp", zipfile.ZIP_DEFLATED), "".join(lines).encode("utf-8"))
        archives.append({"name": name + ".zip", "range": [first, last], "members": len(members)})
        if len(archives) % 100 == 0:
            log("%d of %d records written" % (batch.stop, records))
    inpx.close()
    log("archives and index written")
    facts = write_model(out, "expected", "ref.dbz", model_from_inpx(os.path.join(out, "librusec.inpx")),
                        None, {"mode": "index"})
    write_json(os.path.join(out, "expected", "archives.json"), {"archives": archives})
    log("index model written: %d authors, %d books" % (facts["authors"], facts["books"]))
    # Every record has its FB2 file, in the same order: the FB2 build gives the
    # same catalogue with every "Y" an "N" and no duplicates.
    return {"index": facts, "fb2_books": records}


# --------------------------------------------------------------------------


def prepare_output(out):
    """A fresh temporary folder beside `out`; an existing `out` must be ours."""
    out = os.path.abspath(out)
    if os.path.exists(out):
        if not os.path.isdir(out):
            sys.exit("make_collection: %s exists and is not a folder" % out)
        if os.listdir(out) and not os.path.isfile(os.path.join(out, "manifest.json")):
            sys.exit("make_collection: %s is not empty and holds no generated collection; "
                     "refusing to replace it" % out)
    partial = out + ".partial"
    if os.path.exists(partial):
        if not os.path.isfile(os.path.join(partial, ".make_collection")):
            sys.exit("make_collection: %s exists and was not made by this program" % partial)
        shutil.rmtree(partial)
    os.makedirs(partial)
    write_bytes(os.path.join(partial, ".make_collection"), b"in progress\n")
    return out, partial


def main(argv=None):
    parser = argparse.ArgumentParser(description="Make a sample e-book collection with its expected catalogue.")
    parser.add_argument("--variant", choices=("small", "edge", "scale"), default="small")
    parser.add_argument("--records", type=int, default=None,
                        help="scale: number of index records (default 500000); "
                             "small/edge: number of ordinary books besides the odd ones (default 60)")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    parser.add_argument("--out", help="output folder (replaced if it holds a generated collection)")
    parser.add_argument("--model-of", metavar="INPX",
                        help="instead of making a collection, compute the catalogue that the index file INPX "
                             "gives and write it to --dbz (for timing against the program and for inspection)")
    parser.add_argument("--dbz", help="with --model-of: the catalogue archive to write")
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args(argv)
    if args.model_of:
        if not args.dbz:
            parser.error("--model-of needs --dbz")
        members, _, facts = model_from_inpx(args.model_of).finish()
        write_catalogue(args.dbz, members)
        if not args.quiet:
            print("make_collection: %d authors, %d books, %d read errors" %
                  (facts["authors"], facts["books"], facts["read_errors"]), file=sys.stderr)
        return 0
    if not args.out:
        parser.error("--out is required")
    if args.variant == "scale":
        records = 500000 if args.records is None else args.records
        if not 1000 <= records <= 900000:  # file numbers stay below 1,000,000: 6-digit names sort right
            parser.error("--records for scale must lie between 1000 and 900000")
    else:
        records = 60 if args.records is None else args.records
        if not 0 <= records <= 9000:
            parser.error("--records for small and edge must lie between 0 and 9000")

    started = time.time()

    def log(message):
        if not args.quiet:
            print("make_collection: %6.1f s  %s" % (time.time() - started, message), file=sys.stderr, flush=True)

    out, partial = prepare_output(args.out)
    if args.variant == "scale":
        summary = make_scale(partial, args.seed, records, log)
    else:
        summary = make_small_or_edge(partial, args.variant, args.seed, records, log)
    manifest = {"generator": GENERATOR, "version": GENERATOR_VERSION, "variant": args.variant,
                "seed": args.seed, "records": records, "summary": summary}
    os.remove(os.path.join(partial, ".make_collection"))
    write_json(os.path.join(partial, "manifest.json"), manifest)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.rename(partial, out)
    log("done: %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
