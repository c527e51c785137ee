# korrin send, probe, pfb2ascii and ascii85, the virtual printer in both
# control-D modes, and the filters against t1ascii and Ghostscript. Every
# network step runs under timeout: a hung printer fails, not stalls, the run.
. "$CLI_LIB"
VPRINTER="$KORRIN_BUILD/korrin-vprinter"

# start_printer NAME MODE [OPTION...]: a printer in $WORK/NAME for at most two
# minutes; sets PID, PORT, DIR, LOG, MODE
start_printer() {
  DIR="$WORK/$1" LOG="$WORK/$1.log" MODE=$2; shift 2
  timeout 120 "$VPRINTER" --port 0 --dir "$DIR" "--$MODE" "$@" >"$DIR.port" 2>"$LOG" &
  PID=$!
  PORT=""
  for _ in $(seq 100); do
    PORT=$(head -n 1 "$DIR.port" 2>/dev/null)
    [ -n "$PORT" ] && break
    sleep 0.1
  done
  [ -n "$PORT" ] || { echo "FAIL: $MODE printer did not start"; cat "$LOG"; exit 1; }
}

stop_printer() {
  kill -TERM "$PID"
  expect_status "printer exit status after SIGTERM" 0 wait "$PID"
}

# job ARG...: korrin send to the running printer in its mode, without a probe
job() { timeout 30 "$KORRIN" send "--$MODE" "127.0.0.1:$PORT" "$@"; }

start_printer main ctrl-d --disk-size 8 --pages png
expect_out "probe of a control-D printer" "control-D" timeout 30 "$KORRIN" probe "127.0.0.1:$PORT"
expect_out "a job with a reply, after a probe" "hello" timeout 30 "$KORRIN" send "127.0.0.1:$PORT" -e '(hello) print'
printf '(from a file) print\n' > "$WORK/job.ps"
expect_out "a file, standard input and text" "from a file, stdin and text" sh -c \
  "printf '(, stdin) print' | timeout 30 '$KORRIN' send --ctrl-d 127.0.0.1:$PORT '$WORK/job.ps' - -e '( and text) print'"
expect_status "a job with an error still ends" 0 job -e 'nosuchop'
expect_grep "the error is reported as a printer does" 'Error: undefined; OffendingCommand: nosuchop' "$WORK/stdout"

job -e '/KorrinLocal 1 def /Helvetica findfont /KorrinLocalFont exch definefont pop' >/dev/null
job -e 'true (0) startjob pop /Helvetica findfont dup length dict copy dup /FontName /KorrinTestFont put
        /KorrinTestFont exch definefont pop' >/dev/null
expect_out "what a job defines is gone unless it left the encapsulation" "false
false
/KorrinTestFont" job -e 'userdict /KorrinLocal known == FontDirectory /KorrinLocalFont known ==
                         /KorrinTestFont findfont /FontName get =='

# A font stored as a disk download stores it: a copy loop that takes the rest of the job.
cat > "$WORK/diskjob" <<'EOF'
%!
true (0) startjob pop /fd (fonts/KorrinDiskFont) (w) file def /buff 128 string def
{ currentfile buff readstring { fd exch writestring }
  { dup length 0 gt {fd exch writestring} {pop} ifelse fd closefile exit } ifelse } bind loop
