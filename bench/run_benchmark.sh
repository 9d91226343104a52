#!/usr/bin/env bash
# Times the whole program on a run file of in-range compositions (fixed seed)
# against its floor: a program that makes only the two write calls quarn makes
# per composition (145 bytes to the console, 146 to qnout.dat). The console
# goes to /dev/null. Prints the best of several runs of each, and their ratio.
#
#   bench/run_benchmark.sh [BUILD_DIR] [COMPOSITIONS] [RUNS]
set -euo pipefail

build=$(cd "${1:-build/default}" && pwd)
count=${2:-1000000}
runs=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/bench/make_run_file" "$count" > qnrun.dat

# Best wall-clock time of a command over the runs, in nanoseconds.
best_time() {
  local best=0 start end elapsed
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    elapsed=$((end - start))
    if ((best == 0 || elapsed < best)); then best=$elapsed; fi
  done
  echo "$best"
}

quarn_ns=$(best_time "$build/quarn")
lines=$(wc -l < qnout.dat)
floor_ns=$(best_time "$build/bench/write_floor" "$count")

echo "compositions:  $count (report of $lines lines)"
awk -v q="$quarn_ns" -v f="$floor_ns" -v n="$count" 'BEGIN {
  printf "quarn:         %.3f s  (%.3f us per composition)\n", q / 1e9, q / n / 1e3
  printf "write floor:   %.3f s  (%.3f us per composition)\n", f / 1e9, f / n / 1e3
  printf "ratio:         %.2f\n", q / f
}'
