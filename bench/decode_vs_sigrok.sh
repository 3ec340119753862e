#!/usr/bin/env bash
# korvane-cli decode against sigrok-cli, side by side on the same captures: the simulated
# device's bus traffic (sim:bus), a whole 16 Bit Logic capture of 393,216 samples at 50 MHz
# (three frames of traffic) and at 1.5625 MHz (a hundred), decoded as UART, SPI and I2C; the
# peer reads the capture's .sr export. The goal is at most 1.5 times the peer's time for UART.
#   bench/decode_vs_sigrok.sh path/to/korvane-cli [runs]
set -euo pipefail
cli=$1
runs=${2:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v sigrok-cli >/dev/null || { echo "decode_vs_sigrok: sigrok-cli is missing (scripts/setup installs it)"; exit 1; }

. "$(dirname "$0")/bench_support.bash"

echo "decoding a whole 16 Bit Logic capture (393216 samples) of sim:bus, median of $runs runs:"
printf '  %-9s %-5s %12s %12s %8s\n' rate bus korvane-cli sigrok-cli ratio
for rate in 50MHz 1.5625MHz; do
  "$cli" capture --quiet --port sim:bus --mode logic16 --rate "$rate" --trigger none -o "$work/bus.dso"
  "$cli" export "$work/bus.dso" -o "$work/bus.sr"
  for stack in uart:rx=D0:tx=D1:baudrate=115200 spi:clk=D2:mosi=D3:miso=D4:cs=D5 i2c:scl=D6:sda=D7; do
    ours=$(median_ms "$cli" decode "$work/bus.dso" -P "$stack")
    peer=$(median_ms sigrok-cli -i "$work/bus.sr" -P "$stack" --protocol-decoder-samplenum)
    awk -v r="$rate" -v b="${stack%%:*}" -v o="$ours" -v p="$peer" \
      'BEGIN { printf "  %-9s %-5s %9.1f ms %9.1f ms %7.2fx\n", r, b, o, p, o / p }'
  done
done
