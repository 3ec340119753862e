#!/usr/bin/env bash
# The real korvane-cli on the simulated device: a capture of each mode into info, the CSV
# export against the file's own bytes, Ctrl+C and --timeout during a wait, the port
# registers, and the refusals of bad command lines and of files that are no capture.
#   tests/cli/end_to_end.sh path/to/korvane-cli
cli=$1
. "$(dirname "$0")/test_support.bash" cli_end_to_end python3

# expect STATUS COMMAND...: runs it with stdout and stderr in $work/out and $work/err.
expect() {
  local want=$1; shift
  local status=0
  "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] || { fail "$* ended with $status, not $want: $(head -c 400 "$work/err")"; return 1; }
}
expect_err() {  # TEXT: the last command's standard error holds it
  grep -qF -- "$1" "$work/err" || fail "no '$1' in: $(head -c 400 "$work/err")"
}

echo "== a capture of each mode into info --json"
expect 0 "$cli" capture --mode dual --trigger a --level 40 --pretrigger 5000 -o "$work/dual.dso" &&
  expect 0 "$cli" info --json "$work/dual.dso" && cp "$work/out" "$work/dual.json"
expect 0 "$cli" capture --mode single --rate 50MHz --trigger a --edge falling -o "$work/single.dso" --quiet &&
  expect 0 "$cli" info --json "$work/single.dso" && cp "$work/out" "$work/single.json"
expect 0 "$cli" capture --mode logic16 --rate 1.5625MHz --trigger a --pattern 0x0100 -o "$work/logic16.dso" &&
  expect 0 "$cli" info --json "$work/logic16.dso" && cp "$work/out" "$work/logic16.json"
expect 0 "$cli" capture --mode mixed --rate 3.125MHz --trigger b --level 20 -o "$work/mixed.dso" &&
  expect 0 "$cli" info --json "$work/mixed.dso" && cp "$work/out" "$work/mixed.json"

python3 - "$work" <<'EOF' || fail "the info figures"
import json, sys
work = sys.argv[1]
errors = []
def near(what, got, want, tolerance=0.005):
    if got is None or abs(got - want) > tolerance * abs(want):
        errors.append(f"{what}: {got}, expected {want} within {tolerance:.1%}")
def same(what, got, want):
    if got != want:
        errors.append(f"{what}: {got!r}, expected {want!r}")

def load(mode):
    with open(f"{work}/{mode}.json") as f:
        return json.load(f)

d = load("dual")
same("dual mode", (d["mode"], d["capture_mode"], d["samples"], d["sample_rate_hz"]), ("dual", 0, 393216, 50e6))
same("dual trigger", (d["trigger"]["source"], d["trigger"]["level"], d["trigger"]["trigger_value"], d["trigger"]["edge"]),
     ("a", 40, 167, "rising"))
same("dual pretrigger", d["pretrigger"]["samples"], 5000)
near("dual pretrigger time", d["pretrigger"]["time_s"], 1e-4)
same("dual channels", [c["channel"] for c in d["analogue"]], ["A", "B"])
a, b = d["analogue"]
near("A frequency", a["frequency_hz"], 1000)
near("B frequency", b["frequency_hz"], 2500)
near("A duty", a["duty_cycle"], 0.5, 0.02)
same("A relative levels", (a["relative"]["min"] < -90, a["relative"]["max"] > 90), (True, True))
same("dual has no logic", d["logic"], [])

s = load("single")
same("single", (s["mode"], s["samples"], s["sample_rate_hz"], s["trigger"]["edge"]), ("single", 786432, 50e6, "falling"))
near("single A frequency", s["analogue"][0]["frequency_hz"], 1000)

l = load("logic16")
same("logic16", (l["mode"], l["samples"], l["analogue"], len(l["logic"])), ("logic16", 393216, [], 16))
same("logic16 pattern", l["trigger"]["pattern"], 0x100)
for k in (0, 3, 6, 10):
    near(f"D{k} frequency", l["logic"][k]["frequency_hz"], 50000 / 2 ** k)
    near(f"D{k} duty", l["logic"][k]["duty_cycle"], 0.5, 0.01)
same("D15 toggles", l["logic"][15]["periodic"], False)

m = load("mixed")
same("mixed channels", ([c["channel"] for c in m["analogue"]], len(m["logic"])), (["B"], 8))
near("mixed B frequency", m["analogue"][0]["frequency_hz"], 2500)
near("mixed D2 frequency", m["logic"][2]["frequency_hz"], 12500)
same("mixed trigger level", (m["trigger"]["source"], m["trigger"]["level"]), ("b", 20))
if errors:
    print("\n".join(errors), file=sys.stderr)
    sys.exit(1)
EOF
[ "$(stat -c %s "$work/dual.dso")" -eq 786448 ] || fail "dual.dso is not 786448 bytes"

