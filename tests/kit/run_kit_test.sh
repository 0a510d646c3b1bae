#!/usr/bin/env bash
# Installs the framework package from a build tree, builds the demo module out
# of tree against it, and loads the result.
# Usage: run_kit_test.sh BUILD_DIR WORK_DIR KIT_CHECK [TOOLCHAIN_FILE] [EMULATOR]
set -euo pipefail
build="$1" work="$2" check="$3" toolchain="${4:-}" emulator="${5:-}"
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work"
cmake --install "$build" --prefix "$work/dist" >/dev/null
# No build type, as an author's first configure often has: se_add_module
# still optimises (the Release flags) and warns with the project's flags.
args=(-S "$here/project" -B "$work/build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_PREFIX_PATH="$work/dist")
[ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake "${args[@]}" >/dev/null
cmake --build "$work/build"
for flag in -O3 -DNDEBUG -Wall -Wextra -Werror; do
  grep -q -- "$flag" "$work/build/compile_commands.json" || { echo "run_kit_test.sh: KitDemo built without $flag" >&2; exit 1; }
done
test -f "$work/dist/lib/cmake/se_sdk2/se_sdk2Config.cmake"
test -f "$work/dist/include/se_sdk2/SEModule_base.h"
# VALIDATE registered KitDemo.validate, which runs the installed semhost (a
# cross build without an emulator registers none).
if [ -z "$toolchain" ] || [ -n "$emulator" ]; then
  ctest --test-dir "$work/build" -R '^KitDemo\.validate$' --no-tests=error --output-on-failure
fi
# shellcheck disable=SC2086
$emulator "$check" "$work/build/KitDemo.sem"
