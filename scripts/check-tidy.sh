#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: naming and bug-prone checks) over the project's sources with the
# build's compile database; any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run-clang-tidy -p "$build" -j "${JOBS:-2}" -quiet \
  "$(pwd)/(acquisition|device|app|dialogs|tools)/.*\.cpp$" > "$log" 2>&1 || true
if grep -q -E "(warning|error):" "$log"; then
  grep -E -A3 "(warning|error):" "$log"
  echo "clang-tidy: findings above"
  exit 1
fi
echo "clang-tidy: $(git ls-files | grep -c -E '^(acquisition|device|app|dialogs|tools)/.*\.cpp$') files clean"
