#!/usr/bin/env bash
# Runs every benchmark and writes build/bench/report.md and report.png.
# Usage: bench/run.sh [CALLGRIND=1]   (from `make bench`; the builds first)
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/bench
python=/usr/bin/python3   # Debian's, which has python3-matplotlib
callgrind=0
[ "${1:-}" = CALLGRIND=1 ] && callgrind=1
mkdir -p "$out"

{ echo "nproc: $(nproc)"; lscpu | head; } > "$out/machine.txt"

echo "== 1. CPU per folder, host (Google Benchmark)"
build/host/bench/ostravel_bench --benchmark_repetitions=3 --benchmark_min_time=0.5 \
  --benchmark_out="$out/host.json" --benchmark_out_format=json

echo "== 2. Peak heap against shape, host"
build/host/bench/ostravel_bench_memory > "$out/memory.json"

echo "== 3. Wall time under Wine"
"$python" bench/wine/wine_bench.py build/win64/Ostravel.exe \
  build/win64/bench/bench_timer.exe "$out"

rm -rf "$out/callgrind"
if [ "$callgrind" = 1 ]; then
  echo "== 1b. Instruction counts (callgrind)"
  mkdir -p "$out/callgrind"
  valgrind --tool=callgrind --collect-atstart=no \
    --callgrind-out-file="$out/callgrind/callgrind.out" \
    build/host/bench/ostravel_bench --once 2> "$out/callgrind/valgrind.log"
fi

"$python" bench/report.py "$out"
