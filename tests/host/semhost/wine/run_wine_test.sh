#!/usr/bin/env bash
# The Windows semhost under 64-bit Wine: it loads the Windows module with
# LoadLibrary, finds both exports by their undecorated names, evaluates every
# mode, and validates the module with each check in a child process
# (CreateProcess). Exits 77 (reported by CTest as skipped) with a SKIPPED line
# when Wine cannot start here.
#
# Then it renders the gain example at 0.5 over a file of even 16-bit samples
# and diffs the result, bit for bit, with the file of their halves.
#
# Then modules that misbehave on purpose, each run supervised.
#
# Usage: run_wine_test.sh SEMHOST_EXE MODULE_DLL WINE_PREFIX_DIR GAIN_DLL MISBEHAVING_DIR
set -uo pipefail
semhost="$1"
module="$2"

source "$(dirname "$0")/wine_common.sh"

loader=""
for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then loader="$candidate"; break; fi
done
[ -n "$loader" ] || skip "no 64-bit Wine loader (Debian package wine64, /usr/lib/wine/wine64)"
wine_start "$loader" "$3" win64
exe="$(winpath "$semhost")"
dll="$(winpath "$module")"
run() { wine_run "$exe" "$@"; }

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
if [ "$code" -eq 0 ] && [ "$verdict" = "25 passed, 0 warned, 0 failed, 7 skipped" ]; then
  pass "validate, each check in its own process: $verdict"
else
  fail "validate (exit $code): $(grep -E '^(FAIL|CRASHED|TIMEOUT) ' <<<"$out") $verdict"
fi

run validate "$dll" --only nothing
[ "$code" -eq 2 ] && pass "a bad command line exits 2" || fail "validate --only nothing exited $code, want 2"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work" <<'PY'
import struct, sys, wave
for name, divisor in (("even.wav", 1), ("halves.wav", 2)):
    with wave.open(f"{sys.argv[1]}/{name}", "wb") as out:
        out.setnchannels(2); out.setsampwidth(2); out.setframerate(44100)
        out.writeframes(b"".join(struct.pack("<hh", (2 * ((f * 7919) % 32768) - 32768) // divisor,
                                             (-2 * ((f * 104729) % 16384)) // divisor) for f in range(30000)))
PY
run render "$(winpath "$4")" --in "$(winpath "$work/even.wav")" --set Gain=0.5 --format float --out "$(winpath "$work/out.wav")"
[ "$code" -eq 0 ] && [ -f "$work/out.wav" ] && pass "render: the gain example at 0.5 over 30,000 stereo frames" ||
  fail "render (exit $code): $out $(cat "$prefix.stderr")"
run diff "$(winpath "$work/halves.wav")" "$(winpath "$work/out.wav")"
[ "$code" -eq 0 ] && pass "diff: the render is the halves, bit for bit ($(tail -n 1 <<<"$out"))" ||
  fail "diff (exit $code): $out $(cat "$prefix.stderr")"
run diff "$(winpath "$work/even.wav")" "$(winpath "$work/out.wav")"
[ "$code" -eq 1 ] && pass "diff: the render differs from its input (exit 1)" || fail "diff of the input and the render exited $code, want 1"

# Modules that misbehave on purpose, run supervised (CreateProcess, the job
# object, the shared page): each costs exit 1 and one line naming how the run
# ended and the call that had not returned; the old target stays as it was
# and no temporary is left beside it.
fixtures="$5"
misbehaving() { winpath "$fixtures/misbehaving_$1.sem"; }
old="$(winpath "$work/old.wav")"
render=(--in "$(winpath "$work/even.wav")" --out "$old")
cases=(
  "crash_in_process|the run ended with access violation (0xC0000005) while rendering, block 8, clock 4096; in host→audio process offset=0 frames=512|render"
  "exit_in_process|the run ended with exit code 0 before it was done while rendering, block 8, clock 4096|render"
  "abort_on_open|the run aborted (exit code 3) while opening the audio half; in host→audio OP_OPEN|render"
  "hang_in_process|a call into the module did not return within 2000 ms (--timeout-ms) while rendering, block 8|render"
  "hang_in_properties|a call into the module did not return within 2000 ms (--timeout-ms) while reading the module's properties and pins; in getModuleProperties index=0|info"
  "crash_in_gui|the run ended with access violation (0xC0000005) while evaluating; in host→gui GUI_OP_PIN_VALUE_CHANGE|eval"
)
for row in "${cases[@]}"; do
  IFS='|' read -r way want verb <<<"$row"
  printf 'the old output' >"$work/old.wav"
  case "$verb" in
    render) run render "$(misbehaving "$way")" "${render[@]}" --timeout-ms 2000 ;;
    info) run info "$(misbehaving "$way")" --timeout-ms 2000 ;;
    eval) run eval "$(misbehaving "$way")" --set Mode=tan ;;
  esac
  line="$(tr -d '\r' <"$prefix.stderr" | grep -v '^$' | tail -n 1)"
  left="$(ls -A "$work" | grep '^\.semhost-' || true)"
  if [ "$code" -eq 1 ] && [[ "$line" == *"$want"* ]] && [ "$(cat "$work/old.wav")" = "the old output" ] && [ -z "$left" ]; then
    pass "supervised $verb of misbehaving_$way: exit 1, '$line'"
  else
    fail "supervised $verb of misbehaving_$way (exit $code): '$line', want '$want'; old target '$(cat "$work/old.wav")'; left: $left"
  fi
done

if [ "$failures" -gt 0 ]; then echo "$failures Wine check(s) failed"; exit 1; fi
echo "all Wine checks passed"
