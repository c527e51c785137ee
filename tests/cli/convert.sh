# korrin convert: a Type 42 font under the font's own or a given name, to a
# file or standard output; refusals that leave the output alone. Ghostscript
# renders converted fonts, long tables allowed or not, in gs_judge.py.
. "$CLI_LIB"

DEJAVU=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

expect_status "convert DejaVu Sans" 0 "$KORRIN" convert "$DEJAVU" -o "$WORK/dv.t42"
expect_grep "the font's own name" "^/FontName /DejaVuSans def$" "$WORK/dv.t42"

"$KORRIN" convert "$DEJAVU" -o - > "$WORK/stdout.t42" 2>"$WORK/stderr"
cmp -s "$WORK/dv.t42" "$WORK/stdout.t42" || { echo "FAIL: -o - writes the same font"; failures=$((failures+1)); }

expect_status "--name and --encoding" 0 "$KORRIN" convert "$DEJAVU" --name My-Font --encoding 100 -o "$WORK/named.t42"
expect_grep "the given name" "^/FontName /My-Font def$" "$WORK/named.t42"
expect_grep "Windows-1252 0x80 is the euro" "^dup 128 /Euro put$" "$WORK/named.t42"

# Refusals exit with 1, name the file and the error, and create nothing.
printf 'not a font at all' > "$WORK/text.ttf"
expect_status "a file that is not a font" 1 "$KORRIN" convert "$WORK/text.ttf" -o "$WORK/none.t42"
expect_grep "the font error" "^korrin: $WORK/text.ttf: font error 12: not a TrueType font$" "$WORK/stderr"
[ -e "$WORK/none.t42" ] && { echo "FAIL: a refused font leaves an output file"; failures=$((failures+1)); }

echo keep > "$WORK/kept.t42"
expect_status "an encoding without a table" 1 "$KORRIN" convert "$DEJAVU" --encoding 99 -o "$WORK/kept.t42"
expect_grep "the conversion error" "^korrin: $DEJAVU: conversion error 0: no translation table from the requested encoding to Unicode \(encoding 99 in .*\)$" "$WORK/stderr"
[ "$(cat "$WORK/kept.t42")" = keep ] || { echo "FAIL: a refusal overwrote the output"; failures=$((failures+1)); }

expect_status "a font with long tables" 1 "$KORRIN" convert /usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf -o "$WORK/droid.t42"
expect_grep "error 3" "^korrin: .*: conversion error 3: a table other than 'glyf' is longer than 65534 bytes" "$WORK/stderr"

expect_status "an output that cannot be created" 1 "$KORRIN" convert "$DEJAVU" -o "$WORK/no/such/dir.t42"
expect_grep "the output error" "^korrin: $WORK/no/such/dir.t42: cannot create the output file: " "$WORK/stderr"
if [ -w /dev/full ]; then
  expect_status "a full disk" 1 "$KORRIN" convert "$DEJAVU" -o /dev/full
  expect_grep "the write error" "^korrin: /dev/full: cannot write the output file: " "$WORK/stderr"
fi
expect_status "no output named" 2 "$KORRIN" convert "$DEJAVU"
finish