%!PS-AdobeFont-1.0: KorrinDiskFont
/FontType 1 def
EOF
timeout 30 nc -N 127.0.0.1 "$PORT" < "$WORK/diskjob" >/dev/null
expect_out "the queries a property job makes about disks and their fonts" "1
8192
true
%disk0%fonts/KorrinDiskFont
%!PS-AdobeFont-1.0: KorrinDiskFont" job -e '/n 0 def /size 0 def /free 0 def
  { dup (%disk) anchorsearch { pop pop currentdevparams dup /Writeable get {
    /n n 1 add def dup /LogicalSize get size add /size exch def /Free get free add /free exch def
  } { pop } ifelse } { pop pop } ifelse } 256 string devforall
  n == size == free 0 gt == (%*%fonts/*) { = } 128 string filenameforall
  (%disk0%fonts/KorrinDiskFont) (r) file 100 string readline pop ='
expect_status "the font file on the disk" 0 sh -c "tail -n 2 '$WORK/diskjob' | cmp -s - '$DIR/disk/fonts/KorrinDiskFont'"
# Resources written under Resource/ are found by name.
job -e '(Resource/CMap/KorrinTest-H) (w) file dup (/CIDInit /ProcSet findresource begin 12 dict begin
  begincmap /CMapName /KorrinTest-H def /CMapType 1 def 1 begincodespacerange <00> <FF>
  endcodespacerange endcmap CMapName currentdict /CMap defineresource pop end end\n) writestring closefile'
expect_out "a CMap on the disk is a resource" "KorrinTest-H" job -e '(KorrinTest*) { = } 128 string /CMap resourceforall'
job -e '{(fonts/KorrinDiskFont) deletefile} stopped pop {(%disk0%Resource/CMap/KorrinTest-H) deletefile} stopped pop'
expect_status "the deleted font is gone" 0 [ ! -e "$DIR/disk/fonts/KorrinDiskFont" ]
expect_status "the deleted CMap is gone" 0 [ ! -e "$DIR/disk/Resource/CMap/KorrinTest-H" ]
# Initialising the disk takes what jobs stored and keeps the printer's own resources.
job -e '(fonts/A) (w) file closefile (Resource/CIDFont/B) (w) file closefile'
expect_out "initializedisk" "false
true" job -e 'true (0) startjob pop statusdict begin 0 1 initializedisk end (fonts/*) { = } 128 string filenameforall
              (Resource/CIDFont/B) status == /UniJIS-UCS2-H /CMap resourcestatus =='
job -e '/Helvetica findfont 24 scalefont setfont 72 72 moveto (page one) show showpage'
expect_status "a page is a file" 0 [ -f "$DIR/pages/page-00001.png" ]
# A printer reset: leave the encapsulation and quit the interpreter.
job -e 'true (0) startjob pop systemdict /quit get exec' >/dev/null
expect_out "a job after a reset" "back" job -e '(back) print'
stop_printer
expect_grep "one log line per job" 'job [0-9]+ from 127.0.0.1:[0-9]+: [0-9]+ bytes in, [0-9]+ bytes out, 0 pages, error: undefined' "$LOG"
expect_grep "pages are counted" ' 1 page, ' "$LOG"
expect_grep "the interpreter was restarted" 'restarting' "$LOG"

start_printer passthrough no-ctrl-d
expect_out "probe of a pass-through printer" "pass-through" timeout 30 "$KORRIN" probe "127.0.0.1:$PORT"
expect_out "a failed job's reply: its error, the marker, nothing after" "before%%[ Error: undefined; \
OffendingCommand: nosuchoperator ]%%
<-eof->" job -e '(before) print nosuchoperator (after) print'
expect_out "the next job runs; the reply ends at the marker" "3
<-eof->" job -e '1 2 add == flush'
# A plain client that half-closes its side gets the job's output.
expect_out "nc -N" "hello" sh -c "printf '%%!\n(hello) print flush' | timeout 30 nc -N 127.0.0.1 $PORT"
stop_printer

# Writing over one of Ghostscript's own resources leaves Ghostscript's copy alone.
GSRES=$(dirname "$(ls -d /usr/share/ghostscript/*/Resource/Init | head -n 1)")
mkdir -p "$WORK/gsres/CMap"
for category in "$GSRES"/*; do
  [ "${category##*/}" = CMap ] || ln -s "$category" "$WORK/gsres/"
done
printf 'built in\n' > "$WORK/gsres/CMap/KorrinBuiltin-H"
start_printer builtin ctrl-d --gs-resources "$WORK/gsres"
expect_out "read through the link" "built in" job -e '(Resource/CMap/KorrinBuiltin-H) (r) file 100 string readline pop print'
job -e '(%disk0%Resource/CMap/KorrinBuiltin-H) (w) file dup (downloaded\n) writestring closefile'
expect_out "Ghostscript's copy" "built in" cat "$WORK/gsres/CMap/KorrinBuiltin-H"
expect_out "the disk's copy" "downloaded" cat "$DIR/disk/Resource/CMap/KorrinBuiltin-H"
stop_printer

expect_status "nothing listening" 1 timeout 30 "$KORRIN" send --ctrl-d --attempts 2 "127.0.0.1:1" -e 'x'
expect_grep "refused is code 3" 'could not connect to the printer \(code 3\)' "$WORK/stderr"
expect_status "an unknown printer" 1 timeout 30 "$KORRIN" probe no-such-printer.invalid
expect_grep "unknown name is code 1" "'no-such-printer.invalid' not found \(code 1\)" "$WORK/stderr"
for bad in 127.0.0.1:abc 127.0.0.1:70000 127.0.0.1: :9100; do
  expect_status "a malformed printer address: $bad" 2 "$KORRIN" send "$bad" -e x
done

FONT=/usr/share/fonts/X11/Type1/NimbusSans-Regular.pfb
if [ -f "$FONT" ] && command -v t1ascii >/dev/null; then
  # t1ascii writes lower-case digits
  "$KORRIN" pfb2ascii "$FONT" | tr 'A-F' 'a-f' > "$WORK/ours"
  t1ascii "$FONT" | tr 'A-F' 'a-f' > "$WORK/theirs"
  expect_status "pfb2ascii as t1ascii" 0 cmp -s "$WORK/ours" "$WORK/theirs"
fi
printf 'not a pfb' > "$WORK/bad.pfb"
expect_status "pfb2ascii of a text file" 1 "$KORRIN" pfb2ascii "$WORK/bad.pfb"
expect_grep "PFB error" 'PFB format error. \(code 1\)' "$WORK/stderr"

# Random bytes with a run of zeros, which ASCII85 writes as z.
{ head -c 3000 /dev/urandom; head -c 100 /dev/zero; head -c 2001 /dev/urandom; } > "$WORK/random"
"$KORRIN" ascii85 "$WORK/random" > "$WORK/random.a85"
timeout 30 gs -q -dSAFER -dNODISPLAY -dBATCH -dNOPAUSE --permit-file-read="$WORK/" \
  -c "/o (%stdout) (w) file def /i ($WORK/random.a85) (r) file /ASCII85Decode filter def /b 4096 string def { i b readstring exch o exch writestring not {exit} if } loop o flushfile" \
  > "$WORK/random.back"
expect_status "ascii85 decodes back in Ghostscript" 0 cmp -s "$WORK/random" "$WORK/random.back"
finish
