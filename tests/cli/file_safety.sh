#!/usr/bin/env bash
# korvane-cli trusted with files: devices, FIFOs, descriptors, links and protected files are
# written as the system means them; the input is never overwritten; capture checks its
# outputs before it touches the port; an interrupted or failed write leaves the old file and
# no temporary file; damaged headers are named; the timeout bounds the wait for the trigger.
#   tests/cli/file_safety.sh path/to/korvane-cli
cli=$(realpath "$1")
. "$(dirname "$0")/test_support.bash" file_safety python3 sigrok-cli

expect() {  # STATUS COMMAND...: stdout and stderr in $work/out and $work/err
  local want=$1; shift
  local status=0
  "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] || { fail "$* ended with $status, not $want: $(head -c 400 "$work/err")"; return 1; }
}
expect_err() { grep -qF -- "$1" "$work/err" || fail "no '$1' in: $(head -c 400 "$work/err")"; }
temporaries() { find "$work" -name '~kv*' | head -1; }
as_root() { [ "$(id -u)" -eq 0 ]; }

cd "$work"
"$cli" capture --quiet --trigger none -o a.dso || fail "capture a.dso"
"$cli" export a.dso -o ref.csv || fail "export ref.csv"

echo "== devices, FIFOs and descriptors are written in place"
if as_root; then
  mknod null c 1 3
  expect 0 "$cli" export a.dso -o null --format csv && [ -c null ] || fail "the device was replaced"
fi
mkfifo fifo
cat fifo >fifo.csv &
expect 0 "$cli" export a.dso -o fifo --format csv
wait $! && cmp -s fifo.csv ref.csv || fail "the FIFO's reader did not get the CSV"
[ -p fifo ] || fail "the FIFO was replaced"
expect 0 "$cli" capture --quiet --trigger none -o b.dso --trace >(wc -l >trace.lines)
for _ in $(seq 50); do [ -s trace.lines ] && break; sleep 0.1; done
[ "$(cat trace.lines 2>/dev/null)" -gt 5000000 ] || fail "--trace /dev/fd/N got $(cat trace.lines 2>/dev/null) lines"
expect 0 "$cli" export a.dso -o /dev/stdout --format csv && cmp -s out ref.csv || fail "-o /dev/stdout"

echo "== links and protected files"
echo old >real.csv && ln -s real.csv link.csv
expect 0 "$cli" export a.dso -o link.csv
[ -L link.csv ] && cmp -s real.csv ref.csv || fail "a link was not kept, or its file not replaced"
echo old >ro.csv && chmod 444 ro.csv
expect 5 "$cli" export a.dso -o ro.csv && expect_err "ro.csv: Permission denied"
[ "$(cat ro.csv)" = old ] || fail "a read-only file was changed"
echo old >one.csv && ln one.csv two.csv
expect 0 "$cli" export a.dso -o one.csv && cmp -s two.csv ref.csv || fail "the other hard link kept the old bytes"
[ "$(stat -c %i one.csv)" = "$(stat -c %i two.csv)" ] || fail "a hard link was broken"
if as_root; then
  echo old >theirs.csv && chown nobody:nogroup theirs.csv && chmod 640 theirs.csv
  expect 0 "$cli" export a.dso -o theirs.csv
  [ "$(stat -c '%U:%G %a' theirs.csv)" = "nobody:nogroup 640" ] || fail "owner or mode lost: $(stat -c '%U:%G %a' theirs.csv)"
fi

echo "== a capture is read from standard input; every path the system takes is written"
expect 0 "$cli" export - -o stdin.csv <a.dso && cmp -s stdin.csv ref.csv || fail "export - from standard input"
deep=$(printf 'folder-of-a-long-name-%02d/' $(seq 1 60))
mkdir -p "$deep" && expect 0 "$cli" export a.dso -o "$deep/x.csv" && cmp -s "$deep/x.csv" ref.csv || fail "a long path"

echo "== the input is never an output"
ln a.dso same.png && cp a.dso a.copy
expect 2 "$cli" render a.dso -o same.png && expect_err "is the input file"
ln -s a.dso same.csv
expect 2 "$cli" export "./a.dso" -o same.csv && cmp -s a.dso a.copy || fail "the input was touched"
expect 2 "$cli" export a.dso --format csv -o a.dso && expect_err "a.dso is the input file"
expect 2 "$cli" export a.dso --format csv -o x.vcd && expect_err "says vcd"
[ ! -e x.vcd ] || fail "a name was written with another format's bytes"

