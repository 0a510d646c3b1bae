#!/usr/bin/env bash
# The Windows semhost under 64-bit Wine: it loads the Windows module with
# LoadLibrary, finds both exports by their undecorated names, evaluates every
# mode, and validates the module with each check in a child process
# (CreateProcess). Exits 77 (reported by CTest as skipped) with a SKIPPED line
# when Wine cannot start here.
#
# Usage: run_wine_test.sh SEMHOST_EXE MODULE_DLL WINE_PREFIX_DIR
set -uo pipefail
semhost="$1"
module="$2"
prefix="$(mkdir -p "$3" && cd "$3" && pwd)"  # Wine wants an absolute path

skip() { echo "SKIPPED: $*"; exit 77; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

wine=""
for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine="$candidate"; break; fi
done
[ -n "$wine" ] || skip "no 64-bit Wine loader (Debian package wine64, /usr/lib/wine/wine64)"

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
# No desktop integration or browser and runtime installers in the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$prefix"
if [ ! -f "$prefix/system.reg" ]; then
  echo "creating the Wine prefix $prefix (the first start takes about a minute)"
fi
if ! timeout 300 "$wine" wineboot --init >"$prefix.boot.log" 2>&1; then
  skip "Wine cannot start here (wineboot failed; see $prefix.boot.log)"
fi

# Windows paths for the two files (Wine maps / to drive Z:).
winpath() { printf 'Z:%s' "$(readlink -f "$1" | tr '/' '\\')"; }
exe="$(winpath "$semhost")"
dll="$(winpath "$module")"

# Runs semhost.exe; its output without carriage returns in $out, its exit code in $code.
run() {
  out="$(timeout 300 "$wine" "$exe" "$@" 2>"$prefix.stderr" | tr -d '\r')"
  code=${PIPESTATUS[0]}
}

run info "$dll"
if [ "$code" -eq 0 ] && grep -qx '  name         QV_Zolvexan' <<<"$out" && grep -qx '  0  Mode    DR_IN   DT_ENUM     IO_UI_COMMUNICATION' <<<"$out"; then
  pass "info: LoadLibrary found getModuleProperties and makeModule; pins read"
else
  fail "info (exit $code): $out $(cat "$prefix.stderr")"
fi

# A Unix absolute path (Wine finds it through drive Z:) is a path, not an option.
unix_dll="$(readlink -f "$module")"
run info "$unix_dll"
if [ "$code" -eq 0 ] && grep -qx "library $unix_dll" <<<"$out" && grep -qx '  name         QV_Zolvexan' <<<"$out"; then
  pass "info with the Unix path $unix_dll"
else
  fail "info with a Unix path (exit $code): $out $(cat "$prefix.stderr")"
fi

declare -A expected=([cos]="0.87758255" [sin]="0.47942555" [sqrt]="0.707106769" [tan]="0.546302497")
for mode in cos sin sqrt tan; do
  run eval "$dll" --set "Mode=$mode" --set X=0.5
  if [ "$code" -eq 0 ] && [ "$out" = "Result = ${expected[$mode]}" ]; then
    pass "eval Mode=$mode X=0.5: $out"
  else
    fail "eval Mode=$mode X=0.5 (exit $code): '$out', want 'Result = ${expected[$mode]}' $(cat "$prefix.stderr")"
  fi
done
run eval "$dll" --set Mode=sqrt --set X=-1
[ "$code" -eq 0 ] && [ "$out" = "Result = nan" ] && pass "eval Mode=sqrt X=-1: $out" || fail "eval sqrt of -1 (exit $code): '$out'"

run validate "$dll" --seed 11 --instances 2000 --steps 2000
verdict="$(tail -n 1 <<<"$out")"
# Skipped: the 64-bit stack-pointer check, the events check (the module posts
# none), the two render checks (no sample output) and the allocation count
# (not countable in a Windows child).
if [ "$code" -eq 0 ] && [ "$verdict" = "22 passed, 0 failed, 5 skipped" ]; then
  pass "validate, each check in its own process: $verdict"
else
  fail "validate (exit $code): $(grep -E '^(FAIL|CRASHED|TIMEOUT) ' <<<"$out") $verdict"
fi

run validate "$dll" --only nothing
[ "$code" -eq 2 ] && pass "a bad command line exits 2" || fail "validate --only nothing exited $code, want 2"

if [ "$failures" -gt 0 ]; then echo "$failures Wine check(s) failed"; exit 1; fi
echo "all Wine checks passed"
