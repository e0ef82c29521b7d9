#!/usr/bin/env bash
# Builds the default preset and runs both benchmark executables, then prints each
# benchmark beside its baseline (bench/ratios.py).
#
#   bench/run.sh [BENCHMARK OPTIONS...]
#
# Options go to both executables, e.g. --benchmark_filter=Poll or
# --benchmark_repetitions=3 (default 7; the medians are compared). The JSON results are
# kept in build/default/bench/results/. The benchmark files (a 256 MiB file and the record
# files) go to TMPDIR, else /tmp: point TMPDIR at the disk to measure.
set -euo pipefail

say() { printf '==> %s\n' "$*"; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

tools/ensure-packages.sh cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libboost-dev
command -v python3 >/dev/null 2>&1 || tools/ensure-packages.sh python3

say "cmake --preset default"
cmake --preset default >/dev/null
say "cmake --build --preset default"
cmake --build --preset default

results="build/default/bench/results"
mkdir -p "$results"
options=(--benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
  --benchmark_report_aggregates_only=true "$@")
for bench in tracker util; do
  executable="build/default/bench/zv_${bench}_bench"
  [ "$bench" = util ] && executable="build/default/bench/util/zv_util_bench"
  say "$executable ${options[*]}"
  "$executable" "${options[@]}" --benchmark_out="$results/$bench.json" \
    --benchmark_out_format=json
done

say "each benchmark beside its baseline (medians)"
python3 bench/ratios.py "$results/tracker.json" "$results/util.json"
