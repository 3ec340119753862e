# What the shell tests of korvane-cli share. Each takes the binary as its argument, sets
# cli=$1 and sources this with its name and the tools it needs:
#   . "$(dirname "$0")/test_support.bash" NAME TOOL...
# It makes work (a folder removed at the end), counts failures with fail, and ends with
# finish.
set -euo pipefail
test_name=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$test_name: FAILED: $*" >&2; failures=$((failures + 1)); }
for tool in "$@"; do
  command -v "$tool" >/dev/null || { echo "$test_name: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$test_name: $failures failure(s)" >&2
    exit 1
  fi
  echo "$test_name: passed"
}