echo "== capture refuses a bad output before it touches the port"
expect 5 "$cli" capture --trigger none -o nodir/x.dso --trace - &&
  expect_err "Could Not Open File (error 9, level 5, save_dso_structure): nodir/x.dso: No such file or directory"
[ ! -s out ] || fail "the port was touched: $(head -1 out)"
expect 2 "$cli" capture --trigger none -o x.dso -o ./x.dso && expect_err "the same file"

echo "== one capture, many formats, each by its name"
expect 0 "$cli" capture --quiet --trigger a --level 10 -o run.dso -o run.sr -o run.png -o run.csv
"$cli" export run.dso -o run-ref.csv && cmp -s run.csv run-ref.csv || fail "capture -o run.csv is not the CSV"
sigrok-cli -i run.sr --show 2>&1 | grep -q 'Samplerate: 50000000' || fail "sigrok-cli does not read run.sr"
[ "$(head -c 8 run.png | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "run.png is no PNG"

echo "== an interrupted picture leaves the old file and no temporary file"
echo old >big.png
"$cli" render a.dso -o big.png --size 12000x9000 &
pid=$!
# Once the unnamed temporary file is open, the picture is being made.
for _ in $(seq 100); do ls -l "/proc/$pid/fd" 2>/dev/null | grep -q '(deleted)' && break; sleep 0.05; done
kill -TERM "$pid"
wait "$pid" && fail "the render was not interrupted (too fast to test)"
[ "$(cat big.png)" = old ] || fail "the old picture was changed"
[ -z "$(temporaries)" ] || fail "a temporary file was left: $(temporaries)"

echo "== nothing but the trace goes into the trace, also with standard error closed"
"$cli" capture --trigger none -o c.dso --trace c.trace 2>&- || fail "capture with standard error closed"
grep -qv '^0x' c.trace && fail "the trace holds: $(grep -v '^0x' c.trace | head -1)"

echo "== a trace onto a full file system ends with the file error; the capture is kept"
if as_root && mkdir full && mount -t tmpfs -o size=256k tmpfs full 2>/dev/null; then
  echo old >full/t.trace
  expect 5 "$cli" capture --quiet --trigger none -o kept.dso --trace full/t.trace &&
    expect_err "full/t.trace: No space left on device"
  [ "$(cat full/t.trace)" = old ] || fail "the old trace was changed"
  [ "$(stat -c %s kept.dso)" -eq 786448 ] || fail "the capture was not written"
  # A capture whose every file fails is kept all the same.
  TMPDIR=$work expect 5 "$cli" capture --quiet --trigger none -o full/x.sr && expect_err "the capture is kept in $work/"
  [ "$(stat -c %s korvane-capture-*.dso)" -eq 786448 ] || fail "no copy of the capture was kept"
  umount full
fi

echo "== names that are no text, headers that are no capture"
cp a.dso $'\xff.dso'
expect 0 "$cli" info --json $'\xff.dso' &&
  python3 -c 'import json, sys; assert json.load(open(sys.argv[1]))["file"] == "\\xFF.dso"' out || fail "the JSON"
cp a.dso bad.dso && printf '\x36' | dd of=bad.dso bs=1 seek=13 conv=notrunc 2>/dev/null
expect 1 "$cli" info bad.dso && expect_err "bad.dso: not a capture this program wrote, or a damaged one: mode 54"
grep -q '^Trigger' out || fail "info shows nothing of a damaged header"
for f in csv vcd wav sr; do expect 1 "$cli" export bad.dso -o "bad.$f"; done
expect 1 "$cli" render bad.dso -o bad.png
ls bad.* | grep -qv 'bad.dso' && fail "a damaged header gave a file: $(ls bad.*)"

echo "== the timeout bounds the wait for the trigger only"
expect 0 "$cli" capture --quiet --trigger none --rate 1.5625MHz --timeout 0.1 -o t.dso
expect 0 "$cli" capture --quiet --trigger a --level 0 --rate 1.5625MHz --timeout 0.1 -o t.dso
expect 0 "$cli" capture --quiet --trigger a --level 0 --timeout 1e10 -o t.dso

finish
