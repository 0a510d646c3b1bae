#!/usr/bin/env bash
# Installs the framework package from a build tree, builds the examples out of
# tree against it (find_package), and runs their validate tests.
# Usage: run_standalone.sh BUILD_DIR WORK_DIR EXAMPLES_DIR [TOOLCHAIN_FILE] [EMULATOR]
set -euo pipefail
build="$1" work="$2" examples="$3" toolchain="${4:-}" emulator="${5:-}"
rm -rf "$work"
cmake --install "$build" --prefix "$work/dist" >/dev/null
args=(-S "$examples" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/dist")
[ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake "${args[@]}" >/dev/null
cmake --build "$work/build"
for name in Gain Pulse Waveshaper; do test -f "$work/build/${name,,}/$name.sem"; done
# A cross build without an emulator registers no validate test.
if [ -z "$toolchain" ] || [ -n "$emulator" ]; then
  ctest --test-dir "$work/build" -L validate --no-tests=error --output-on-failure
fi
