# korrin tables and korrin xlat over the tables of the build (whose every code the codec oracle checks).
. "$CLI_LIB"

expect_out "ShiftJIS ideographic space and hiragana a" "3000
3042" "$KORRIN" xlat --from 2 8140 82A0
expect_out "codes with 0x, a one-byte code, an unused code" "0041
005C
unmapped" "$KORRIN" xlat --from 2 0x41 5c 8000
expect_out "CNS in four bytes" "4E00" "$KORRIN" xlat --from 7 8EA1C4A1

expect_status "tables" 0 "$KORRIN" tables
cp "$WORK/stdout" "$WORK/tables"
expect_out "every national table, every one-byte table" "9 14" \
  awk -F'\t' '$2 == 1 && $1 >= 2 && $1 <= 10 {n++} $2 == 1 && $3 == 4 && ($1 == 1 || $1 >= 100) {o++} END {print n, o}' "$WORK/tables"
expect_grep "a line: from, to, format, entries, file, strings" \
  "^2	1	3	[0-9]+	.*/shiftjis\.xlt	ShiftJIS \(Microsoft code page 932\)	Windows-31J	Japanese	glibc iconv CP932$" \
  "$WORK/tables"

# --tables: a directory of our own first wins; an empty path finds nothing.
mkdir "$WORK/mine"
cp "$KORRIN_BUILD/share/korrin/tables/jisx0201.xlt" "$WORK/mine/"
expect_out "--tables searches in order" "$WORK/mine/jisx0201.xlt" \
  sh -c "'$KORRIN' tables --tables '$WORK/mine:$KORRIN_BUILD/share/korrin/tables' | awk -F'\t' '\$1 == 112 {print \$5; exit}'"
expect_status "no tables at all" 1 "$KORRIN" tables --tables "$WORK/nothing-here"
expect_grep "says where it looked" "no translation tables in $WORK/nothing-here" "$WORK/stderr"

expect_status "no table for the pair" 1 "$KORRIN" xlat --from 2 --to 3 8140
expect_grep "names both encodings" "no translation table from 2 \(ShiftJIS\) to 3 \(Big5\)" "$WORK/stderr"
expect_status "a code that is not hexadecimal" 2 "$KORRIN" xlat --from 2 81g0
expect_status "a code wider than 32 bits" 2 "$KORRIN" xlat --from 2 123456789
finish
