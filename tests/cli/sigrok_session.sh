#!/usr/bin/env bash
# korvane-cli's sigrok sessions (.sr) judged by sigrok-cli: a capture of each mode from the
# simulated device, exported whole and as a channel subset over a stretch, read back by sigrok
# (channel names and count, sample rate, sample counts) and compared sample for sample with
# the .dso's bytes: the bits of the logic inputs and the analogue values (code - 128).
#   tests/cli/sigrok_session.sh path/to/korvane-cli
cli=$1
. "$(dirname "$0")/test_support.bash" sigrok_session sigrok-cli python3

# expected FILE.dso MODE FIRST LAST CHANNELS...: the CSV lines sigrok should give for them.
expected() {
  python3 - "$@" <<'EOF'
import sys
dso, mode, first, last = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
area = memoryview(open(dso, "rb").read()[14:14 + 0xC0000])
words = area.cast("H") if mode == "logic16" else area  # the logic samples
columns = []
for name in sys.argv[5:]:
    if name in ("A", "B"):  # A: channel_a, or the whole trace of Single Channel
        codes = area[0x60000:] if name == "B" else area
        columns.append([str(c - 128) for c in codes[first:last + 1]])
    else:
        bit = int(name[1:])
        columns.append(["1" if w >> bit & 1 else "0" for w in words[first:last + 1]])
print("\n".join(map(",".join, zip(*columns))))
EOF
}

# compare FILE.sr FILE.dso MODE FIRST LAST CHANNELS: sigrok's CSV of those channels against
# the .dso (the logic inputs and the analogue channels are read separately: sigrok 0.5's CSV
# of both together is not to be trusted).
compare() {
  local sr=$1 dso=$2 mode=$3 first=$4 last=$5 channels=$6 names
  IFS=, read -ra names <<<"$channels"
  sigrok-cli -i "$sr" -C "$channels" -O csv 2>/dev/null | grep -E '^-?[0-9]' >"$work/got" || true
  expected "$dso" "$mode" "$first" "$last" "${names[@]}" >"$work/want"
  cmp -s "$work/got" "$work/want" ||
    fail "$sr: $channels of samples $first..$last differ from the .dso ($(wc -l <"$work/got") lines read)"
}

# show FILE.sr RATE NAMES LOGIC_SAMPLES ANALOG_SAMPLES: what sigrok-cli --show says (a count of
# 0: sigrok names no such count; "${4#0}" is then empty).
show() {
  local text names
  text=$(sigrok-cli -i "$1" --show 2>&1)
  grep -qx "Samplerate: $2" <<<"$text" || fail "$1: not $2 Hz: $text"
  names=$(sed -n 's/^- \(.*\): \(logic\|analog\)$/\1/p' <<<"$text" | paste -sd, -)
  [ "$names" = "$3" ] || fail "$1: channels $names, not $3"
  [ "$(sed -n 's/^Logic sample count: //p' <<<"$text")" = "${4#0}" ] || fail "$1: not $4 logic samples: $text"
  [ "$(sed -n 's/^Analog sample count: //p' <<<"$text")" = "${5#0}" ] || fail "$1: not $5 analogue samples: $text"
}

export_sr() {  # NAME.dso NAME.sr [OPTIONS]
  local from=$1 to=$2; shift 2
  "$cli" export "$work/$from" -o "$work/$to" "$@" || fail "export $to $*"
}

"$cli" capture --quiet -o "$work/logic16.dso" --mode logic16 --rate 12.5MHz --trigger a --pattern 0x0040 ||
  fail "capture logic16"
"$cli" capture --quiet -o "$work/mixed.dso" --mode mixed --rate 1.5625MHz --trigger b --level 10 || fail "capture mixed"
"$cli" capture --quiet -o "$work/dual.dso" --mode dual --trigger a --level 0 || fail "capture dual"
"$cli" capture --quiet -o "$work/single.dso" --mode single --rate 100MHz --trigger a --level 20 || fail "capture single"
all16=$(seq 0 15 | sed 's/^/D/' | paste -sd, -)
all8=$(seq 0 7 | sed 's/^/D/' | paste -sd, -)

echo "== 16 Bit Logic: every input over the whole capture, and D0 and D9 over a stretch"
export_sr logic16.dso logic16.sr
show "$work/logic16.sr" 12500000 "$all16" 393216 0
compare "$work/logic16.sr" "$work/logic16.dso" logic16 0 393215 "$all16"
export_sr logic16.dso part16.sr --channels d9,D0 --range 12345:22344
show "$work/part16.sr" 12500000 "D0,1,2,3,4,5,6,7,8,D9,10,11,12,13,14,15" 10000 0
grep -qx '; Channels (2/16): D0, D9' <<<"$(sigrok-cli -i "$work/part16.sr" -O csv 2>/dev/null)" ||
  fail "part16.sr: sigrok does not take exactly D0 and D9"
compare "$work/part16.sr" "$work/logic16.dso" logic16 12345 22344 D0,D9

echo "== Mixed Mode: whole, and D1, D6 and B over a stretch"
export_sr mixed.dso mixed.sr
show "$work/mixed.sr" 1562500 "$all8,B" 393216 393216
compare "$work/mixed.sr" "$work/mixed.dso" mixed 0 393215 "$all8"
compare "$work/mixed.sr" "$work/mixed.dso" mixed 0 393215 B
export_sr mixed.dso part8.sr --channels D6,b,D1 --range 1001:9000
show "$work/part8.sr" 1562500 "0,D1,2,3,4,5,D6,7,B" 8000 8000
compare "$work/part8.sr" "$work/mixed.dso" mixed 1001 9000 D1,D6
compare "$work/part8.sr" "$work/mixed.dso" mixed 1001 9000 B

echo "== Dual Channel and Single Channel"
export_sr dual.dso dual.sr
show "$work/dual.sr" 50000000 "A,B" 0 393216
compare "$work/dual.sr" "$work/dual.dso" dual 0 393215 A,B
export_sr dual.dso b.sr --channels B
show "$work/b.sr" 50000000 "B" 0 393216
export_sr single.dso single.sr
show "$work/single.sr" 100000000 "A" 0 786432
# A stretch across the end of channel_a.
export_sr single.dso part1.sr --range 393000:393999
compare "$work/part1.sr" "$work/single.dso" single 393000 393999 A

for left in "$work"/~kv*; do
  if [ -e "$left" ]; then fail "an export left $left"; fi
done

# Where SOURCE_DATE_EPOCH asks for it, the same capture gives the same archive, whenever it
# is written (the archive's times step every 2 s).
SOURCE_DATE_EPOCH=1700000000 "$cli" export "$work/dual.dso" -o "$work/first.sr"
sleep 2.1
SOURCE_DATE_EPOCH=1700000000 "$cli" export "$work/dual.dso" -o "$work/again.sr"
cmp -s "$work/first.sr" "$work/again.sr" || fail "two exports of one capture with SOURCE_DATE_EPOCH differ"

finish
