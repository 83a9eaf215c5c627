#!/usr/bin/env bash
# Soak benchmark of the viewer: the simulated lidar streams, the viewer (under a virtual X display,
# Mesa's software renderer) connects and draws for DURATION seconds. Prints revolutions received,
# passed and drawn per second, the mean revolution pass and redraw times, the longest wait of a
# revolution for its redraw, the viewer's CPU and its resident memory over time.
#
# TOVIK16_TRAILS=N in the environment starts the viewer with a trail of N revolutions (1 to 20).
#
#   bench/viewer_soak.sh BUILD DURATION [simulator options...]
#   bench/viewer_soak.sh build 600 --rpm 1200
#   bench/viewer_soak.sh build 600 --dual
#   TOVIK16_TRAILS=10 bench/viewer_soak.sh build 600
set -euo pipefail
build=${1:?build dir}
duration=${2:?seconds}
shift 2
work=$(mktemp -d)
trap 'kill $viewer $sim $xvfb 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/tools/sim/tovik16-sim" --quiet "$@" &
sim=$!
viewer=""
xvfb-run -a -s "-screen 0 1280x720x24" "$build/app/tovik16-viewer" --connect \
  --perf-log "$work/perf.log" > "$work/viewer.out" 2>&1 &
xvfb=$!
viewer=""
for _ in $(seq 50); do
  viewer=$(pgrep -x -P "$xvfb" tovik16-viewer || true)
  [ -n "$viewer" ] && break
  sleep 0.2
done
[ -n "$viewer" ] || { echo "the viewer did not start" >&2; cat "$work/viewer.out" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$viewer/stat"; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$viewer/status"; }
echo "# trail of ${TOVIK16_TRAILS:-1} revolution(s); load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# t_s  rss_kB  cpu_%"
start=$(date +%s.%N)
lastCpu=$(cpu)
lastT=$start
for ((t = 10; t <= duration; t += 10)); do
  sleep 10
  now=$(date +%s.%N)
  c=$(cpu)
  awk -v t="$t" -v r="$(rss)" -v c0="$lastCpu" -v c1="$c" -v hz="$ticks" -v t0="$lastT" \
    -v t1="$now" 'BEGIN { printf "%5d  %7d  %5.1f\n", t, r, (c1 - c0) / hz / (t1 - t0) * 100 }'
  lastCpu=$c
  lastT=$now
done

echo "# perf log (last lines): seconds received passed drawn pass_ms redraw_ms max_wait_ms"
tail -n 3 "$work/perf.log"
awk -v d="$duration" 'NR > 1 && $1 > 5 {
    if (!n) { t0 = $1; r0 = $2; p0 = $3; f0 = $4 }
    n++; t1 = $1; r1 = $2; p1 = $3; f1 = $4; pass += $5; redraw += $6
    if ($7 > wait) wait = $7
    if ($7 > 150) late++ }
  END {
    span = t1 - t0
    printf "received %.2f rev/s, passed %.2f rev/s, drawn %.2f frames/s\n",
      (r1 - r0) / span, (p1 - p0) / span, (f1 - f0) / span
    printf "mean pass %.2f ms, mean redraw %.2f ms, longest wait for a redraw %.1f ms\n",
      pass / n, redraw / n, wait
    printf "seconds in which a revolution waited over 150 ms for its redraw: %d of %d\n", late, n
    printf "revolutions received %d, passed %d (all reach the table and counters: %s)\n",
      r1, p1, (r1 - p1 <= 2 ? "yes" : "no")
  }' "$work/perf.log"
