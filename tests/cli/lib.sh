# Helpers for the CLI tests: sourced by every tests/cli/*.sh.
set -u
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $1"; failures=$((failures+1)); }

# expect_out "what" EXPECTED cmd...: stdout of cmd must equal EXPECTED
expect_out() {
  what=$1 expected=$2; shift 2
  actual=$("$@" 2>"$WORK/stderr") || { fail "$what: exit $? ($(cat "$WORK/stderr"))"; return; }
  [ "$actual" = "$expected" ] || fail "$(printf '%s\n--- expected\n%s\n--- actual\n%s' "$what" "$expected" "$actual")"
}

# expect_status "what" STATUS cmd...: cmd must exit with STATUS
expect_status() {
  what=$1 want=$2; shift 2
  "$@" >"$WORK/stdout" 2>"$WORK/stderr"
  got=$?
  [ "$got" = "$want" ] || fail "$what: exit $got, wanted $want
$(cat "$WORK/stderr")"
}

# expect_grep "what" PATTERN FILE: FILE must contain a line matching PATTERN
expect_grep() {
  grep -q -E -- "$2" "$3" || fail "$1: no line matching '$2' in:
$(cat "$3")"
}

finish() {
  [ "$failures" -eq 0 ] && echo "ok" && exit 0 || { echo "$failures failure(s)"; exit 1; }
}
