#!/usr/bin/env bash
# korvane-cli serve through its API: tests/cli/serve_api.sh path/to/korvane-cli
# Debian's Python, which has python3-websocket (scripts/setup installs it).
exec /usr/bin/python3 "$(dirname "$0")/serve_api.py" "$1"
