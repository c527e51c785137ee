# korrin info: the names of TrueType fonts as text, its errors, and agreement
# of --json and --glyphs with fontTools on every Debian font the project
# depends on.
. "$CLI_LIB"

DEJAVU=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
expect_out "info as text, the notice on one line" "PostScript name: DejaVuSans
Full name: DejaVu Sans
Unique ID: DejaVu Sans
Notice: Copyright (c) 2003 by Bitstream, Inc. All Rights Reserved.\\nCopyright
Type: TrueType" sh -c "'$KORRIN' info '$DEJAVU' | cut -c 1-77"

printf 'not a font at all' > "$WORK/text.ttf"
expect_status "a file that is not a font" 1 "$KORRIN" info "$WORK/text.ttf"
expect_grep "the font error's text" "^korrin: $WORK/text.ttf: not a TrueType font$" "$WORK/stderr"
head -c 16 "$DEJAVU" > "$WORK/cut.ttf"
expect_status "a font cut short" 1 "$KORRIN" info "$WORK/cut.ttf"
expect_grep "the cut font's error" "incorrect TrueType file size$" "$WORK/stderr"
expect_status "a missing file" 1 "$KORRIN" info "$WORK/missing.ttf"
expect_grep "the missing file's error" "error accessing file$" "$WORK/stderr"
expect_status "--json and --glyphs together" 2 "$KORRIN" info --json --glyphs "$DEJAVU"

# Prefer Debian's python, which has python3-fonttools, over any other first
# on PATH.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
if ! "$PYTHON" "$KORRIN_SOURCE/tests/truetype/names_oracle.py" "$KORRIN" \
     /usr/share/fonts/truetype/dejavu/*.ttf /usr/share/fonts/opentype/ipafont-gothic/*.ttf > "$WORK/oracle" 2>&1; then
  echo "FAIL: korrin and fontTools disagree:"; cat "$WORK/oracle"
  failures=$((failures+1))
fi
finish
