#!/usr/bin/env python3
"""codec_oracle.py TABLE_DIR: every code of every shipped table against Python's codecs.

Each table and codec must agree on every code (0xFFFF in a one-byte table is
unmapped) but for the differences kept on purpose in KNOWN. CNS (7) and CNS
Plane 1 (9) have no Python codec and are checked against each other.
"""
import os
import struct
import sys

# from-encoding -> (Python codec, code space)
ORACLE = {1: ("latin-1", "one"), 2: ("cp932", "multi"), 3: ("cp950", "multi"), 4: ("gb2312", "multi"),
          5: ("cp949", "multi"), 6: ("johab", "multi"), 8: ("gb2312", "seven"), 10: ("gbk", "multi")}
ORACLE.update({frm: (codec, "one") for frm, codec in zip(range(100, 113), (
    "cp1252", "mac_roman", "iso8859_2", "iso8859_5", "iso8859_7", "iso8859_9", "iso8859_15",
    "cp1250", "cp1251", "cp1253", "cp1254", "koi8_r", "shift_jis"))})

PUA = "a private-use value"

# (from-encoding, first code, last code, what the table holds (a value, None
# for unmapped, or PUA), why).
KNOWN = [
    (2, 0x80, 0x80, None, "not in Microsoft's code page 932 table; Python has Windows' best-fit U+0080"),
    (2, 0xA0, 0xA0, None, "not in Microsoft's code page 932 table; Python has Windows' best-fit U+F8F0"),
    (2, 0xFD, 0xFF, None, "not in Microsoft's code page 932 table; Python has Windows' best-fit U+F8F1-U+F8F3"),
    (3, 0x80, 0x80, 0x0080, "code page 950 passes 80 through as U+0080; Python leaves it undefined"),
    (3, 0xC6A1, 0xC8FE, PUA, "code page 950's user-defined area; Python has the Big5 extensions' kana and Cyrillic"),
    (6, 0x5C, 0x5C, 0x20A9, "Johab 5C is the won sign (KS C 5601-1992 annex 3); Python has the backslash"),
    (6, 0x8441, 0x845D, None, "jamo with fill initial and medial; glibc maps only their canonical codes (8841...)"),
    (6, 0xD9E8, 0xD9E8, 0x327E, "U+327E, added by KS X 1001:2002; Python predates it"),
    (10, 0x80, 0x80, 0x20AC, "code page 936 has the euro sign at 80; Python's gbk does not"),
    (112, 0x5C, 0x5C, 0x00A5, "JIS X 0201 Roman has the yen sign at 5C; Python's shift_jis the backslash"),
    (112, 0x7E, 0x7E, 0x203E, "JIS X 0201 Roman has the overline at 7E; Python's shift_jis the tilde"),
]


def known_rule(frm, key, got):
    for i, (f, first, last, holds, _) in enumerate(KNOWN):
        if f == frm and first <= key <= last:
            if got == holds or (holds is PUA and got is not None and 0xE000 <= got <= 0xF8FF):
                return i
    return None


def read_table(path):
    data = open(path, "rb").read()
    order = {b"\xaa\xdd": ">", b"\xdd\xaa": "<"}.get(data[4:6])
    if len(data) < 48 or data[:4] != b"xlt!" or order is None:
        return None
    frm, to, zero, size, count = struct.unpack_from(order + "5H", data, 6)
    strings = {}
    for i in range(count):
        qual, num, length, off = struct.unpack_from(order + "4H", data, 18 + 8 * i)
        if qual == 0xFFFF and num not in strings:
            strings[num] = data[18 + 8 * count + off:18 + 8 * count + off + length].decode("utf-8")
    t = 10 + size
    fmt, = struct.unpack_from(order + "H", data, t)
    if fmt == 4:
        mapping = dict(enumerate(struct.unpack_from(order + "256H", data, t + 4)))
    elif fmt in (2, 3):
        m, = struct.unpack_from(order + "I", data, t + 4)
        key = "I" if fmt == 2 else "H"
        keys = struct.unpack_from(order + str(m) + key, data, t + 8)
        values = struct.unpack_from(order + str(m) + "H", data, t + 8 + m * struct.calcsize(key))
        if list(keys) != sorted(set(keys)):
            raise SystemExit(f"{path}: keys not strictly ascending")
        mapping = dict(zip(keys, values))
    else:
        raise SystemExit(f"{path}: unexpected format {fmt}")
    return {"from": frm, "to": to, "format": fmt, "map": mapping, "strings": strings}


