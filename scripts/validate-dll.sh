#!/usr/bin/env bash
# Validates the shipped 32-bit DLL itself: the linux32 semhost loads it with
# its PE32 loader and runs every check, each check's process natively where
# this machine runs i386 programs, else under qemu-i386 (the line says which).
# Fails when a check fails, crashes or times out, and when
# hygiene.stack-pointer did not run and pass (it must not be skipped).
# Usage: validate-dll.sh [SEMHOST [DLL]]   (defaults: the linux32 and win32 builds)
set -euo pipefail
cd "$(dirname "$0")/.."
semhost="${1:-build/linux32/host/semhost/semhost}"
dll="${2:-build/win32/module/QV_Zolvexan.sem}"
for file in "$semhost" "$dll"; do
  [ -f "$file" ] || { echo "FAIL: $file does not exist (build the linux32 and win32 presets first)"; exit 1; }
done
report="$(mktemp)"
trap 'rm -f "$report"' EXIT
status=0
if "$semhost" --help >/dev/null 2>&1; then
  echo "running the linux32 semhost natively (this machine runs i386 programs)"
  runner=()
else
  echo "running the linux32 semhost under qemu-i386 (this machine does not run i386 programs)"
  runner=(qemu-i386)
  export SEMHOST_EMULATOR=qemu-i386
fi
"${runner[@]}" "$semhost" validate "$dll" >"$report" || status=$?
cat "$report"
[ "$status" -eq 0 ] || { echo "FAIL: semhost validate exited $status"; exit 1; }
grep -qE '^PASS +hygiene\.stack-pointer ' "$report" || { echo "FAIL: hygiene.stack-pointer did not run and pass"; exit 1; }
echo "the shipped DLL validates clean, its own code run under the PE32 loader"
