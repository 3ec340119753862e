#!/usr/bin/env bash
# The statistics of a run against the captures a second of Normal mode on the simulated
# device: capture --count takes captures as Normal does and measures every one into the
# statistics; statistics_bench gives what that measuring costs a capture. Goal: at most 5 %
# of Normal's captures a second.
#   bench/run_statistics.sh [path/to/korvane-cli]   (build/native's unless given; the
#   statistics_bench beside it)
set -euo pipefail
build=$(dirname "${1:-build/native/korvane-cli}")
count=20
for mode in dual mixed logic16; do
  trigger=(--trigger a --level 40)
  [ "$mode" = mixed ] && trigger=(--trigger b --level 20)
  [ "$mode" = logic16 ] && trigger=(--trigger a --pattern 0x0100)
  start=$(date +%s.%N)
  "$build/korvane-cli" capture --mode "$mode" "${trigger[@]}" --count "$count" -q >/dev/null
  end=$(date +%s.%N)
  per_second=$(python3 -c "print($count / ($end - $start))")
  code=$(python3 -c "print({'dual': 0, 'logic16': 2, 'mixed': 3}['$mode'])")
  cost_us=$("$build/statistics_bench" --benchmark_filter="BM_FiguresAndStatistics/$code\$" --benchmark_format=csv 2>/dev/null |
            awk -F, 'NR > 1 { print $4 }')
  python3 -c "
rate, cost = $per_second, $cost_us
share = rate * cost / 1e6
print(f'$mode: {rate:.2f} captures a second in Normal, statistics {cost:.0f} us a capture: {share:.2%} of them'
      f' ({\"within\" if share <= 0.05 else \"beyond\"} the 5 % goal)')"
done
