# korrin info: the names of TrueType fonts, as text and JSON, its errors, and
# agreement with fontTools on every Debian font the project depends on.
. "$CLI_LIB"

DEJAVU=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
expect_status "info on DejaVu Sans" 0 "$KORRIN" info "$DEJAVU"
expect_grep "the PostScript name" "^PostScript name: DejaVuSans$" "$WORK/stdout"
expect_grep "the full name" "^Full name: DejaVu Sans$" "$WORK/stdout"
expect_grep "the notice, on one line" '^Notice: Copyright \(c\) 2003 by Bitstream, Inc\. All Rights Reserved\.\\nCopyright' "$WORK/stdout"
expect_grep "the type" "^Type: TrueType$" "$WORK/stdout"
[ "$(wc -l < "$WORK/stdout")" -eq 5 ] || { echo "FAIL: five lines"; cat "$WORK/stdout"; failures=$((failures+1)); }

expect_out "--json" '{"postScriptName": "IPAGothic", "fullName": "IPAGothic", "uniqueID": "IPAGothic Version 003.03", "notice": "Copyright(c) Information-technology Promotion Agency, Japan (IPA), 2003-2011. You must accept \"http://ipafont.ipa.go.jp/ipa_font_license_v1.html\" to use this product.", "type": "TrueType"}' \
  "$KORRIN" info --json /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf

expect_status "--glyphs" 0 "$KORRIN" info --glyphs "$DEJAVU"
expect_grep "glyph 3 is the space" "^3 space$" "$WORK/stdout"

printf 'not a font at all' > "$WORK/text.ttf"
expect_status "a file that is not a font" 1 "$KORRIN" info "$WORK/text.ttf"
expect_grep "the font error's text" "^korrin: $WORK/text.ttf: not a TrueType font$" "$WORK/stderr"
head -c 16 "$DEJAVU" > "$WORK/cut.ttf"
expect_status "a font cut short" 1 "$KORRIN" info "$WORK/cut.ttf"
expect_grep "the cut font's error" "incorrect TrueType file size$" "$WORK/stderr"
expect_status "a missing file" 1 "$KORRIN" info "$WORK/missing.ttf"
expect_grep "the missing file's error" "error accessing file$" "$WORK/stderr"
expect_status "--json and --glyphs together" 2 "$KORRIN" info --json --glyphs "$DEJAVU"
expect_status "no font" 2 "$KORRIN" info

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
