#!/usr/bin/python3
"""Generates the small and edge sample collections and checks them.

The checks read the generated files back on their own terms: the reference
catalogue archives are decoded with a separate reader and compared with the
expected files, every zip passes zipfile's test, every FB2 head that should
parse does, and the odd cases each variant promises are really there.
"""

import argparse
import hashlib
import importlib.util
import json
import os
import subprocess
import sys
import zipfile
import xml.etree.ElementTree as ET
import zlib

FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)
    return condition


# -- Windows-1251 upper case, stated independently of the generator -------------

UPPER_PAIRS = dict(
    [(c, c - 32) for c in range(ord("a"), ord("z") + 1)] +
    [(c, c - 32) for c in range(0xE0, 0x100)] +
    # ё і ї є ґ ў ђ ѓ љ њ ќ ћ џ ј ѕ
    [(0xB8, 0xA8), (0xB3, 0xB2), (0xBF, 0xAF), (0xBA, 0xAA), (0xB4, 0xA5), (0xA2, 0xA1),
     (0x90, 0x80), (0x83, 0x81), (0x9A, 0x8A), (0x9C, 0x8C), (0x9D, 0x8D), (0x9E, 0x8E),
     (0x9F, 0x8F), (0xBC, 0xA3), (0xBE, 0xBD)])
UPPER = bytes(UPPER_PAIRS.get(b, b) for b in range(256))


def check_upper_table(generator):
    table = generator.ANSI_UPPER
    changed = [b for b in range(256) if table[b] != b]
    check(len(changed) == 73, "upper table changes %d bytes, not 73" % len(changed))
    check(table == UPPER, "upper table differs at %s" %
          [hex(b) for b in range(256) if table[b] != UPPER[b]])
    check(table[0xB5] == 0xB5 and table[0x98] == 0x98, "0xB5 and 0x98 must stay")
    check(generator.to_ansi("И‘\x98Ł😀") == b"\xc8\x91\x98??", "1251 conversion of И ‘ U+0098 Ł emoji")


# -- the catalogue archive, read back ---------------------------------------------


