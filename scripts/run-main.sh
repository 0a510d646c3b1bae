#!/usr/bin/env bash
# Builds the native preset and runs the module in the stand-in host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux64 >/dev/null
cmake --build --preset linux64
./build/linux64/host/se_demo build/linux64/module/QV_Zolvexan.sem
