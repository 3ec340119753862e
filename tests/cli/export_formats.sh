#!/usr/bin/env bash
# korvane-cli export judged by the field's own readers: sigrok-cli reads the VCD and WAV files
# of a capture of each mode from the simulated device (channel names and count, sample rate,
# sample count, the exact logic bits against the .dso's bytes), GTKWave's vcd2fst takes the
# VCD with its real variables.
#   tests/cli/export_formats.sh path/to/korvane-cli
cli=$1
. "$(dirname "$0")/test_support.bash" export_formats sigrok-cli vcd2fst fst2vcd python3

# sigrok's VCD reader takes one sample per 10 ns unit of the time scale; downsample gives the
# capture's own rate back.
units() { case $1 in 0) echo 2 ;; 2) echo 8 ;; 5) echo 64 ;; esac; }

# bits FILE.dso MODE FIRST LAST CHANNELS...: the expected sigrok CSV lines of those inputs.
bits() {
  python3 - "$@" <<'EOF'
import sys
dso, mode, first, last = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
inputs = [int(c[1:]) for c in sys.argv[5:]]
area = open(dso, "rb").read()[14:14 + 0xC0000]
for k in range(first, last + 1):
    word = area[2 * k] | area[2 * k + 1] << 8 if mode == "logic16" else area[k]
    print(",".join(str(word >> b & 1) for b in inputs))
EOF
}

# sigrok_csv FILE [INPUT-OPTIONS]: sigrok-cli's CSV of the file, data lines only.
sigrok_csv() {
  sigrok-cli -i "$1" ${2:+-I "$2"} -O csv 2>/dev/null | grep -v '^;\|^META\|^logic\|^$' || true
}

capture() {  # NAME ARGS...
  local name=$1; shift
  "$cli" capture --quiet -o "$work/$name.dso" "$@" || fail "capture $name"
}

capture logic16 --mode logic16 --rate 12.5MHz --trigger a --pattern 0x0040 --pretrigger 3000
capture mixed --mode mixed --rate 1.5625MHz --trigger b --level 10 --pretrigger 100
capture dual --mode dual --trigger a --level 0
capture single --mode single --rate 100MHz --trigger a --level 20

echo "== VCD: 16 Bit Logic and Mixed Mode through sigrok-cli"
for row in "logic16 2 16" "mixed 5 8"; do
  set -- $row
  name=$1 rate=$2 inputs=$3 unit=$(units "$2")
  "$cli" export "$work/$name.dso" -o "$work/$name.vcd" || { fail "export $name.vcd"; continue; }
  show=$(sigrok-cli -i "$work/$name.vcd" --show 2>&1)
  grep -qx "Samplerate: 100000000" <<<"$show" || fail "$name.vcd: sigrok's rate is not 1 / 10 ns: $show"
  grep -qx "Channels: $inputs" <<<"$show" || fail "$name.vcd: not $inputs channels"
  names=$(grep -o '^- D[0-9]*' <<<"$show" | tr -d ' -' | paste -sd, -)
  want=$(seq 0 $((inputs - 1)) | sed 's/^/D/' | paste -sd, -)
  [ "$names" = "$want" ] || fail "$name.vcd: channels $names, not $want"
  rate_back=$(sigrok-cli -i "$work/$name.vcd" -I "vcd:downsample=$unit" --show 2>&1 | grep '^Samplerate')
  [ "$rate_back" = "Samplerate: $(python3 -c "print(int(50e6 / 2 ** $rate))")" ] || fail "$name.vcd: $rate_back"
  sigrok_csv "$work/$name.vcd" "vcd:downsample=$unit" >"$work/$name.bits"
  [ "$(wc -l <"$work/$name.bits")" -eq 393216 ] || fail "$name.vcd: $(wc -l <"$work/$name.bits") samples, not 393216"
  # The whole capture, bit for bit, against the .dso.
  bits "$work/$name.dso" "$name" 0 393215 $(seq 0 $((inputs - 1)) | sed 's/^/D/') >"$work/$name.want"
  cmp -s "$work/$name.bits" "$work/$name.want" || fail "$name.vcd: the logic bits differ from the .dso's bytes"
  vcd2fst "$work/$name.vcd" "$work/$name.fst" >/dev/null 2>&1 || fail "vcd2fst refused $name.vcd"
