#!/usr/bin/env bash
# Builds the win32 package, unpacks it, checks its content against SHA256SUMS
# and the build, and builds the kit's example module from the unpacked
# framework with the MinGW toolchain file, as a module author would.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR DLL SEMHOST_EXE
set -euo pipefail
build="$1" source_dir="$2" dll="$3" semhost="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target package >"$work/package.log" || { cat "$work/package.log"; exit 1; }
zips=("$build"/QV_Zolvexan-*-win32.zip)
[ "${#zips[@]}" -eq 1 ] && [ -f "${zips[0]}" ] || { echo "FAIL: no single package in $build: ${zips[*]}"; exit 1; }
zip="$(cd "$(dirname "${zips[0]}")" && pwd)/$(basename "${zips[0]}")"
(cd "$work" && cmake -E tar xf "$zip")
root="$work/$(basename "$zip" .zip)"
[ -d "$root" ] || { echo "FAIL: the package has no top folder $(basename "$root")"; exit 1; }

expected=(README.md SHA256SUMS modules/QV_Zolvexan.sem bin/semhost.exe lib/libse_sdk2.a
  include/se_sdk2/SEModule_base.h include/se_sdk2/SEGUI_base.h include/se_sdk2/SEExports.h
  lib/cmake/se_sdk2/se_sdk2Config.cmake lib/cmake/se_sdk2/se_sdk2ConfigVersion.cmake
  lib/cmake/se_sdk2/se_sdk2Targets.cmake lib/cmake/se_sdk2/SeModule.cmake)
for file in "${expected[@]}"; do
  [ -f "$root/$file" ] || { echo "FAIL: the package lacks $file"; exit 1; }
done
# SHA256SUMS names every other file of the package, and each digest holds.
listed="$(cut -c67- "$root/SHA256SUMS" | sort)"
present="$(cd "$root" && find . -type f ! -name SHA256SUMS | sed 's#^\./##' | sort)"
[ "$listed" = "$present" ] || { echo "FAIL: SHA256SUMS lists"; echo "$listed"; echo "but the package holds"; echo "$present"; exit 1; }
(cd "$root" && sha256sum --quiet -c SHA256SUMS) || { echo "FAIL: a digest in SHA256SUMS does not hold"; exit 1; }
cmp "$root/modules/QV_Zolvexan.sem" "$dll" || { echo "FAIL: the packaged DLL is not the build's"; exit 1; }
cmp "$root/bin/semhost.exe" "$semhost" || { echo "FAIL: the packaged semhost.exe is not the build's"; exit 1; }

cmake -S "$source_dir/tests/kit/project" -B "$work/kit" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw32.cmake" >/dev/null
cmake --build "$work/kit" >"$work/kit.log" || { cat "$work/kit.log"; exit 1; }
bash "$source_dir/scripts/check-module-binary.sh" "$work/kit/KitDemo.sem"
echo "package $(basename "$zip"): $(echo "$present" | wc -l) files, every digest holds, the kit's module builds from it"
