# Helpers for the CLI tests: sourced by every tests/cli/*.sh.
set -u
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

# expect_out "what" EXPECTED cmd...: stdout of cmd must equal EXPECTED
expect_out() {
  what=$1 expected=$2; shift 2
  actual=$("$@" 2>"$WORK/stderr") || { echo "FAIL: $what: exit $? ($(cat "$WORK/stderr"))"; failures=$((failures+1)); return; }
  if [ "$actual" != "$expected" ]; then
    printf 'FAIL: %s\n--- expected\n%s\n--- actual\n%s\n' "$what" "$expected" "$actual"
    failures=$((failures+1))
  fi
}

# expect_status "what" STATUS cmd...: cmd must exit with STATUS
expect_status() {
  what=$1 want=$2; shift 2
  "$@" >"$WORK/stdout" 2>"$WORK/stderr"
  got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, wanted $want"; cat "$WORK/stderr"
    failures=$((failures+1))
  fi
}

# expect_grep "what" PATTERN FILE: FILE must contain a line matching PATTERN
expect_grep() {
  if ! grep -q -E -- "$2" "$3"; then
    echo "FAIL: $1: no line matching '$2' in:"; cat "$3"
    failures=$((failures+1))
  fi
}

finish() {
  [ "$failures" -eq 0 ] && echo "ok" && exit 0 || { echo "$failures failure(s)"; exit 1; }
}
