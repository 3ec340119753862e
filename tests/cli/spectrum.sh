#!/usr/bin/env bash
# The spectrum's figures against an independent numpy reference on synthetic captures, and
# on the simulated device: A's sine against a four-parameter sine fit, B's triangle, the
# interleaving spur of a Single Channel capture and what offset correction does to it; math
# and XY through the real binary.
#   tests/cli/spectrum.sh path/to/korvane-cli
cli=$1
. "$(dirname "$0")/test_support.bash" cli_spectrum python3
/usr/bin/python3 -c "import numpy" 2>/dev/null || { echo "cli_spectrum: python3-numpy is missing (scripts/setup installs it)" >&2; exit 1; }
/usr/bin/python3 "$(dirname "$0")/spectrum_reference.py" "$cli" "$work" || fail "the spectrum's figures"
finish
