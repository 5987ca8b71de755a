#!/usr/bin/env bash
# A short run of every measurement, as scripts/test.sh does it: proves that the
# benchmarks and the whole-process measurement still work. Timings are printed,
# never judged.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build/native/qv_bench --benchmark_min_time=0.05
bench/measure.sh --smoke
