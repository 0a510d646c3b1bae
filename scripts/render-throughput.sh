#!/usr/bin/env bash
# Render throughput of the gain example on the linux64 release build: a 60 s
# stereo float WAV at 48 kHz (made once in build/linux64/bench/) rendered
# through Gain.sem at each block size, next to the I/O floor (the same file
# read and written the same way with no module). Prints the medians and the
# ratio floor / render; the goal is at least 0.9 at block size 64.
#   bash scripts/render-throughput.sh [--runs N] [--seconds S] [--block-size N]...
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target se_render_throughput >/dev/null
exec build/linux64/bench/se_render_throughput "$@"
