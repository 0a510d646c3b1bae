#!/usr/bin/env bash
# The automation reader and the host's event queue at 1e4, 1e5 and 1e6
# entries, on the linux64 release build, with Google Benchmark's fit of
# their growth (goal: no faster than n log n).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target se_inputs_bench >/dev/null
exec build/linux64/bench/se_inputs_bench "$@"
