# korrin send, probe, pfb2ascii and ascii85, against the virtual printer and
# the independent judges (t1ascii, Ghostscript's ASCII85Decode). Every network
# step runs under timeout, so a hung printer fails the test instead of
# stalling the run.
. "$CLI_LIB"
VPRINTER="$KORRIN_BUILD/korrin-vprinter"

# start_printer MODE: runs the printer in $WORK/MODE, sets PID and PORT
start_printer() {
  "$VPRINTER" --port 0 --dir "$WORK/$1" "--$1" >"$WORK/$1.port" 2>"$WORK/$1.log" &
  PID=$!
  PORT=""
  for _ in $(seq 100); do
    PORT=$(head -n 1 "$WORK/$1.port" 2>/dev/null)
    [ -n "$PORT" ] && break
    sleep 0.1
  done
  [ -n "$PORT" ] || { echo "FAIL: $1 printer did not start"; cat "$WORK/$1.log"; exit 1; }
}

stop_printer() {
  kill -TERM "$PID"
  wait "$PID"
  status=$?
  [ "$status" -eq 0 ] || { echo "FAIL: printer exit status $status after SIGTERM"; failures=$((failures+1)); }
}

start_printer ctrl-d
expect_out "probe of a control-D printer" "control-D" timeout 30 "$KORRIN" probe "127.0.0.1:$PORT"
expect_out "a job with a reply" "hello" timeout 30 "$KORRIN" send "127.0.0.1:$PORT" -e '(hello) print'
printf '(from a file) print\n' > "$WORK/job.ps"
expect_out "a file and text" "from a file and text" \
  timeout 30 "$KORRIN" send --ctrl-d "127.0.0.1:$PORT" "$WORK/job.ps" -e '( and text) print'
expect_out "standard input" "from stdin" sh -c "printf '(from stdin) print' | timeout 30 '$KORRIN' send --ctrl-d 127.0.0.1:$PORT -"
expect_status "a job with an error still ends" 0 timeout 30 "$KORRIN" send --ctrl-d "127.0.0.1:$PORT" -e 'nosuchop'
expect_grep "the error is reported as a printer does" 'Error: undefined; OffendingCommand: nosuchop' "$WORK/stdout"
stop_printer
expect_grep "one log line per job" 'job [0-9]+ from 127.0.0.1:[0-9]+: [0-9]+ bytes in, [0-9]+ bytes out, 0 pages, error: undefined' "$WORK/ctrl-d.log"

start_printer no-ctrl-d
expect_out "probe of a pass-through printer" "pass-through" timeout 30 "$KORRIN" probe "127.0.0.1:$PORT"
expect_out "pass-through reply ends at the marker" "hello<-eof->" \
  timeout 30 "$KORRIN" send --no-ctrl-d "127.0.0.1:$PORT" -e '(hello) print flush'
# A plain client that half-closes its side gets the job's output.
expect_out "nc -N" "hello" sh -c "printf '%%!\n(hello) print flush' | timeout 30 nc -N 127.0.0.1 $PORT"
stop_printer

expect_status "nothing listening" 1 timeout 30 "$KORRIN" send --ctrl-d --attempts 2 "127.0.0.1:1" -e 'x'
expect_grep "refused is code 3" 'could not connect to the printer \(code 3\)' "$WORK/stderr"
expect_status "an unknown printer" 1 timeout 30 "$KORRIN" probe no-such-printer.invalid
expect_grep "unknown name is code 1" "'no-such-printer.invalid' not found \(code 1\)" "$WORK/stderr"

FONT=/usr/share/fonts/X11/Type1/NimbusSans-Regular.pfb
if [ -f "$FONT" ] && command -v t1ascii >/dev/null; then
  # t1ascii writes lower-case digits
  "$KORRIN" pfb2ascii "$FONT" | tr 'A-F' 'a-f' > "$WORK/ours"
  t1ascii "$FONT" | tr 'A-F' 'a-f' > "$WORK/theirs"
  cmp -s "$WORK/ours" "$WORK/theirs" || { echo "FAIL: pfb2ascii differs from t1ascii"; failures=$((failures+1)); }
fi
printf 'not a pfb' > "$WORK/bad.pfb"
expect_status "pfb2ascii of a text file" 1 "$KORRIN" pfb2ascii "$WORK/bad.pfb"
expect_grep "PFB error" 'PFB format error. \(code 1\)' "$WORK/stderr"

head -c 5000 /dev/urandom > "$WORK/random"
"$KORRIN" ascii85 "$WORK/random" > "$WORK/random.a85"
timeout 30 gs -q -dSAFER -dNODISPLAY -dBATCH -dNOPAUSE --permit-file-read="$WORK/" \
  -c "/o (%stdout) (w) file def /i ($WORK/random.a85) (r) file /ASCII85Decode filter def /b 4096 string def { i b readstring exch o exch writestring not {exit} if } loop o flushfile" \
  > "$WORK/random.back"
cmp -s "$WORK/random" "$WORK/random.back" || { echo "FAIL: ascii85 does not decode back"; failures=$((failures+1)); }
finish
