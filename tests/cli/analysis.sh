#!/usr/bin/env bash
# Analysis through the real korvane-cli on the simulated device: the converters' linearity of
# channel B's triangle, a run of captures with its statistics, and runs that stop when a
# capture meets a condition (a decoded byte on sim:bus), run out their count, or are refused
# with the place of the mistake.
#   tests/cli/analysis.sh path/to/korvane-cli
cli=$1
. "$(dirname "$0")/test_support.bash" cli_analysis python3

expect() {  # STATUS COMMAND...: stdout and stderr in $work/out and $work/err
  local want=$1; shift
  local status=0
  "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] || { fail "$* ended with $status, not $want: $(head -c 400 "$work/err")"; return 1; }
}

echo "== the linearity of channel B's triangle: every judged code there, DNL and INL near 0"
expect 0 "$cli" capture --mode dual --trigger none -o "$work/d.dso" -q &&
  expect 0 "$cli" linearity "$work/d.dso" --channel B --json -o "$work/lin.svg" &&
  python3 - "$work/out" <<'EOF' || fail "the linearity of B"
import json, sys
b = json.load(open(sys.argv[1]))["channels"][0]["whole"]
assert b["signal"] == "triangle" and b["signal_detected"], b["signal"]
assert b["missing_codes"] == [], b["missing_codes"]
assert (b["first_judged_code"], b["last_judged_code"]) == (69, 187), (b["first_judged_code"], b["last_judged_code"])
assert abs(b["worst_dnl"]["lsb"]) < 0.05 and abs(b["worst_inl"]["lsb"]) < 0.05, (b["worst_dnl"], b["worst_inl"])
EOF
grep -q "<svg" "$work/lin.svg" || fail "the plot is no SVG"
# A plot over its own capture is refused before anything is written.
cp "$work/d.dso" "$work/d.png"
expect 2 "$cli" linearity "$work/d.png" -o "$work/d.png"
cmp -s "$work/d.dso" "$work/d.png" || fail "the capture was overwritten by its plot"
expect 0 "$cli" capture --mode single --trigger none -o "$work/s.dso" -q &&
  expect 0 "$cli" linearity "$work/s.dso" --json && python3 - "$work/out" <<'EOF' || fail "the two converters"
import json, sys
a = json.load(open(sys.argv[1]))["channels"][0]
assert abs(a["offset_codes"] - 4) < 0.1, a["offset_codes"]  # converter B reads 4 codes higher
assert abs(a["gain"] - 1) < 0.01, a["gain"]
assert a["converters"]["even"]["missing_codes"] == [] and a["converters"]["odd"]["missing_codes"] == []
EOF

echo "== capture --count: numbered files and the statistics of every capture"
expect 0 "$cli" capture --trigger a --level 40 --count 3 -o "$work/run-%02d.dso" --json -q &&
  python3 - "$work/out" <<'EOF' || fail "the statistics of a run"
import json, sys
d = json.load(open(sys.argv[1]))
s = {f["name"]: f for f in d["statistics"]["figures"]}
assert d["captures"] == 3 and d["statistics"]["captures"] == 3, d["captures"]
assert s["A.frequency"]["count"] == 3 and abs(s["A.frequency"]["mean"] - 1000) < 5, s["A.frequency"]
assert s["B.rise_time"]["std_dev"] is not None, s["B.rise_time"]
EOF
[ -f "$work/run-01.dso" ] && [ -f "$work/run-03.dso" ] && [ ! -e "$work/run-04.dso" ] || fail "the numbered files: $(ls "$work")"
expect 2 "$cli" capture --count 2 -o "$work/same.dso" && { grep -q "needs its number" "$work/err" || fail "one name for two captures"; }

echo "== --stop-when on sim:bus: a decoded byte stops the first capture that holds it"
expect 0 "$cli" capture --port sim:bus --mode logic16 --trigger none --count 4 -o "$work/hit-%d.dso" \
  --stop-when 'D3.edges == 0 or decode uart:rx=D0:baudrate=115200 rx-data /^4B$/' &&
  { grep -q "stopped at capture 1 by decode uart:rx=D0:baudrate=115200 rx-data /^4B\$/: uart rx-data '4B'" "$work/err" ||
    fail "the stop: $(cat "$work/err")"; }
[ -f "$work/hit-1.dso" ] && [ ! -e "$work/hit-2.dso" ] || fail "the capture that stopped the run: $(ls "$work")"
expect 3 "$cli" capture --port sim:bus --mode logic16 --trigger none --count 2 -o "$work/never.dso" -q \
  --stop-when 'decode uart:rx=D0:baudrate=115200 rx-data /ZZ/ or D0.edges < 1' &&
  { grep -q "no capture of 2 met the condition" "$work/err" && grep -q "Statistics over 2 captures" "$work/out" ||
    fail "an impossible condition: $(cat "$work/err")"; }
[ ! -e "$work/never.dso" ] || fail "a run that ran out wrote its file"

echo "== a condition that cannot be read is refused with its place, before the port"
expect 2 "$cli" capture --mode mixed --stop-when 'B.rms > 2 or A.frequency > 1010' -o "$work/x.dso" &&
  python3 - "$work/err" <<'EOF' || fail "the refusal's place: $(cat "$work/err")"
import sys
lines = open(sys.argv[1]).read().splitlines()
assert "Mixed Mode capture has no channel A (at column 14)" in lines[0], lines[0]
assert lines[1] == "  B.rms > 2 or A.frequency > 1010" and lines[2] == "  " + " " * 13 + "^", lines[1:3]
EOF
expect 2 "$cli" capture --stop-when 'M.rms > 20' -o "$work/x.dso" &&
  { grep -q "M is the math channel of the run: give its expression" "$work/err" || fail "M without --math"; }
expect 2 "$cli" capture --mode logic16 --count 2 --math A-B -o "$work/x-%d.dso" &&
  { grep -q "16 Bit Logic Analyser capture has neither" "$work/err" || fail "--math in 16 Bit Logic: $(cat "$work/err")"; }
[ ! -e "$work/x.dso" ] && [ ! -e "$work/x-1.dso" ] || fail "a refused run wrote a file"

echo "== the math channel in a condition and in the statistics"
# A - B of the simulated sine and triangle: an RMS of about 79 codes, above 20, below 200.
expect 3 "$cli" capture --count 2 --math A-B --stop-when 'M.rms > 200' --json -q &&
  python3 - "$work/out" <<'EOF' || fail "M's statistics: $(head -c 300 "$work/out")"
import json, sys
s = {f["name"]: f for f in json.load(open(sys.argv[1]))["statistics"]["figures"]}
assert s["M.rms"]["count"] == 2 and 60 < s["M.rms"]["mean"] < 100, s["M.rms"]
EOF
expect 0 "$cli" capture --count 2 --math 'A-B' --stop-when 'M.rms > 20' -o "$work/m.dso" &&
  { grep -q "stopped at capture 1 by M.rms > 20: M.rms = " "$work/err" || fail "M's condition: $(cat "$work/err")"; }
[ ! -e "$work/x.dso" ] || fail "a refused run wrote a file"
finish
