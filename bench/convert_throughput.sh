#!/usr/bin/env bash
# End-to-end throughput of tovik16-convert: wall time of the real program on captures of the
# simulated lidar that sit in the page cache, beside two anchors measured in the same run: reading
# the file from the page cache (cat) and libpcap's read loop over it (pcap_read_loop). CSV goes to
# /dev/null; PCD and PLY files (one per revolution) to a scratch folder in DIR, removed at the end.
#
#   bench/convert_throughput.sh BUILD [RUNS] [DIR]
#   bench/convert_throughput.sh build-release 5 /tmp
#
# BUILD must hold tovik16-sim, tovik16-convert and bench/pcap_read_loop (make bench builds them,
# Release). The captures (200,000 point packets each, dual and single return, 600 rpm; 253 MB
# each) are written to DIR once and kept. Every line runs RUNS times; the table gives the best,
# median and worst wall time and the rate of the best run. Other work on the machine slows the
# figures down: the load average is printed before and after.
set -euo pipefail
build=${1:?build dir}
runs=${2:-5}
dir=${3:-/tmp}
sim=$build/tools/sim/tovik16-sim
convert=$build/tools/convert/tovik16-convert
pcaploop=$build/bench/pcap_read_loop
for exe in "$sim" "$convert" "$pcaploop"; do
  [ -x "$exe" ] || { echo "missing $exe (make bench)" >&2; exit 1; }
done

packets=200000
dual=$dir/tovik16-bench-dual-$packets.pcap
single=$dir/tovik16-bench-single-$packets.pcap
[ -s "$dual" ] || "$sim" --dual --pcap "$dual" --packets "$packets" --quiet
[ -s "$single" ] || "$sim" --single --pcap "$single" --packets "$packets" --quiet
cat "$dual" "$single" > /dev/null

# Points of the CSV runs: the revolutions they write, counted once.
points() { "$convert" --stats "$@" | awk -F': ' '/^points:/ {print $2}'; }
csvDual=(--sensor Tovik16-2 --frames 300 "$dual")
csvSingle=(--sensor Tovik16-1 --frames 600 "$single")
dualPoints=$(points "${csvDual[@]}")
singlePoints=$(points "${csvSingle[@]}")
cloudDual=(--sensor Tovik16-2 --frames 100 "$dual")
cloudPoints=$(points "${cloudDual[@]}")
clouds=$(mktemp -d "$dir/tovik16-bench-clouds.XXXXXX")
trap 'rm -rf "$clouds"' EXIT

seconds() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" > /dev/null
  t1=$(date +%s%N)
  echo "$(((t1 - t0) / 1000000))"
}

# row LABEL COUNT UNIT COMMAND...: RUNS timed runs of COMMAND; COUNT UNIT per run.
row() {
  local label=$1 count=$2 unit=$3
  shift 3
  local times=()
  for ((r = 0; r < runs; r++)); do times+=("$(seconds "$@")"); done
  printf '%s\n' "${times[@]}" | sort -n | awk -v label="$label" -v n="$count" -v unit="$unit" '
    { t[NR] = $1 }
    END {
      best = t[1]; worst = t[NR]; median = t[int((NR + 1) / 2)]
      if (best < 1) best = 1
      printf "| %s | %.3f | %.3f | %.3f | %\047.0f %s/s |\n", label, t[1] / 1000, median / 1000,
        worst / 1000, n / (best / 1000), unit
    }'
}

echo "# $(uptime)"
echo "# $runs runs each; $packets point packets per capture; CSV to /dev/null, clouds to $dir"
echo "| run | best s | median s | worst s | rate (best) |"
echo "|---|---|---|---|---|"
row "page-cache read of the dual capture (cat)" "$packets" packets cat "$dual"
row "libpcap read loop, dual capture (pcap_next_ex)" "$packets" packets "$pcaploop" "$dual"
row "--stats dual return, --threads 0 (one thread)" "$packets" packets \
  "$convert" --stats --sensor Tovik16-2 --threads 0 "$dual"
row "--stats dual return, --threads 1" "$packets" packets \
  "$convert" --stats --sensor Tovik16-2 --threads 1 "$dual"
row "--stats dual return (default threads)" "$packets" packets \
  "$convert" --stats --sensor Tovik16-2 "$dual"
row "--stats single return (default threads)" "$packets" packets \
  "$convert" --stats --sensor Tovik16-1 "$single"
row "CSV dual return, 300 revolutions, --threads 0" "$dualPoints" points \
  "$convert" --threads 0 -o /dev/null "${csvDual[@]}"
row "CSV dual return, 300 revolutions (default threads)" "$dualPoints" points \
  "$convert" -o /dev/null "${csvDual[@]}"
row "CSV single return, 600 revolutions (default threads)" "$singlePoints" points \
  "$convert" -o /dev/null "${csvSingle[@]}"
row "PCD dual return, 100 revolutions (default threads)" "$cloudPoints" points \
  "$convert" --format pcd -o "$clouds/" "${cloudDual[@]}"
row "PLY dual return, 100 revolutions (default threads)" "$cloudPoints" points \
  "$convert" --format ply -o "$clouds/" "${cloudDual[@]}"
echo "# $(uptime)"
