#!/usr/bin/env bash
# Starts the simulated lidar and the viewer, which connects at once; closing the viewer stops
# both. Extra arguments go to the viewer. Runs from the repository root, where the viewer finds
# the icons it loads at run time (Resources/).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
"$build/tools/sim/tovik16-sim" --quiet &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT INT TERM
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$build/app/tovik16-viewer" --connect "$@"
else
  echo "No display: running the viewer in a virtual X display (xvfb-run)." >&2
  xvfb-run -a -s "-screen 0 1920x1080x24" "$build/app/tovik16-viewer" --connect "$@"
fi
