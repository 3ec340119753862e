# What the shell benchmarks share. Each sets runs and sources this:
#   . "$(dirname "$0")/bench_support.bash"
# median_ms COMMAND...: the median of runs wall-clock times of a command, in milliseconds.
median_ms() {
  local times=()
  for _ in $(seq 1 "$runs"); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "%.1f", a[int((NR + 1) / 2)] / 1000 }'
}
