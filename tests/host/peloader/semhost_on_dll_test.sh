#!/usr/bin/env bash
# semhost on the shipped DLL under the PE32 loader prints what it prints for
# the linux32 build of the same module: info, an evaluation sweep of every
# mode with its trace, and validate (durations and the library path aside);
# a DLL with an import the loader lacks is refused with exit 3, naming the
# DLL and the function.
# Usage: semhost_on_dll_test.sh EMULATOR SEMHOST DLL LINUX_MODULE UNSHIMMED_DLL
set -uo pipefail
emulator="$1" semhost="$2" dll="$3" linux_module="$4" unshimmed="$5"
export SEMHOST_EMULATOR="$emulator"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
[ -f "$dll" ] || { echo "FAIL: $dll does not exist: build the win32 preset first"; exit 1; }
failures=0

# Runs semhost on both libraries with the same arguments; every output and
# the exit code must agree once `normalise` has removed what may differ:
# durations, the library path, and the leak check's byte counts, which are
# the allocator's own rounding (the check passes or fails on its own).
normalise() { sed -E -e 's/ +[0-9]+ ms / <ms> /' -e 's/heap growth -?[0-9]+ bytes \(audio\), -?[0-9]+ bytes/heap growth <n> bytes (audio), <n> bytes/' -e "s#$dll#MODULE#g; s#$linux_module#MODULE#g" "$1"; }
same() {
  local label="$1"; shift
  local dll_rc=0 linux_rc=0
  $emulator "$semhost" "$1" "$dll" "${@:2}" >"$work/dll.out" 2>"$work/dll.err" || dll_rc=$?
  $emulator "$semhost" "$1" "$linux_module" "${@:2}" >"$work/linux.out" 2>"$work/linux.err" || linux_rc=$?
  if [ "$dll_rc" -ne 0 ] || [ "$linux_rc" -ne 0 ]; then
    echo "FAIL: $label: exit $dll_rc on the DLL, $linux_rc on the Linux build"; cat "$work/dll.err"
    failures=$((failures + 1)); return
  fi
  for stream in out err; do
    if ! diff <(normalise "$work/dll.$stream") <(normalise "$work/linux.$stream") >"$work/diff"; then
      echo "FAIL: $label: std$stream differs (< DLL, > Linux build)"; head -n 40 "$work/diff"
      failures=$((failures + 1)); return
    fi
  done
  echo "ok:   $label: $(wc -l <"$work/dll.out") line(s) of output, identical"
}

same "info" info
same "info --json" info --json
same "eval sweep of every mode, traced" eval --sweep X=-10:10:201 --for Mode --trace
same "eval of tan near pi/2" eval --set Mode=tan --set X=1.5707964
same "validate, every check" validate --seed 7

rc=0
$emulator "$semhost" info "$unshimmed" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" -eq 3 ] && grep -q "unshimmed_import.dll: imports that the loader provides no shim for: KERNEL32.dll!Beep" "$work/err"; then
  echo "ok:   an import the loader lacks: exit 3, $(cat "$work/err")"
else
  echo "FAIL: an import the loader lacks: exit $rc, $(cat "$work/err")"; failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || { echo "$failures comparison(s) failed"; exit 1; }