def decode(codec, raw):
    try:
        text = raw.decode(codec)
    except UnicodeDecodeError:
        return None
    return ord(text) if len(text) == 1 and ord(text) <= 0xFFFF else None


def codes(space):
    """(key, bytes) for every code of a code space."""
    if space == "seven":
        for hi in range(0x21, 0x7F):
            for lo in range(0x21, 0x7F):
                yield hi << 8 | lo, bytes([hi | 0x80, lo | 0x80])
        return
    for b in range(256):
        yield b, bytes([b])
    if space == "multi":
        for c in range(0x8000, 0x10000):
            yield c, bytes([c >> 8, c & 0xFF])


def check(table, codec, space):
    """(code, table value, Python's value) for every code where they differ."""
    mapping = table["map"]
    differences = []
    space_keys = set()
    for key, raw in codes(space):
        space_keys.add(key)
        want, got = decode(codec, raw), mapping.get(key)
        if table["format"] == 4 and got == 0xFFFF:
            got = None
        if got != want:
            differences.append((key, got, want))
    return differences + [(key, mapping[key], "outside the code space") for key in sorted(set(mapping) - space_keys)]


def hexval(v):
    return "unmapped" if v is None else v if isinstance(v, str) else f"U+{v:04X}"


def main():
    directory = sys.argv[1]
    tables = {}
    for name in sorted(os.listdir(directory)):
        t = read_table(os.path.join(directory, name))
        if t is None or t["to"] != 1 or t["from"] in tables or not all(t["strings"].get(n) for n in (1, 2, 3, 4)):
            print(f"FAIL: {name}: not a table to Unicode (1) of a new encoding with default strings 1 to 4")
            return 1
        tables[t["from"]] = t

    failures = []
    known_counts = [0] * len(KNOWN)
    for frm, (codec, space) in sorted(ORACLE.items()):
        if frm not in tables:
            failures.append(f"no table from {frm}")
            continue
        diffs = check(tables[frm], codec, space)
        for key, got, want in diffs:
            rule = known_rule(frm, key, got)
            if rule is None:
                failures.append(f"{frm} ({codec}) {key:X}: table {hexval(got)}, Python {hexval(want)}")
            else:
                known_counts[rule] += 1
        print(f"{frm} ({codec}): {len(tables[frm]['map'])} entries, {len(diffs)} differences")

    # CNS Plane 1 (7-bit) is plane 1 of CNS in EUC-TW, as xx xx and as 8E A1 xx xx.
    if 7 in tables and 9 in tables:
        cns, plane1 = tables[7]["map"], tables[9]["map"]
        for key in range(0x2121, 0x7F7F):
            euc, want = key | 0x8080, plane1.get(key)
            if 0x21 <= key & 0xFF <= 0x7E and (cns.get(euc) != want or cns.get(0x8EA10000 | euc) != want):
                failures.append(f"CNS plane 1 {key:X}: 9 gives {hexval(want)}, 7 gives "
                                f"{hexval(cns.get(euc))} and {hexval(cns.get(0x8EA10000 | euc))}")
    else:
        failures.append("the CNS tables 7 and 9 are missing")

    failures += [f"the known difference {frm} {first:X}-{last:X} no longer occurs; update KNOWN"
                 for (frm, first, last, _, _), count in zip(KNOWN, known_counts) if count == 0]
    for line in failures[:50]:
        print("FAIL:", line)
    print(f"{len(failures)} failure(s)" if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
