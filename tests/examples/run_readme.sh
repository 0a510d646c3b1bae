#!/usr/bin/env bash
# Runs every command of examples/README.md, as written, in a fresh folder laid
# out like the repository's root: examples/ is the examples' sources and
# build/linux64 the build tree under test, so the page's own framework build
# (`cmake --preset …`) is the one already made and is skipped; everything
# else, the install included, runs verbatim.
# Usage: run_readme.sh README BUILD_DIR EXAMPLES_DIR WORK_DIR
set -euo pipefail
readme="$1" build="$2" examples="$3" work="$4"
rm -rf "$work"
mkdir -p "$work/build"
ln -s "$examples" "$work/examples"
ln -s "$build" "$work/build/linux64"
# The page's sh blocks, in order, without the framework's own build.
script="$work/readme-commands.sh"
awk '/^```sh$/ { on = 1; next } /^```/ { on = 0; next } on && !/^cmake --preset / { print }' "$readme" >"$script"
test -s "$script"
cd "$work"
bash -euo pipefail -x "$script"
# What the page says the commands make.
for made in build/gain/Gain.sem build/examples/gain/Gain.sem build/examples/pulse/Pulse.sem \
            build/examples/waveshaper/Waveshaper.sem dist/linux64/share/doc/se_sdk2/html/index.html \
            dist/linux64/share/se_sdk2/examples/gain/Gain.cpp clicks.wav louder.wav ride.wav shaped.wav; do
  test -s "$made" || { echo "run_readme.sh: $made was not made" >&2; exit 1; }
done
