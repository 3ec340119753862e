#!/usr/bin/env bash
# korvane-cli's VCD export against the peer, side by side on the same capture: sigrok-cli
# turning the capture's CSV into a VCD. The goal is to be faster than the peer.
#   bench/vcd_vs_sigrok.sh path/to/korvane-cli [runs]
set -euo pipefail
cli=$1
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v sigrok-cli >/dev/null || { echo "vcd_vs_sigrok: sigrok-cli is missing (scripts/setup installs it)"; exit 1; }

# A 16 Bit Logic capture of the simulated device's counter, and the same capture as CSV.
"$cli" capture --quiet --mode logic16 --rate 50MHz --trigger none -o "$work/capture.dso"
"$cli" export "$work/capture.dso" -o "$work/capture.csv"

. "$(dirname "$0")/bench_support.bash"

ours=$(median_ms "$cli" export "$work/capture.dso" -o "$work/ours.vcd")
peer=$(median_ms sigrok-cli -i "$work/capture.csv" \
  -I csv:header=false:column_formats=16l:samplerate=50000000 -o "$work/peer.vcd")
[ -s "$work/peer.vcd" ] && [ -s "$work/ours.vcd" ] || { echo "vcd_vs_sigrok: a VCD was not written"; exit 1; }
echo "VCD of a 16 Bit Logic capture (393216 samples), median of $runs runs:"
echo "  korvane-cli export capture.dso -o capture.vcd   $ours ms"
echo "  sigrok-cli -i capture.csv ... -o capture.vcd     $peer ms"
awk -v o="$ours" -v p="$peer" 'BEGIN { printf "  korvane-cli takes %.3f of the peer'"'"'s time (%.1fx faster)\n", o / p, p / o }'
