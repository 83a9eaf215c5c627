#!/usr/bin/env bash
# Runs every benchmark executable; figures go to the README by hand, with this command. The
# drawing benchmark needs an X display (a virtual one here); opening a capture needs the file of
# bench/make_big_capture.sh (it reports a skip otherwise); recording needs root.
set -euo pipefail
build=${1:?build dir}
for b in $(find "$build/bench" -maxdepth 1 -type f -executable -name 'bench_*' | sort); do
  echo "== $(basename "$b")"
  case "$(basename "$b")" in
    bench_draw) xvfb-run -a -s "-screen 0 1920x1080x24" "$b" --benchmark_counters_tabular=true ;;
    *) "$b" --benchmark_counters_tabular=true ;;
  esac
done
