#!/usr/bin/env bash
# Two clean builds of the win32 preset's module, from two copies of the
# sources in folders of different names and depths, give byte-identical DLLs,
# identical to REFERENCE (the build under test), and neither copy's path
# appears inside.
# Usage: reproducible_test.sh SOURCE_DIR REFERENCE_DLL
set -euo pipefail
source_dir="$1" reference="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
copies=("$work/one" "$work/second/copy/deeper")
for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./out --exclude=./.git -cf - . | tar -C "$copy" -xf -
  (cd "$copy" && cmake --preset win32 >/dev/null && cmake --build --preset win32 --target QV_Zolvexan >"$copy.log") ||
    { cat "$copy.log"; exit 1; }
done
one="${copies[0]}/build/win32/module/QV_Zolvexan.sem"
two="${copies[1]}/build/win32/module/QV_Zolvexan.sem"
sha256sum "$one" "$two" "$reference"
cmp "$one" "$two" || { echo "FAIL: the two clean builds differ"; exit 1; }
cmp "$one" "$reference" || { echo "FAIL: the clean builds differ from $reference"; exit 1; }
if strings -a "$one" | grep -F -e "$work" -e "$source_dir"; then
  echo "FAIL: a build path is inside the DLL"; exit 1
fi
# The post-build step printed the same digest in each build.
digest="$(sha256sum <"$one" | cut -d' ' -f1)"
for copy in "${copies[@]}"; do
  grep -q "^$digest  QV_Zolvexan.sem$" "$copy.log" || { echo "FAIL: the build did not print the SHA-256"; exit 1; }
done
echo "reproducible: both clean builds and $reference are QV_Zolvexan.sem with SHA-256 $digest"
