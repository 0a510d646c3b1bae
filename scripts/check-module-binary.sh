#!/usr/bin/env bash
# Checks a built module library's binary interface:
#   PE (Windows): a DLL whose export directory is named after the file, that
#     exports exactly getModuleProperties and makeModule (undecorated), imports
#     only Windows system DLLs (no compiler runtime DLLs) and carries no debug
#     information; for an i686 build also that it is PE32.
#   ELF (Linux): a shared object exporting exactly the same two functions.
# Usage: check-module-binary.sh FILE
set -uo pipefail
file="$1"
name="$(basename "$file")"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
want_exports=$'getModuleProperties\nmakeModule'

[ -f "$file" ] || { echo "FAIL: $file does not exist"; exit 1; }

if [ "$(head -c 2 "$file")" = "MZ" ]; then
  objdump=""
  for candidate in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump objdump; do
    if command -v "$candidate" >/dev/null && "$candidate" -p "$file" >/dev/null 2>&1; then
      objdump="$candidate"; break
    fi
  done
  [ -n "$objdump" ] || { echo "FAIL: no objdump reads $file"; exit 1; }
  dump="$("$objdump" -p "$file")"
  format="$(printf '%s\n' "$dump" | sed -n 's/.*file format \(.*\)$/\1/p' | head -n1)"
  case "$format" in
    pei-i386)
      grep -qE '^Magic[[:space:]]+010b' <<<"$dump" && pass "PE32 (32-bit) image" || fail "not a PE32 image" ;;
    pei-x86-64) pass "PE32+ (64-bit) image" ;;
    *) fail "unexpected format '$format'" ;;
  esac
  characteristics="$(grep -A12 '^Characteristics' <<<"$dump")"
  [[ "$characteristics" == *DLL* ]] && pass "is a DLL" || fail "not marked as a DLL"
  export_name="$(printf '%s\n' "$dump" | sed -n 's/^Name[[:space:]]\+[0-9a-f]\+ \(.*\)$/\1/p' | head -n1)"
  [ "$export_name" = "$name" ] && pass "export directory named $export_name" || fail "export directory named '$export_name', want '$name'"
  exports="$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]\+\][[:space:]]\+\(.*\)$/\1/p' | sort)"
  [ "$exports" = "$want_exports" ] && pass "exports exactly getModuleProperties, makeModule" || fail "exports are: $(echo $exports)"
  imports="$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' | tr 'A-Z' 'a-z' | sort -u)"
  system_dlls="kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll ucrtbase.dll"
  for dll in $imports; do
    case " $system_dlls " in
      *" $dll "*) pass "imports system DLL $dll" ;;
      *) fail "imports non-system DLL $dll" ;;
    esac
  done
  if "$objdump" -h "$file" | grep -qE '\.debug|\.stab'; then fail "carries debug sections"; else pass "no debug sections"; fi
else
  exports="$(nm -D --defined-only "$file" | awk '{print $3}' | sort)"
  [ "$exports" = "$want_exports" ] && pass "exports exactly getModuleProperties, makeModule" || fail "exports are: $(echo $exports)"
  types="$(nm -D --defined-only "$file" | awk '{print $2}' | sort -u)"
  [ "$types" = "T" ] && pass "both are functions" || fail "export symbol types: $types"
fi

if [ "$failures" -gt 0 ]; then echo "$failures check(s) failed for $file"; exit 1; fi
echo "all checks passed for $file"
