#!/usr/bin/env bash
# Runs the benchmarks on the linux64 release build: the GUI evaluation per
# mode next to its floor (the same host calls and math with no framework) and
# the math alone, instance life, open and process. Prints, per mode, the ratio
# of the evaluation to the floor measured in the same run (medians of 5). The
# framework runs in the built module library, loaded by path as a host loads
# it; --static measures the copy linked into the benchmark instead.
#   bash scripts/bench.sh [--static] [Google Benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target se_bench QV_Zolvexan >/dev/null
exec build/linux64/bench/se_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
