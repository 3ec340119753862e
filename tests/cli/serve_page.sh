#!/usr/bin/env bash
# The instrument's page in headless Chromium: tests/cli/serve_page.sh path/to/korvane-cli
# Debian's Python, which has python3-selenium (scripts/setup installs it with chromium).
exec /usr/bin/python3 "$(dirname "$0")/serve_page.py" "$1"
