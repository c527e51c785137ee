#!/usr/bin/python3
"""Compares what `korrin info` reads from TrueType fonts with fontTools.

    names_oracle.py KORRIN FONT...

The names of `korrin info --json` must be fontTools' strings of the same
records (Microsoft (3, 1, 1033) first for the PostScript name, Macintosh
(1, 0, 0) first for the others; low bytes of Microsoft units; up to the first
byte 0, as Latin-1), and `korrin info --glyphs` must give fontTools' glyph
names. Exits with 1 when any font differs.
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
    # fontTools renames duplicates ("a#1"), keeping the originals in mapping.
    names = [post.mapping.get(n, n) for n in font.getGlyphOrder()]
    own = set(getattr(post, "extraNames", []))
    # korrin names standard glyph 257 "dmacron", fontTools "dcroat".
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
        got_glyphs = [line.split(" ", 1)[1] for line in korrin("--glyphs", path).splitlines()]
        want_glyphs = expected_glyph_names(font)
        if got_glyphs != want_glyphs:
            diff = next((i for i, (a, b) in enumerate(zip(got_glyphs, want_glyphs)) if a != b), None)
            problems.append(f"glyph names: {len(got_glyphs)} from korrin, {len(want_glyphs)} from fontTools,"
                            f" first difference at glyph {diff}")
        failures += bool(problems)
        print(("FAIL " if problems else "ok   ") + path + "".join("\n  " + p for p in problems))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
