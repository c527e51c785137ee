# korrin crc32, korrin paths (how every search path is split), --help and usage errors.
. "$CLI_LIB"

printf abc > "$WORK/abc"
: > "$WORK/empty"
expect_out "crc32 of abc and of nothing" "352441c2  $WORK/abc
00000000  $WORK/empty" "$KORRIN" crc32 "$WORK/abc" "$WORK/empty"
expect_status "crc32 of a missing file" 1 "$KORRIN" crc32 "$WORK/missing"
expect_grep "the error names the file" "korrin: $WORK/missing: No such file" "$WORK/stderr"

expect_out "an empty element, quoted colons, an escaped quote, no empty last element" 'a

x:y
a"b' "$KORRIN" paths 'a::"x:y":a\"b:'
expect_out "an empty path has no elements" "" "$KORRIN" paths ''

expect_status "--help" 0 "$KORRIN" --help
expect_grep "--help lists the commands" "crc32" "$WORK/stdout"
expect_status "no subcommand" 2 "$KORRIN"
expect_status "an unknown subcommand" 2 "$KORRIN" frobnicate
finish
