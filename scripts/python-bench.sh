#!/usr/bin/env bash
# Throughput of the Python package on the linux64 release build: Python's
# isolated render against `semhost render`, and render_many with 1 and 2
# workers (bench/python/python_bench.py says how).
#   bash scripts/python-bench.sh [--runs N] [--seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target semhost_python Gain >/dev/null
PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=build/linux64/python exec /usr/bin/python3 bench/python/python_bench.py build/linux64/examples/gain/Gain.sem "$@"
