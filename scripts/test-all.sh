#!/usr/bin/env bash
# Builds every preset and runs every test. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

step() { printf '\n==== %s\n' "$*"; }

# The shipped DLL first: tests of the other presets examine and run it.
step "win32: configure, build, package, check the DLL, its byte-identical rebuild and the package"
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --build --preset win32 --target package
ctest --preset win32

step "win64: configure, build, check the 64-bit DLL, run semhost.exe on it under 64-bit Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64
ctest --preset win64

for preset in linux64 linux32; do
  # linux32 runs its tests natively or under qemu-i386 (decided at configure);
  # its test Linux32.RunsNatively or Linux32.RunsUnderQemu says which.
  step "$preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

step "the shipped DLL itself: every semhost check on build/win32/module/QV_Zolvexan.sem, run by the linux32 semhost's PE32 loader (natively where i386 programs run, else under qemu-i386)"
bash scripts/validate-dll.sh

step "linux64: the API reference for module authors (Doxygen; an undocumented public declaration fails)"
cmake --build --preset linux64 --target docs

step "sanitize: configure, build, test (linux64 with AddressSanitizer + UndefinedBehaviorSanitizer, leak checks; halts on the first report)"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

step "fuzz: it_enum_list, 60 seconds (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)"
bash scripts/fuzz.sh it_enum_list 60

step "fuzz: module_records (both halves through their records), 60 seconds (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)"
bash scripts/fuzz.sh module_records 60

step "fuzz: pe_layout (the PE32 loader's checks and layout of a file), 60 seconds (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)"
bash scripts/fuzz.sh pe_layout 60

step "all tests passed"