def read_catalogue(path):
    """Returns (a.txt, inf.txt, [(author index, book line)], facts)."""
    with zipfile.ZipFile(path) as z:
        check(z.testzip() is None, "%s fails zipfile's test" % path)
        infos = z.infolist()
        names = [i.filename for i in infos]
        blocks = len(names) - 2
        check(names == ["a.txt", "inf.txt"] + ["%d.txt" % b for b in range(blocks)],
              "%s members are %s" % (path, names[:5]))
        check(all(i.compress_type == zipfile.ZIP_DEFLATED for i in infos), "%s: not all deflated" % path)
        a_txt = z.read("a.txt")
        authors = a_txt.split(b"\r\n")
        check(authors[-1] == b"", "a.txt must end with CR LF")
        authors = authors[:-1]
        check(blocks == (len(authors) + 999) // 1000, "%s: %d blocks for %d authors" % (path, blocks, len(authors)))
        lines = []
        facts = {"block_lines": [], "starts": {}}
        for b in range(blocks):
            data = z.read("%d.txt" % b)
            n = data[0] * 256 + data[1]
            check(n == min(1000, len(authors) - b * 1000), "block %d holds %d authors" % (b, n))
            check(data[2 + 4 * n:3 + 4 * n] == b"\r", "block %d: CR after the header" % b)
            body = data[3 + 4 * n:]
            book_lines = body.split(b"\r")
            check(book_lines[-1] == b"", "block %d: book lines end with CR" % b)
            book_lines = book_lines[:-1]
            running = 0
            for j in range(n):
                start, count = (data[2 + 4 * j] * 256 + data[3 + 4 * j], data[4 + 4 * j] * 256 + data[5 + 4 * j])
                # The stored start is the running line number modulo 65,536; the
                # running sum of counts locates the lines whatever the block's size.
                check(start == running % 65536, "block %d entry %d: start %d, running %d" % (b, j, start, running))
                facts["starts"][b * 1000 + j] = start
                lines.extend((b * 1000 + j, line) for line in book_lines[running:running + count])
                running += count
            check(running == len(book_lines),
                  "block %d: counts add up to %d of %d lines" % (b, running, len(book_lines)))
            facts["block_lines"].append(len(book_lines))
        inf = z.read("inf.txt")
        facts["first_bytes"] = {b: z.read("%d.txt" % b)[:2] for b in range(blocks)}
    keys = [a.translate(UPPER) for a in authors]
    check(all(keys[i] < keys[i + 1] for i in range(len(keys) - 1)),
          "%s: authors not in strictly ascending upper-case order" % path)
    check(all(a and a == a.strip(b" ") and len(a) <= 120 for a in authors),
          "%s: author name empty, padded or long" % path)
    return a_txt, inf, lines, facts


def check_catalogue(root, expected_dir, dbz):
    a_txt, inf, lines, facts = read_catalogue(os.path.join(root, dbz))
    expected = os.path.join(root, expected_dir)
    model = json.load(open(os.path.join(expected, "model.json"), encoding="utf-8"))
    check(a_txt == open(os.path.join(expected, "a.txt"), "rb").read(), "%s: a.txt differs" % dbz)
    check(inf == open(os.path.join(expected, "inf.txt"), "rb").read(), "%s: inf.txt differs" % dbz)
    want_inf = "Авторов:\t\t%d\nКниг:\t\t%d\nДублей книг:\t%d" % (model["authors"], model["books"], model["duplicates"])
    check(inf == want_inf.encode("cp1251"), "%s: inf.txt is %r" % (dbz, inf))
    books = [line.split(b"\t", 1) for line in open(os.path.join(expected, "books.txt"), "rb").read().split(b"\n")[:-1]]
    check([(int(i), line) for i, line in books] == lines, "%s: book lines differ from books.txt" % dbz)
    check_table_records(expected, a_txt.split(b"\r\n")[:-1], lines, dbz)
    for _, line in lines:
        fields = line.split(b"\t")
        check(len(fields) == 8 and fields[7] in (b"Y", b"N") and fields[5] == b"" and
              len(fields[0]) <= 250 and len(fields[1]) <= 150 and len(fields[2]) <= 8 and
              fields[3].isdigit() and len(fields[3]) <= 8 and len(fields[4]) <= 8 and len(fields[6]) <= 2,
              "%s: malformed book line %r" % (dbz, line))
    return model, a_txt.split(b"\r\n")[:-1], lines, facts


def check_table_records(expected, authors, lines, dbz):
    """bo.txt and au.txt (the intermediate tables' records) agree with the catalogue:
    each author's records, in writing order, are its book lines (up to the cut)."""
    if not os.path.exists(os.path.join(expected, "bo.txt")):
        return
    names = open(os.path.join(expected, "au.txt"), "rb").read().split(b"\n")[:-1]
    check(sorted(names, key=lambda n: n.translate(UPPER)) == authors, "%s: au.txt names are not a.txt's" % dbz)
    index = {name: i for i, name in enumerate(authors)}
    per_author = {}
    for record in open(os.path.join(expected, "bo.txt"), "rb").read().split(b"\n")[:-1]:
        number, line = record.split(b"\t", 1)
        per_author.setdefault(index[names[int(number) - 1]], []).append(line)
    by_index = {}
    for i, line in lines:
        by_index.setdefault(i, []).append(line)
    check(all(per_author.get(i, [])[:65535] == by_index.get(i, []) for i in range(len(authors))),
          "%s: bo.txt records differ from the book lines" % dbz)


# -- zips, heads, index members -----------------------------------------------------


def check_all_zips(root, not_zips, damaged=()):
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if os.path.splitext(name)[1].lower() not in (".zip", ".inpx", ".dbz"):
                continue
            if os.path.relpath(path, root) in not_zips:
                check(not zipfile.is_zipfile(path), "%s should not be a zip" % path)
                continue
            if os.path.relpath(path, root) in damaged:
                continue  # its members are checked one by one
            with zipfile.ZipFile(path) as z:
                check(z.testzip() is None, "%s fails zipfile's test" % path)


def title_info_xml(data):
    """The title-info block as the catalogue parses it, from a whole FB2 file."""
    p1, p2, p3 = data.find(b"?>"), data.find(b"<title-info"), data.find(b"</title-info")
    declaration = data[:p1 + 2] + b"\r" if 0 <= p1 < p2 else b""
    return (declaration + data[p2:p3 + len(b"</title-info>")]).replace(b":href", b"href")


def check_fb2_heads(root):
    heads = json.load(open(os.path.join(root, "expected", "fb2", "heads.json"), encoding="utf-8"))
    outcomes = {(o["archive"], o["member"]): o for o in heads["outcomes"]}
    check(len(outcomes) == len(heads["intent"]), "every FB2 member has one outcome")
    catalogued = set()
    for intent in heads["intent"]:
        where = "%s/%s" % (intent["archive"], intent["member"])
        with zipfile.ZipFile(os.path.join(root, "lib", intent["archive"])) as z:
            try:
                data = z.read(intent["member"])
                readable = True
            except (zipfile.BadZipFile, zlib.error):
                readable = False
            check(readable == (intent["damage"] is None), "%s: readable %s, damage %s" %
                  (where, readable, intent["damage"]))
            if intent["damage"] == "tail":
                data = z.open(intent["member"]).read(2000)  # the head alone reads
            elif intent["damage"] == "start":
                continue
        if intent["planned_end"] is not None:
            check(intent["title_info_end"] == intent["planned_end"], "%s: title-info ends at %s, planned %s" %
                  (where, intent["title_info_end"], intent["planned_end"]))
        if intent["title_info_end"] is not None:
            try:
                root_element = ET.fromstring(title_info_xml(data))
                parsed = True
            except ET.ParseError:
                parsed = False
            check(parsed == intent["parses"], "%s: parses %s, should %s" % (where, parsed, intent["parses"]))
            if parsed and intent["title"] is not None:
                check("".join(root_element.find("book-title").itertext()) == intent["title"], "%s: title" % where)
        outcome = outcomes.get((intent["archive"], intent["member"]))
        if check(outcome is not None, "%s: no outcome" % where):
            check(outcome["catalogued"] == intent["catalogued"], "%s: catalogued %s, intended %s" %
                  (where, outcome["catalogued"], intent["catalogued"]))
        if intent["catalogued"]:
            catalogued.add(intent["member"].rsplit("/", 1)[-1][:-4])
    ends = {i["note"]: i["title_info_end"] for i in heads["intent"]}
    check(any(e and e <= 2000 for e in ends.values()), "a title-info ending before byte 2,000")
    check(any(e and 2000 < e <= 4000 for e in ends.values()), "a title-info ending between 2,000 and 4,000")
    check(any(e and e > 16000 for e in ends.values()), "a title-info ending after byte 16,000")
    check(any(e is None for e in ends.values()), "an FB2 without title-info")
    check(sorted(i["damage"] for i in heads["intent"] if i["damage"]) == ["start", "tail"],
          "a member damaged at its start and one damaged after its head")
    lines = open(os.path.join(root, "expected", "fb2", "books.txt"), "rb").read().split(b"\n")[:-1]
    files = {line.split(b"\t")[3].decode() for line in lines}
    check(files == catalogued, "FB2 catalogue holds %s" % sorted(files ^ catalogued)[:10])
    return heads


def check_index_members(root, model, lines):
    with zipfile.ZipFile(os.path.join(root, "librusec.inpx")) as z:
        sizes = {i.filename: i.file_size for i in z.infolist()}
        members = {name: z.read(name) for name in sizes}
    for name, size in (("extra-3332.inp", 3332), ("extra-3333.inp", 3333),
                       ("notes-3332.txt", 3332), ("notes-3333.txt", 3333)):
        check(sizes.get(name) == size, "%s has %s bytes" % (name, sizes.get(name)))
    check(any(d.startswith(b"\xef\xbb\xbf") for d in members.values()), "a member with a byte-order mark")
    check(any(n.endswith(".inp") and not d.startswith(b"\xef\xbb\xbf") and b"\r\n" in d for n, d in members.items()),
          "a member without mark, CR LF")
    check(any(b"\n" in d and b"\r" not in d for d in members.values()), "a member with LF-only line ends")
    check(members["structure.info"].startswith(b"AUTHOR;GENRE;TITLE;SERIES;SERNO;FILE;SIZE;LIBID;DEL;EXT;DATE;LANG"),
          "structure.info lists the default order")
    files = {line.split(b"\t")[2] for _, line in lines}
    skipped = [n.encode() for n in model["skipped_member_numbers"]]
    check(skipped and not any(n in files for n in skipped), "records of the 3,332-byte .txt member are skipped")
    for name in ("extra-3332.inp", "extra-3333.inp", "notes-3333.txt"):
        first = members[name].split(b"\x04")[5]
        check(first in files, "records of %s are read" % name)


def check_lookups(root):
    facts = json.load(open(os.path.join(root, "expected", "archives.json"), encoding="utf-8"))
    by_name = {a["name"]: a for a in facts["archives"]}
    lookups = facts["lookups"]
    for number, found in lookups.items():
        if found["archive"]:
            entry = by_name[found["archive"]]
            check(entry["range"][0] <= int(number) <= entry["range"][1], "lookup %s: range" % number)
            with zipfile.ZipFile(os.path.join(root, "lib", found["archive"])) as z:
                check(found["member"] in z.namelist(), "lookup %s: member" % number)
    want = {"625127": ("fb2-625127-625160_lost.zip", "625127.fb2"), "700": ("fb2-000700-000709.zip", "sub/700.fb2"),
            "400": ("fb2-000400-000409.ZIP", "400.fb2"), "9373": ("d.fb2-009373-367300.zip", "9373.fb2"),
            "20000": ("fb2-020000-020059.zip", "20000.fb2"), "100": ("fb2-000100-000139.zip", "100.fb2")}
    for number, (archive, member) in want.items():
        got = lookups.get(number, {})
        check((got.get("archive"), got.get("member")) == (archive, member), "lookup %s gives %s" % (number, got))
    for number in ("150", "199", "200", "300", "310", "500", "600", "702", "625140", "9400"):
        check(lookups.get(number, {}).get("archive", 1) is None, "lookup %s must fail" % number)
    check(any(not a["is_zip"] and a["matches_mask"] for a in facts["archives"]), "a non-zip file named .zip")
    check(any(a["is_zip"] and not a["members"] for a in facts["archives"]), "an empty archive")
    return lookups, {os.path.join("lib", a["name"]) for a in facts["archives"] if not a["is_zip"]}


# -- the variants ------------------------------------------------------------------


def check_collection(root, variant):
    model, authors, lines, facts = check_catalogue(root, "expected", "ref.dbz")
    fb2_model, *_ = check_catalogue(root, os.path.join("expected", "fb2"), "ref-fb2.dbz")
    lookups, not_zips = check_lookups(root)
    heads = check_fb2_heads(root)
    check_all_zips(root, not_zips, {os.path.join("lib", i["archive"]) for i in heads["intent"] if i["damage"]})
    check_index_members(root, model, lines)
    names = [a.decode("cp1251", "replace") for a in authors]
    notable = model["notable_authors"]
    check(None not in (notable["smith_only"], notable["smith"], notable["smithson"]) and
          notable["smith_only"] < notable["smith"] < notable["smithson"], "Smith before Smithson")
    check(names[notable["petrov"]] == "Петров Пётр", "case variants spelled as first seen")
    check(names[notable["lukasz"]].startswith("?"), "leading '?' of a member without BOM is kept")
    check(notable["unknown_000"] is not None, "books of unknown authors are filed")
    check(len(authors[notable["long_name"]]) == 120, "long names cut to 120 bytes")
    check(fb2_model["read_errors"] == 2, "the non-zip archive and the member damaged at its start are FB2 read errors")
    two = [i for i, line in lines if line.startswith("Запятые после автора\t".encode("cp1251"))]
    check(len(two) == 2 and notable["unknown_000"] in two, "a piece of commas after the last ':' is an author")
    by_author = {}
    for index, line in lines:
        by_author.setdefault(index, []).append(line)
    if variant == "small":
        check(model["read_errors"] == 0, "small: no read errors")
        check(notable["unknown_001"] is None, "small: fewer than 501 unknown books")
    else:
        check(model["read_errors"] == 3, "edge: an empty line, an 11-field line and a size '12k' are read errors")
        lettered = [line for _, line in lines if line.split(b"\t")[2] == b"410002"]
        check(len(lettered) == 1 and lettered[0].split(b"\t")[3] == b"0", "edge: a size '12k' is stored as 0")
        check(model["authors"] > 100000, "edge: more than 100,000 authors")
        check(len(by_author.get(notable["unknown_000"], [])) == 500 and notable["unknown_001"] is not None,
              "edge: the 501st book of unknown authors goes to pseudo-author 001")
        check(max(facts["block_lines"]) > 65535, "edge: a block of more than 65,535 book lines")
        check([notable["prolific_a"], notable["prolific_b"], notable["prolific_c"]] == [0, 1, 2],
              "edge: prolific authors sort first")
        check(model["cut_authors"] == [{"index": 2, "name": "0 Плодовитый В", "books": 65540, "kept": 65535}],
              "edge: the author of 65,540 books keeps 65,535 lines")
        check(facts["starts"][2] == (40000 + 25540) % 65536 and facts["starts"][3] == (40000 + 25540 + 65535) % 65536,
              "edge: starts wrap modulo 65,536")
        files = {line.split(b"\t")[2] for _, line in lines}
        for unsafe in ("1*", "../x1", '5"5'):
            check(unsafe.encode() in files and lookups[unsafe]["archive"] is None, "edge: unsafe number %s" % unsafe)
        for count, blocks in ((1000, 1), (1001, 2), (2500, 3)):
            sub = os.path.join(root, "sub", "authors-%d" % count)
            sub_model, sub_authors, _, sub_facts = check_catalogue(sub, "expected", "ref.dbz")
            check(sub_model["authors"] == count == len(sub_authors), "sub-collection of %d authors" % count)
            check(len(sub_facts["block_lines"]) == blocks, "%d authors make %d blocks" % (count, blocks))
            check_all_zips(sub, set())
            if count == 2500:
                check(sub_facts["first_bytes"][2] == b"\x01\xf4", "block 2 of 2,500 authors starts 01 F4")


def run_generator(generator, variant, out):
    subprocess.run([sys.executable, generator, "--variant", variant, "--out", out, "--quiet"], check=True)


def tree_digest(root):
    digest = hashlib.sha256()
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(os.path.relpath(path, root).encode())
            digest.update(open(path, "rb").read())
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--generator", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    spec = importlib.util.spec_from_file_location("make_collection", args.generator)
    generator = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(generator)
    check_upper_table(generator)

    os.makedirs(args.work, exist_ok=True)
    small, again, edge = (os.path.join(args.work, n) for n in ("small", "small-again", "edge"))
    run_generator(args.generator, "small", small)
    run_generator(args.generator, "small", again)
    check(tree_digest(small) == tree_digest(again), "two runs with one seed differ")
    run_generator(args.generator, "edge", edge)
    check_collection(small, "small")
    check_collection(edge, "edge")

    for failure in FAILURES[:50]:
        print("FAIL:", failure)
    print("%d failed checks" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
