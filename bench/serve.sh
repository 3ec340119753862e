#!/usr/bin/env bash
# korvane-cli serve: the server under load, several captures drawn at once, then the page in
# headless Chromium: the Window view, then the scope view drawn in the page.
#   bench/serve.sh path/to/korvane-cli
set -euo pipefail
here=$(dirname "$0")
/usr/bin/python3 "$here/serve_bench.py" "$1"
/usr/bin/python3 "$here/serve_gzip_bench.py" "$1"
/usr/bin/python3 "$here/serve_views_bench.py" "$1"
/usr/bin/python3 "$here/serve_page_bench.py" "$1"
/usr/bin/python3 "$here/serve_scope_bench.py" "$1"