echo "== info as text"
expect 0 "$cli" info "$work/dual.dso" &&
  for text in "Dual Channel" "channel A, level 40 (code 167), rising edge" "1.000"; do
    grep -qF "$text" "$work/out" || fail "info text lacks '$text'"
  done

echo "== CSV export against the file's own bytes"
expect 0 "$cli" export "$work/mixed.dso" -o "$work/mixed.csv" &&
  python3 - "$work" <<'EOF' || fail "the CSV export"
import sys
work = sys.argv[1]
image = open(f"{work}/mixed.dso", "rb").read()
a, b = image[14:14 + 0x60000], image[14 + 0x60000:14 + 0xC0000]
want = "".join(f"{b[i]}," + ",".join(str(a[i] >> bit & 1) for bit in range(7, -1, -1)) + "\n" for i in range(0x60000))
if open(f"{work}/mixed.csv").read() != want:
    sys.exit("mixed.csv differs from the lines of mixed.dso")
EOF
expect 0 "$cli" export "$work/mixed.dso" -o - && cmp -s "$work/out" "$work/mixed.csv" || fail "export to - differs"
expect 2 "$cli" export "$work/mixed.dso" -o "$work/mixed.txt" && expect_err "--format"
[ ! -e "$work/mixed.txt" ] || fail "a refused export left a file"

echo "== Ctrl+C while waiting for a trigger that never comes"
# Level 127 lies above the sine's peak: no trigger.
"$cli" capture --trigger a --level 127 -o "$work/never.dso" --trace "$work/never.trace" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do grep -q '^0x379 in' "$work/never.trace" 2>/dev/null && break; sleep 0.1; done
sleep 0.5
kill -INT "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "Ctrl+C did not end the capture within 5 s"; }
status=0
wait "$pid" || status=$?
[ "$status" -eq 130 ] || fail "Ctrl+C ended the capture with $status, not 130"
[ ! -e "$work/never.dso" ] || fail "a cancelled capture wrote its file"
grep -q '^0x379 in' "$work/never.trace" || fail "the trace shows no status poll"
# The poll was the last thing on the port: no disarm, no read-out after the cancel.
tail -n 1 "$work/never.trace" | grep -q '^0x379 in' || fail "port accesses after the cancel: $(tail -n 1 "$work/never.trace")"
ls "$work" | grep -q '^~kv' && fail "a temporary file was left behind"

echo "== --timeout"
expect 124 "$cli" capture --trigger a --level 127 --timeout 0.6 -o "$work/late.dso" && expect_err "no trigger within 0.6 s"
[ ! -e "$work/late.dso" ] || fail "a timed-out capture wrote its file"

echo "== the port registers"
expect 0 "$cli" io && grep -qx 'control  0x[0-9a-f]*' "$work/out" || fail "io shows no control register: $(cat "$work/out")"
expect 0 "$cli" io --register 3 --value 0x10 --trace - &&
  [ "$(grep -c '^0x37' "$work/out")" -eq 13 ] || fail "a register write is not ten accesses and three reads"

echo "== bad command lines: status 2, the option named"
expect 2 "$cli" capture --mode quad -o "$work/x.dso" && expect_err "--mode"
expect 2 "$cli" capture --trigger a --level 200 -o "$work/x.dso" && expect_err "--level"
expect 2 "$cli" capture --mode single --rate 1.6MHz -o "$work/x.dso" && expect_err "--rate"
expect 2 "$cli" capture --trigger a && expect_err "--output"
expect 2 "$cli" && expect_err "subcommand"
expect 2 "$cli" captur -o "$work/x.dso" && expect_err "unknown command 'captur'; did you mean 'capture'?"
for empty in "capture -o" "export $work/dual.dso -o $work/x.csv --range" "io --data"; do
  expect 2 "$cli" $empty '' && expect_err "an empty one is none"
done
[ ! -e "$work/x.dso" ] || fail "a refused command line wrote a file"
for command in capture info export io; do expect 0 "$cli" "$command" --help; done
expect 0 "$cli" --version && grep -q 'korvane-cli [0-9]' "$work/out" || fail "--version"

echo "== files that are no capture"
expect 5 "$cli" info "$work/missing.dso" && expect_err "Could Not Open File" && expect_err "No such file"
expect 5 "$cli" info "$work" && expect_err "Is a directory"
head -c 1000 "$work/dual.dso" >"$work/short.dso"
expect 5 "$cli" info "$work/short.dso" && expect_err "Could Not Read From File" && expect_err "holds 1000 bytes"
expect 5 "$cli" export "$work/short.dso" -o "$work/short.csv"
[ ! -e "$work/short.csv" ] || fail "an export of a bad file left a file"

finish
