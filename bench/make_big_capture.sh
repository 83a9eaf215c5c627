#!/bin/sh
# Writes the ~1 GB capture that bench_open_capture opens: 800,000 point packets of the simulated
# lidar (1,248-byte records, plus one device packet per simulated second) into /tmp, then reads it
# once so that it sits in the page cache.
#
#   bench/make_big_capture.sh [BUILD_DIR] [FILE]
#   BUILD_DIR/bench/bench_open_capture   (TOVIK_BIG_CAPTURE=FILE when not the default)
set -eu
build=${1:-build}
file=${2:-/tmp/tovik16_800k.pcap}
"$build/tools/sim/tovik16-sim" --single --pcap "$file" --packets 800000 --with-device-packets \
  --quiet
cat "$file" > /dev/null
ls -l "$file"
