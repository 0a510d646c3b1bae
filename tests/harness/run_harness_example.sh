#!/usr/bin/env bash
# Installs the framework package from a build tree, builds the harness example
# (examples/harness: the Gain module and its GoogleTest suite on se_sdk2::host)
# out of tree against it with the system's GoogleTest, and runs its tests.
# Usage: run_harness_example.sh BUILD_DIR WORK_DIR EXAMPLE_DIR
set -euo pipefail
build="$1" work="$2" example="$3"
rm -rf "$work"
cmake --install "$build" --prefix "$work/dist" >/dev/null
test -f "$work/dist/include/se_sdk2/host/ModuleHarness.h"
# The harness header stands alone: none of semhost's own headers is installed.
[ "$(find "$work/dist/include" -name '*.h' -path '*/host/*' | wc -l)" -eq 1 ]
cmake -S "$example" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/dist" >/dev/null
cmake --build "$work/build"
ctest --test-dir "$work/build" -R '^GainHarness\.' --no-tests=error --output-on-failure
