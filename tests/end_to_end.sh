#!/usr/bin/env bash
# End to end: the real programs under Wine on the X display of the test run, driven by keys.
#   tests/end_to_end.sh korvane-sim.exe korvane.exe PORT_DRIVER.dll
# The port driver DLL has the InpOut32 interface with the simulated capture hardware behind
# it; korvane.exe runs once without it and once with it beside a copy of the program.
set -euo pipefail
sim=$1
real=$2
driver=$3
here=$(cd "$(dirname "$0")/.." && pwd)
shots=$here/build/screenshots
mkdir -p "$shots"
run=$here/scripts/wine-run

fail() {
  echo "end_to_end: $*" >&2
  echo "end_to_end: windows on the display:" >&2
  xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sed 's/^/  /' >&2 || true
  import -window root "$shots/e2e-failure.png" 2>/dev/null && echo "end_to_end: screenshot $shots/e2e-failure.png" >&2
  exit 1
}

# Waits for a window whose name matches, prints its id.
wait_window() {
  local pattern=$1 seconds=${2:-60} id
  for _ in $(seq 1 $((seconds * 5))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

wait_gone() {
  local pattern=$1 seconds=${2:-30}
  for _ in $(seq 1 $((seconds * 5))); do
    xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

# Starts a program once the wine server of the one before has gone: a program that starts in
# the moment a server shuts down (three seconds after the last program ended) can hang
# before its first window.
start_program() {
  WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} timeout 30 wineserver -w || true
  "$run" "$1" &
}

press() {  # window keys...
  local id=$1; shift
  xdotool windowactivate --sync "$id" >/dev/null 2>&1 || xdotool windowfocus --sync "$id" >/dev/null 2>&1 || true
  xdotool key --clearmodifiers "$@"
}

# Blue pixels in a screenshot: the drawn traces.
blue_pixels() {
  convert "$1" -fill black +opaque 'rgb(0,0,255)' -fill white -opaque 'rgb(0,0,255)' -format '%[fx:int(mean*w*h)]' info:
}

# A whole capture in the main window: Ctrl+C, Start Capture, the progress dialog comes and
# goes, traces on screen; then Alt+F4 and exit status 0.
capture_and_close() {  # main-window pid program screenshot
  local main=$1 pid=$2 program=$3 shot=$4 settings blue status=0
  press "$main" ctrl+c
  settings=$(wait_window '^DSO Capture Settings$' 20) || fail "$program: Ctrl+C did not open the capture settings"
  press "$settings" Return  # Start Capture, the default button
  wait_window '^DSO Data Capture$' 10 >/dev/null || true
  wait_gone '^DSO Data Capture$' 60 || fail "$program: the capture did not end"
  sleep 1
  import -window root "$shot"
  blue=$(blue_pixels "$shot")
  [ "$blue" -gt 2000 ] || fail "$program: no traces on screen after the capture ($blue blue pixels)"

  press "$main" alt+F4
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "$program ended with status $status, not 0"
}

echo "== korvane-sim.exe: start, About with Ctrl+A, a capture with Ctrl+C, close"
start_program "$sim"
pid=$!
main=$(wait_window '^Korvane$' 90) || fail "the main window did not appear"
import -window root "$shots/e2e-start.png"

press "$main" ctrl+a
about=$(wait_window '^About$' 20) || fail "Ctrl+A did not open the About box"
press "$about" Return
wait_gone '^About$' || fail "the About box did not close"

capture_and_close "$main" "$pid" korvane-sim.exe "$shots/e2e-capture.png"

echo "== korvane.exe with no port access: the fatal report, status 10"
[ -e "$(dirname "$real")/$(basename "$driver")" ] && fail "a port driver lies beside $real"
start_program "$real"
pid=$!
box=$(wait_window '^Fatal Error - Program Halted$' 60) || fail "no fatal report from korvane.exe"
import -window root "$shots/e2e-no-port.png"
xdotool search --name '^Korvane$' >/dev/null 2>&1 && fail "a main window exists before the port check"
press "$box" Return
status=0
wait "$pid" || status=$?
[ "$status" -eq 10 ] || fail "korvane.exe ended with status $status, not 10"

echo "== korvane.exe through the InpOut32 port driver: a capture with Ctrl+C, close"
beside=$(dirname "$real")/e2e-port-driver
rm -rf "$beside" && mkdir -p "$beside"
cp "$real" "$driver" "$beside/"
start_program "$beside/$(basename "$real")"
pid=$!
main=$(wait_window '^Korvane$' 90) || fail "korvane.exe with the port driver: the main window did not appear"
capture_and_close "$main" "$pid" "korvane.exe with the port driver" "$shots/e2e-port-driver-capture.png"

echo "end_to_end: passed (screenshots in $shots)"
