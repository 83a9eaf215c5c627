#!/usr/bin/env bash
# Runs every fuzz target for a bounded time; any crash, leak or sanitizer report fails the run.
set -euo pipefail
build=${1:?build dir}
seconds=${2:-60}
status=0
mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets found in $build/fuzz" >&2
  exit 1
fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus="$build/fuzz/corpus-$name"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  if ! "$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/fuzz/$name-" \
       "$corpus" > "$build/fuzz/$name.log" 2>&1; then
    echo "FAILED: $name (log: $build/fuzz/$name.log)"
    tail -n 40 "$build/fuzz/$name.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|Done [0-9]+ runs' "$build/fuzz/$name.log" | tail -n 1
  fi
done
exit $status
