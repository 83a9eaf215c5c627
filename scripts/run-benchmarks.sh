#!/usr/bin/env bash
# Runs every benchmark executable; figures go to the README by hand, with this command.
set -euo pipefail
build=${1:?build dir}
for b in $(find "$build/bench" -maxdepth 1 -type f -executable -name 'bench_*' | sort); do
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
