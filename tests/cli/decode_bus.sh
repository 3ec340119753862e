#!/usr/bin/env bash
# korvane-cli decode on the simulated device's bus traffic (sim:bus): each bus's payload
# found; the annotations held side by side with sigrok-cli's on the same capture's .sr export,
# class by class, for UART, SPI and I2C (and I2C in Mixed Mode, one byte a sample); refusals;
# render --decode adding rows under a picture that stays as it was.
#   tests/cli/decode_bus.sh path/to/korvane-cli
cli=$1
. "$(dirname "$0")/test_support.bash" decode_bus sigrok-cli python3 convert compare
# Whole stacks for the leak checker of a sanitised build, so that what the decoder library
# and its Python keep for the life of the process is told apart from this program's own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"

"$cli" capture --quiet --port sim:bus --mode logic16 --trigger none -o "$work/bus.dso"
"$cli" capture --quiet --port sim:bus --mode mixed --rate 12.5MHz --trigger none -o "$work/mixed.dso"
"$cli" export "$work/bus.dso" -o "$work/bus.sr"
"$cli" export "$work/mixed.dso" -o "$work/mixed.sr"

# ---- The payload of each bus: at least two whole frames of "Korvane" in the capture ----
payload() {  # payload FILE STACK LINE-PATTERN
  "$cli" decode "$1" -P "$2" >"$work/out.txt" || { fail "decode $2 exited $?"; return; }
  grep -qE "$3" "$work/out.txt" || fail "decode $2 does not say $3: $(tail -4 "$work/out.txt")"
}
payload "$work/bus.dso" uart:rx=D0:baudrate=115200 '^uart  rx  [0-9]+ bytes: ".*KorvaneKorvane'
payload "$work/bus.dso" uart:rx=D1:baudrate=115200 '^uart  rx  [0-9]+ bytes: ".*KorvaneKorvane'
payload "$work/bus.dso" spi:clk=D2:mosi=D3:miso=D4:cs=D5 '^spi  mosi  [0-9]+ bytes: ".*KorvaneKorvane'
payload "$work/bus.dso" spi:clk=D2:mosi=D3:miso=D4:cs=D5 '^spi  miso  [0-9]+ bytes: ".*KORVANEKORVANE'
payload "$work/bus.dso" i2c:scl=D6:sda=D7 '^i2c  data-write  [0-9]+ bytes: ".*KorvaneKorvane'
payload "$work/bus.dso" i2c:scl=D6:sda=D7 'i2c  address-write  Address write: 50$'
payload "$work/mixed.dso" uart:rx=D0:baudrate=115200:format=ascii '  uart  rx-data  K$'

