#!/usr/bin/env bash
# Runs the benchmarks on the linux64 release build: the GUI evaluation per
# mode next to its floor (the same host calls and math with no framework) and
# the math alone, instance life, open and process. Prints, per mode, the ratio
# of the evaluation to the floor measured in the same run (medians of 5).
#   bash scripts/bench.sh [Google Benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target se_bench >/dev/null
exec build/linux64/bench/se_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