done
grep -q 'trigger at #24000 (sample 3000)' "$work/logic16.vcd" || fail "logic16.vcd does not mark the trigger"

echo "== VCD: a channel subset over a stretch"
"$cli" export "$work/logic16.dso" -o "$work/part.vcd" --channels d9,D0 --range 2990:3009 &&
  sigrok_csv "$work/part.vcd" "vcd:downsample=8" >"$work/part.bits" &&
  bits "$work/logic16.dso" logic16 2990 3009 D0 D9 >"$work/part.want" &&
  cmp -s "$work/part.bits" "$work/part.want" || fail "part.vcd: D0,D9 of samples 2990..3009 differ"
grep -c '^\$var wire' "$work/part.vcd" | grep -qx 2 || fail "part.vcd does not hold two inputs"
grep -q 'trigger at #80 (sample 3000)' "$work/part.vcd" || fail "part.vcd does not mark the trigger at its time"

echo "== VCD: analogue channels as real variables, through vcd2fst"
for row in "dual 2" "single 1" "mixed 1"; do
  set -- $row
  [ -e "$work/$1.vcd" ] || "$cli" export "$work/$1.dso" -o "$work/$1.vcd" || fail "export $1.vcd"
  vcd2fst "$work/$1.vcd" "$work/$1.fst" >/dev/null 2>&1 || { fail "vcd2fst refused $1.vcd"; continue; }
  reals=$(fst2vcd "$work/$1.fst" 2>/dev/null | grep -c '^\$var real' || true)
  [ "$reals" -eq "$2" ] || fail "$1.fst holds $reals real variables, not $2"
done
# The first value of A is code - 128.
first_a=$(python3 -c "import sys; print(open('$work/dual.dso','rb').read()[14] - 128)")
grep -q "^r$first_a !" "$work/dual.vcd" || fail "dual.vcd: A does not start at $first_a"

echo "== WAV through sigrok-cli"
for row in "dual 2 50000000 393216" "single 1 100000000 786432" "mixed 1 1562500 393216"; do
  set -- $row
  "$cli" export "$work/$1.dso" -o "$work/$1.wav" || { fail "export $1.wav"; continue; }
  show=$(sigrok-cli -i "$work/$1.wav" --show 2>&1)
  grep -qx "Channels: $2" <<<"$show" || fail "$1.wav: not $2 channels: $show"
  grep -qx "Samplerate: $3" <<<"$show" || fail "$1.wav: not $3 Hz"
  grep -qx "Analog sample count: $4" <<<"$show" || fail "$1.wav: not $4 samples"
done
python3 - "$work" <<'EOF' || fail "dual.wav does not hold the codes of A and B in turn"
import sys
work = sys.argv[1]
area = open(f"{work}/dual.dso", "rb").read()[14:14 + 0xC0000]
data = open(f"{work}/dual.wav", "rb").read()[44:]
want = bytes(b for k in range(0x60000) for b in (area[k], area[0x60000 + k]))
sys.exit(data != want)
EOF

echo "== refusals"
status=0
"$cli" export "$work/logic16.dso" -o "$work/none.wav" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && grep -q 'no analogue channel' "$work/err" || fail "a logic16 wav: status $status"
cp "$work/dual.dso" "$work/odd.dso"
printf '\007' | dd of="$work/odd.dso" bs=1 seek=13 conv=notrunc status=none
status=0
"$cli" export "$work/odd.dso" -o "$work/odd.vcd" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && grep -q 'mode 7' "$work/err" || fail "a mode-7 vcd: status $status"
status=0
"$cli" export "$work/dual.dso" -o "$work/bad.vcd" --channels A,D3 2>"$work/err" || status=$?
[ "$status" -eq 2 ] && grep -q "'D3' is not a channel" "$work/err" || fail "--channels D3 in dual: status $status"
status=0
"$cli" export "$work/dual.dso" -o "$work/bad.vcd" --range 500:500 2>"$work/err" || status=$?
[ "$status" -eq 2 ] && grep -q -- '--range' "$work/err" || fail "--range 500:500: status $status"
ls "$work" | grep -q '^none.wav$\|^odd.vcd$\|^bad.vcd$\|^~kv' && fail "a refused export left a file"

finish
