#!/usr/bin/env bash
# Starts the simulated lidar and the console read-out of the live receivers; Ctrl-C stops both.
set -euo pipefail
build=${1:-build}
shift || true
"$build/tools/sim/tovik16-sim" --quiet &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT INT TERM
"$build/tools/monitor/tovik16-monitor" "$@"
