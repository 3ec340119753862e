#!/usr/bin/env bash
# korvane-cli serve against hostile clients: tests/cli/serve_hostile.sh path/to/korvane-cli
# Debian's Python, which has python3-websocket (scripts/setup installs it).
# Whole stacks for the leak checker of a sanitised build, so that what the decoder library
# and its Python keep for the life of the process is told apart from this program's own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
exec /usr/bin/python3 "$(dirname "$0")/serve_hostile.py" "$1"
