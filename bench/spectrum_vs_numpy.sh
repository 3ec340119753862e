#!/usr/bin/env bash
# korvane-cli spectrum --json, the whole process, against a user's numpy script that reads the
# .dso, applies the same window and prints the same figures (bench/spectrum_numpy.py), side
# by side on a Dual Channel and a Single Channel capture of the simulated device. The goal:
# at most half the script's wall time.
#   bench/spectrum_vs_numpy.sh path/to/korvane-cli [runs]
set -euo pipefail
cli=$1
runs=${2:-7}
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -c 'import numpy' 2>/dev/null || { echo "spectrum_vs_numpy: python3-numpy is missing (scripts/setup installs it)"; exit 1; }
. "$here/bench_support.bash"

"$cli" capture --quiet --mode dual --rate 3.125MHz -o "$work/dual.dso"
"$cli" capture --quiet --mode single --rate 50MHz -o "$work/single.dso"
echo "spectrum --json against numpy (Blackman-Harris, the same figures), median of $runs runs:"
for capture in dual single; do
  ours=$(median_ms "$cli" spectrum --json "$work/$capture.dso")
  peer=$(median_ms /usr/bin/python3 "$here/spectrum_numpy.py" "$work/$capture.dso")
  printf '  %-6s korvane-cli %7s ms   numpy %7s ms   ' "$capture" "$ours" "$peer"
  awk -v o="$ours" -v p="$peer" 'BEGIN { printf "korvane-cli takes %.3f of its time\n", o / p }'
done