# ---- The same annotations as sigrok-cli: ranges and texts in order, then class by class ----
side_by_side() {  # side_by_side FILE.dso FILE.sr STACK
  python3 - "$cli" "$@" <<'EOF' || fail "decode $3 differs from sigrok-cli"
import re, subprocess, sys
cli, dso, sr, stack = sys.argv[1:5]
decoder = stack.split(":")[0]

def ours(*extra):
    out = subprocess.run([cli, "decode", dso, "-P", stack, *extra], capture_output=True, text=True, check=True).stdout
    rows = []
    for line in out.splitlines():
        m = re.match(r"^(\d+)-(\d+)  .+?  (\S+)  (\S+)  (.*)$", line)
        if m:
            rows.append((int(m[1]), int(m[2]), m[4], m[5]))
    return rows

def peer(*extra):
    out = subprocess.run(["sigrok-cli", "-i", sr, "-P", stack, "--protocol-decoder-samplenum", *extra],
                         capture_output=True, text=True, check=True).stdout
    rows = []
    for line in out.splitlines():
        m = re.match(rf"^(\d+)-(\d+) {decoder}-1: (.*)$", line)
        if not m:
            sys.exit(f"sigrok-cli wrote {line!r}")
        rows.append((int(m[1]), int(m[2]), m[3]))
    return rows

def show(what, a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            print(f"{what}: annotation {i}: korvane-cli {x}, sigrok-cli {y}", file=sys.stderr)
            break
    print(f"{what}: {len(a)} annotations against {len(b)}", file=sys.stderr)

everything = ours()
mine = [(s, e, t) for s, e, _, t in everything]
theirs = peer()
same = mine == theirs and len(mine) > 100
if not same:
    show(stack, mine, theirs)
for name in sorted({c for _, _, c, _ in everything}):
    mine = [(s, e, t) for s, e, c, t in everything if c == name]
    theirs = peer("-A", f"{decoder}={name}")
    if mine != theirs:
        show(f"{stack} -A {decoder}={name}", mine, theirs)
        same = False
sys.exit(0 if same else 1)
EOF
}
side_by_side "$work/bus.dso" "$work/bus.sr" uart:rx=D0:tx=D1:baudrate=115200
side_by_side "$work/bus.dso" "$work/bus.sr" spi:clk=D2:mosi=D3:miso=D4:cs=D5
side_by_side "$work/bus.dso" "$work/bus.sr" i2c:scl=D6:sda=D7
side_by_side "$work/mixed.dso" "$work/mixed.sr" i2c:scl=D6:sda=D7

# ---- Refusals: exit 2 naming the mistake; 1 for a capture without logic inputs ----
refused() {  # refused STATUS WORDS ARGS...
  local status=$1 words=$2
  shift 2
  local got=0
  "$cli" decode "$@" >"$work/out.txt" 2>"$work/err.txt" || got=$?
  [ "$got" -eq "$status" ] || fail "decode $* exited $got, not $status"
  grep -qF -- "$words" "$work/err.txt" || fail "decode $* says $(cat "$work/err.txt"), not $words"
  [ ! -s "$work/out.txt" ] || fail "decode $* printed annotations"
}
refused 2 "no decoder named 'uartx'" "$work/bus.dso" -P uartx:rx=D0
# A Python module that is no decoder never reaches the library, which would import it.
refused 2 "no decoder named 'this'" "$work/bus.dso" -P this
grep -q "Beautiful is better" "$work/out.txt" "$work/err.txt" && fail "decode -P this imported Python's this"
refused 1 "No matching in-/output when stacking spiflash onto i2c" "$work/bus.dso" -P i2c:scl=D6:sda=D7,spiflash
refused 1 "No matching in-/output when stacking uart onto uart" "$work/bus.dso" -P uart:rx=D0,uart
refused 2 "the channel sda (SDA) is required" "$work/bus.dso" -P i2c:scl=D6
# A decoder's exception is one line naming it, its traceback only with --verbose.
refused 1 "spi: ValueError: negative shift count" "$work/bus.dso" -P spi:clk=D2:mosi=D3:wordsize=0
# A stacked decoder's exception, which the library only reports, ends the decoding too.
refused 1 "mxc6225xu: AttributeError:" "$work/bus.dso" -P i2c:scl=D6:sda=D7,mxc6225xu
! grep -qE 'Traceback|File "' "$work/err.txt" || fail "a decoder's exception shows its traceback: $(head -3 "$work/err.txt")"
"$cli" decode "$work/bus.dso" -P spi:clk=D2:mosi=D3:wordsize=0 --verbose 2>"$work/err.txt" >/dev/null || true
grep -q "Traceback" "$work/err.txt" || fail "decode --verbose shows no traceback"
refused 2 "'speed' is neither an option nor a channel" "$work/bus.dso" -P uart:rx=D0:speed=9600
refused 2 "'fast' is not a whole number" "$work/bus.dso" -P uart:rx=D0:baudrate=fast
refused 2 "has the logic inputs D0..D7" "$work/mixed.dso" -P i2c:scl=D6:sda=D9
"$cli" capture --quiet --trigger none -o "$work/dual.dso"
refused 1 "has no logic inputs" "$work/dual.dso" -P uart:rx=D0

# ---- A range keeps the capture's sample numbers: once the decoder has synced, its
# annotations are the whole capture's that lie in the range ----
"$cli" decode "$work/bus.dso" -P uart:rx=D0:baudrate=115200 >"$work/whole.txt"
"$cli" decode "$work/bus.dso" -P uart:rx=D0:baudrate=115200 --range 170000:300000 >"$work/part.txt" ||
  fail "decode --range 170000:300000 exited $?"
python3 - "$work/whole.txt" "$work/part.txt" <<'EOF' || fail "decode --range differs from the whole capture's annotations"
import re, sys
def annotations(path):
    return [(int(m[1]), int(m[2]), m[3]) for m in re.finditer(r"^(\d+)-(\d+)  \S+ \S+  (.*)$", open(path).read(), re.M)]
whole, part = annotations(sys.argv[1]), annotations(sys.argv[2])
synced = min(s for s, _, _ in part) if part else None
inside = [a for a in whole if synced is not None and a[0] >= synced and a[1] <= 300000]
sys.exit(0 if len(part) > 50 and synced >= 170000 and [a for a in part if a[1] <= 300000] == inside else 1)
EOF
# -A as sigrok-cli takes it: decoders separated by commas, and repeated.
"$cli" decode "$work/bus.dso" -P uart:rx=D0:baudrate=115200 -P i2c:scl=D6:sda=D7 -A uart=rx-data,i2c=address-write \
  >"$work/both.txt" || fail "decode -A uart=rx-data,i2c=address-write exited $?"
[ "$(grep -cE '^[0-9]+-[0-9]+  .*  (uart  rx-data|i2c  address-write)  ' "$work/both.txt")" -gt 10 ] &&
  ! grep -qE '^[0-9]+-[0-9]+  .*  (uart  rx-start|i2c  data-write)  ' "$work/both.txt" ||
  fail "decode -A uart=rx-data,i2c=address-write shows $(grep -c . "$work/both.txt") lines of other classes"
# Line breaks of a text stay on its line: spiflash's status register runs over several. A
# flash's "read status register" on SPI (D2 clock, D3 MOSI, D4 MISO, D5 select), in the samples
# of a 16 Bit Logic capture.
python3 - "$work/bus.dso" "$work/flash.dso" <<'EOF'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
CLK, MOSI, MISO, CS = 4, 8, 16, 32
lines = [CS] * 1000
for mosi, miso in ((0x05, 0xFF), (0xFF, 0x9C)):
    for bit in range(7, -1, -1):
        level = (MOSI if mosi >> bit & 1 else 0) | (MISO if miso >> bit & 1 else 0)
        lines += [level] * 4 + [level | CLK] * 4
lines += [0] * 4 + [CS] * 100
for k, level in enumerate(lines):
    image[14 + 2 * k], image[15 + 2 * k] = level, 0
open(sys.argv[2], "wb").write(image)
EOF
"$cli" decode "$work/flash.dso" -P spi:clk=D2:mosi=D3:miso=D4:cs=D5,spiflash -A spiflash >"$work/flash.txt"
grep -q 'progress\.\\nInternal write enable' "$work/flash.txt" &&
  ! grep -qvE '^[0-9]+-[0-9]+  ' "$work/flash.txt" ||
  fail "the status register's text is not one line with \\n: $(head -c 300 "$work/flash.txt")"
"$cli" decode "$work/flash.dso" -P spi:clk=D2:mosi=D3:miso=D4:cs=D5,spiflash -A spiflash --json >"$work/flash.json"
grep -q 'progress\.\\nInternal' "$work/flash.json" || fail "decode --json changed the status register's text"

# ---- render --decode: rows under the picture, which stays pixel for pixel ----
"$cli" render "$work/bus.dso" --size 800x600 -o "$work/plain.png"
"$cli" render "$work/bus.dso" --size 800x600 -o "$work/rows.png" \
  --decode uart:rx=D0:baudrate=115200 --decode i2c:scl=D6:sda=D7
read -r width height < <(identify -format '%w %h\n' "$work/rows.png")
[ "$width" -eq 800 ] && [ "$height" -gt 600 ] || fail "render --decode drew ${width}x$height, not 800 wide and taller than 600"
convert "$work/rows.png" -crop 800x600+0+0 +repage "$work/top.png"
moved=$(compare -metric AE "$work/plain.png" "$work/top.png" null: 2>&1 || true)
[ "$moved" = 0 ] || fail "render --decode moved $moved pixels of the window's picture"
inked=$(convert "$work/rows.png" -crop "800x$((height - 600))+0+600" +repage -fill black +opaque white \
  -format '%[fx:int(mean*w*h)]' info:)
[ "$((width * (height - 600) - inked))" -gt 2000 ] || fail "the rows under the picture are nearly empty"
# -A as decode takes it: fewer rows.
"$cli" render "$work/bus.dso" --size 800x600 -o "$work/rows-a.png" --decode uart:rx=D0:baudrate=115200 \
  --decode i2c:scl=D6:sda=D7 -A uart=rx-data,i2c=address-write
read -r width height_a < <(identify -format '%w %h\n' "$work/rows-a.png")
[ "$height_a" -lt "$height" ] || fail "render -A drew as many rows as without it"

finish
