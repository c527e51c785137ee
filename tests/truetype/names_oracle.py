#!/usr/bin/python3
"""Compares what `korrin info` reads from TrueType fonts with fontTools.

    names_oracle.py KORRIN FONT...

For each font: the PostScript name, full name, unique ID and notice that
`korrin info --json` prints must be the strings that fontTools finds in the
same name records (the Microsoft (3, 1, 1033) record first for the
PostScript name, the Macintosh (1, 0, 0) record first for the others; a
Microsoft string is taken as the low byte of each UTF-16 unit, and every
string ends at its first byte 0 and is read as Latin-1). The glyph names of
`korrin info --glyphs` must be those of fontTools' 'post' table. Prints one
line per font and exits with 1 when any font differs.
"""
import json
import subprocess
import sys

from fontTools.ttLib import TTFont

MICROSOFT, MACINTOSH = (3, 1, 1033), (1, 0, 0)


def expected_names(font):
    records = {(r.platformID, r.platEncID, r.langID, r.nameID): r.string for r in font["name"].names}

    def pick(name_id, order):
        for source in order:
            raw = records.get(source + (name_id,))
            if raw is not None:
                if source == MICROSOFT:
                    raw = raw[1::2]
                return raw.split(b"\0")[0].decode("latin-1")
        return None

    ps = pick(6, (MICROSOFT, MACINTOSH))
    full = pick(4, (MACINTOSH, MICROSOFT))
    return {
        "postScriptName": ps,
        "fullName": full if full is not None else ps,
        "uniqueID": pick(3, (MACINTOSH, MICROSOFT)) or "",
        "notice": pick(0, (MACINTOSH, MICROSOFT)) or "",
        "type": "TrueType",
    }


def expected_glyph_names(font):
    post = font["post"]
    # fontTools renames duplicates ("a#1") and keeps the originals in mapping.
    names = [post.mapping.get(n, n) for n in font.getGlyphOrder()]
    own = set(getattr(post, "extraNames", []))
    # The last standard Macintosh name is "dmacron" in korrin's table, where
    # fontTools uses the later name "dcroat".
    return [("dmacron" if n == "dcroat" and n not in own else n) for n in names]


def korrin(*args):
    return subprocess.run([sys.argv[1], "info", *args], check=True, capture_output=True, text=True).stdout


def main():
    failures = 0
    for path in sys.argv[2:]:
        font = TTFont(path, lazy=True)
        problems = []
        got = json.loads(korrin("--json", path))
        want = expected_names(font)
        for key in want:
            if got.get(key) != want[key]:
                problems.append(f"{key}: korrin {got.get(key)!r}, fontTools {want[key]!r}")
        lines = korrin("--glyphs", path).splitlines()
        got_glyphs = [line.split(" ", 1)[1] for line in lines]
        want_glyphs = expected_glyph_names(font)
        if got_glyphs != want_glyphs:
            diff = next((i for i, (a, b) in enumerate(zip(got_glyphs, want_glyphs)) if a != b), None)
            problems.append(f"glyph names: {len(got_glyphs)} from korrin, {len(want_glyphs)} from fontTools"
                            + (f", first difference at glyph {diff}: {got_glyphs[diff]!r} / {want_glyphs[diff]!r}"
                               if diff is not None else ""))
        if problems:
            failures += 1
            print(f"FAIL {path}")
            for p in problems:
                print(f"  {p}")
        else:
            print(f"ok   {path} ({want['postScriptName']}, {len(want_glyphs)} glyph names)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
