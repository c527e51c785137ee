#!/usr/bin/python3
"""Ghostscript judges the Type 42 fonts that `korrin convert` writes.

For each font, the converted font and the original TrueType file (loaded by
Ghostscript's .loadfont) must draw identical pages: byte codes 32 to 255
through the converted Encoding, or, for a font without glyph names, glyphs by
index around every place where an sfnts string ends inside 'glyf'. The sfnts
strings must each end with their zero byte after an even number of data
bytes, at most 65534 unless long tables are allowed, never inside a glyph,
and together carry the source's nine tables byte for byte.

usage: gs_judge.py KORRIN [KEEP-FOLDER]
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

NINE = [b"cvt ", b"fpgm", b"glyf", b"head", b"hhea", b"hmtx", b"loca", b"maxp", b"prep"]
MAX_STRING = 65534

FONTS = [
    # (path, by glyph names?, korrin options)
    ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", True, []),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf", True, []),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", True, []),
    ("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", True, []),
    # 'post' format 3.0, long 'loca' offsets, odd glyphs: strings end early to stay even.
    ("/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf", False, ["--long-tables"]),
]

# Draws the glyphs of byte codes 32 to 255 of font F, 16 to a row.
GRID = """
/F exch def
F 20 scalefont setfont
32 1 255 {
  /c exch def /i c 32 sub def
  i 16 mod 34 mul 20 add 560 i 16 idiv 38 mul sub moveto
  ( ) dup 0 c put show
} for
showpage
"""

# A copy of a font whose codes 32 and up draw the glyph indices of array G.
BY_INDEX = """
/byIndex {
  /G exch def
  dup length dict copy
  dup /CharStrings G length 1 add dict
    dup /.notdef 0 put
    0 1 G length 1 sub { /k exch def dup (g) k 10 string cvs concatstrings cvn G k get put } for
  put
  dup /Encoding 256 array
    0 1 255 { 1 index exch /.notdef put } for
    0 1 G length 1 sub { /k exch def dup k 32 add (g) k 10 string cvs concatstrings cvn put } for
  put
  /ByIndex exch definefont
} def
"""


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def ps_string(text):
    return "(" + text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"


def render(work, name, program):
    source = os.path.join(work, name + ".ps")
    raster = os.path.join(work, name + ".pgm")
    with open(source, "w") as f:
        f.write(program)
    subprocess.run(["gs", "-q", "-dNOSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw", "-r72",
                    "-g576x576", "-sOutputFile=" + raster, source], check=True)
    with open(raster, "rb") as f:
        return f.read()


def tables_of(data):
    entries = (struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i]) for i in range(struct.unpack(">H", data[4:6])[0]))
    return {tag: data[offset:offset + length] for tag, _, offset, length in entries}


def sfnts_strings(text):
    body = text[text.index("/sfnts [") + len("/sfnts ["):]
    body = body[:body.index("] def")]
    return [bytes.fromhex(re.sub(r"\s", "", s)) for s in re.findall(r"<([0-9A-F\s]*)>", body)]


def glyf_breaks(rebuilt, strings):
    """Glyphs at which a string ends inside 'glyf', and how many of those ends
    came early (the next glyph would have fitted)."""
    tables = tables_of(rebuilt)
    loca = tables[b"loca"]
    offsets = (struct.unpack(">%dI" % (len(loca) // 4), loca) if tables[b"head"][50:52] == b"\0\1"
               else [2 * v for v in struct.unpack(">%dH" % (len(loca) // 2), loca)])
    at = {offset: g for g, offset in enumerate(offsets)}
    glyf_start, glyf_length = rebuilt.index(tables[b"glyf"]), len(tables[b"glyf"])
    breaks, early, position = [], 0, 0
    for s in strings[:-1]:
        position += len(s) - 1
        inside = position - glyf_start
        if 0 < inside < glyf_length:
            if inside not in at:
                fail(f"a string ends inside a glyph, at 'glyf' offset {inside}")
            g = at[inside]
            breaks.append(g)
            if g + 1 < len(offsets) and len(s) - 1 + offsets[g + 1] - offsets[g] <= MAX_STRING:
                early += 1
    return breaks, early


def judge(korrin, work, font, by_names, options):
    base = os.path.splitext(os.path.basename(font))[0]
    converted = os.path.join(work, base + ".t42")
    subprocess.run([korrin, "convert", font, "--name", "KorrinT42", "-o", converted] + options, check=True)
    with open(converted, encoding="latin-1") as f:
        text = f.read()
    with open(font, "rb") as f:
        source = f.read()

    strings = sfnts_strings(text)
    for n, s in enumerate(strings):
        if not s or s[-1] != 0 or (len(s) - 1) % 2 or (len(s) - 1 > MAX_STRING and "--long-tables" not in options):
            fail(f"{font}: sfnts string {n} holds {len(s) - 1} data bytes and ends with {s[-1:]!r}")
    rebuilt = b"".join(s[:-1] for s in strings)
    ours, theirs = tables_of(rebuilt), tables_of(source)
    if sorted(ours) != NINE or any(ours[tag] != theirs[tag] for tag in NINE):
        fail(f"{font}: the sfnts data holds {sorted(ours)}, not the source's nine tables")
    breaks, early = glyf_breaks(rebuilt, strings)
    if len(theirs[b"glyf"]) > MAX_STRING and not breaks:
        fail(f"{font}: 'glyf' of {len(theirs[b'glyf'])} bytes is not split")

    # .loadfont defines the font under its PostScript name.
    info = subprocess.run([korrin, "info", font], capture_output=True, text=True, check=True).stdout
    own_name = re.search(r"^PostScript name: (\S+)$", info, re.M).group(1)
    load_ttf = f"{ps_string(font)} (r) file .loadfont\n"
    if by_names:
        ours_page = f"{ps_string(converted)} run /KorrinT42 findfont\n" + GRID
        judge_page = (f"{ps_string(converted)} run /OurEncoding /KorrinT42 findfont /Encoding get def\n"
                      + load_ttf + f"/{own_name} findfont dup length dict copy dup /Encoding OurEncoding put"
                      " /Judge exch definefont\n" + GRID)
        names = set(re.findall(r"^dup (?:3[2-9]|[4-9]\d|1\d\d|2[0-5]\d) /(\S+) put$", text, re.M))
        if len(names) < 90:
            fail(f"{font}: only {len(names)} distinct glyph names for codes 32 to 255")
    else:
        if not early:
            fail(f"{font}: no string ended early, so the odd-length case went untested")
        glyph_count = struct.unpack(">H", ours[b"maxp"][4:6])[0]
        chosen = sorted({g for b in breaks for g in (b - 1, b) if 0 < g < glyph_count})
        spread = [1 + k * (glyph_count - 2) // 63 for k in range(64)]
        glyphs = sorted(set(chosen + spread))[:224]
        indices = "[" + " ".join(map(str, glyphs)) + "]"
        ours_page = BY_INDEX + f"{ps_string(converted)} run /KorrinT42 findfont {indices} byIndex\n" + GRID
        judge_page = BY_INDEX + load_ttf + f"/{own_name} findfont {indices} byIndex\n" + GRID

    a = render(work, base + ".ours", ours_page)
    b = render(work, base + ".judge", judge_page)
    header = a.index(b"255\n") + 4
    ink = sum(1 for v in a[header:] if v < 128)
    if ink < 2000:
        fail(f"{font}: the page is nearly blank ({ink} dark pixels)")
    if a != b:
        differing = sum(1 for x, y in zip(a, b) if x != y)
        fail(f"{font}: {differing} pixels differ from Ghostscript's own rendering of the TrueType file")
    print(f"ok {base}: {len(strings)} strings, {len(breaks)} in 'glyf' ({early} early), {ink} dark pixels")


def main():
    with tempfile.TemporaryDirectory() as scratch:
        work = sys.argv[2] if len(sys.argv) > 2 else scratch  # a folder to keep what was made
        os.makedirs(work, exist_ok=True)
        for font, by_names, options in FONTS:
            judge(sys.argv[1], work, font, by_names, options)


if __name__ == "__main__":
    main()
