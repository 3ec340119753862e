#!/usr/bin/env bash
# The instrument's page in headless Chromium: tests/cli/serve_page.sh path/to/korvane-cli
# Debian's Python, which has python3-selenium (scripts/setup installs it with chromium).
# Whole stacks for the leak checker of a sanitised build, so that what the decoder library
# and its Python keep for the life of the process is told apart from this program's own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
exec /usr/bin/python3 "$(dirname "$0")/serve_page.py" "$1"
