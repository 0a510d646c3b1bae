#!/usr/bin/env bash
# The shipped DLL and the examples' win32 DLLs under a real 32-bit Windows
# loader: the win32 semhost.exe under 32-bit Wine loads each with LoadLibrary.
# - info prints what the linux32 semhost prints for the same DLL (its PE32 loader);
# - eval of every mode over a sweep of X gives the linux32 semhost's table;
# - validate passes every check or skips it, each skip with its reason;
# - render of each example, diffed with the linux64 render of the same input
#   and automation: bit-identical for the gain and the pulse (one source, two
#   compilers, two loaders); the waveshaper's samples go through two C
#   libraries' cos, sin, sqrt and tan, so its peak difference is reported and
#   held to a few units in the last place (10^(-120/20) = 1e-6 at most).
# Exits 77 (reported by CTest as skipped) with a SKIPPED line where 32-bit
# Wine cannot run.
#
# Usage: run_wine32_test.sh WIN32_BUILD_DIR LINUX32_SEMHOST LINUX64_BUILD_DIR WINE_PREFIX_DIR
set -uo pipefail
win32="$1" semhost32="$2" linux64="$3"
source "$(dirname "$0")/wine_common.sh"

loader=/usr/lib/wine/wine
[ -x "$loader" ] || skip "no 32-bit Wine ($loader: Debian's wine32:i386, which install-deps.sh installs where this machine runs i386 programs)"
"$semhost32" --help >/dev/null 2>&1 || skip "this machine does not run i386 programs, so 32-bit Wine cannot run here"
exe_path="$win32/host/semhost/semhost.exe"
module="$win32/module/QV_Zolvexan.sem"
for file in "$exe_path" "$module"; do
  [ -f "$file" ] || skip "$file does not exist (build the win32 preset first)"
done
wine_start "$loader" "$4" win32
exe="$(winpath "$exe_path")"
run() { wine_run "$exe" "$@"; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# info and validate of one DLL, against the linux32 semhost's info of it.
check_dll() {
  local dll="$1" name
  name="$(basename "$dll")"
  # The first line names the library by the path each was given.
  run info "$(winpath "$dll")"
  out="$(sed '1{/^library /d}' <<<"$out")"
  local linux
  linux="$("$semhost32" info "$dll" 2>&1 | sed '1{/^library /d}')"
  if [ "$code" -eq 0 ] && [ "$out" = "$linux" ]; then
    pass "$name: info under Wine prints what the linux32 semhost prints ($(grep -c '^  [0-9]' <<<"$out") pins)"
  else
    fail "$name: info (exit $code) differs from linux32's: $(diff <(echo "$linux") <(echo "$out") | head -n 8)"
  fi
  run validate "$(winpath "$dll")" --seed 11
  local verdict
  verdict="$(tail -n 1 <<<"$out")"
  if [ "$code" -eq 0 ] && [[ "$verdict" =~ ^[0-9]+\ passed,\ 0\ warned,\ 0\ failed,\ [0-9]+\ skipped$ ]]; then
    pass "$name: validate: $verdict"
    grep -E '^SKIPPED ' <<<"$out" | sed 's/^/        /'
  else
    fail "$name: validate (exit $code): $(grep -E '^(FAIL|CRASHED|TIMEOUT) ' <<<"$out") $verdict"
  fi
}

check_dll "$module"
grep -qE '^PASS +hygiene\.stack-pointer ' <<<"$out" && pass "hygiene.stack-pointer ran and passed" ||
  fail "hygiene.stack-pointer did not run and pass under 32-bit Wine"

sweep=(--sweep X=-4:4:81 --for Mode --table)
run eval "$(winpath "$module")" "${sweep[@]}"
linux="$("$semhost32" eval "$module" "${sweep[@]}" 2>&1)"
if [ "$code" -eq 0 ] && [ "$out" = "$linux" ]; then
  pass "eval of every mode over 81 values of X: the linux32 table, value for value"
else
  fail "eval (exit $code) differs from linux32's: $(diff <(echo "$linux") <(echo "$out") | head -n 8)"
fi

for example in gain/Gain pulse/Pulse waveshaper/Waveshaper; do
  [ -f "$win32/examples/$example.sem" ] && check_dll "$win32/examples/$example.sem" ||
    fail "$win32/examples/$example.sem does not exist"
done

semhost64="$linux64/host/semhost/semhost"
if [ ! -x "$semhost64" ]; then
  echo "the renders are not compared: $semhost64 does not exist (build the linux64 preset first)"
else
  # A stereo input of tones and seeded noise, 16-bit, and each example's automation.
  /usr/bin/python3 - "$work/in.wav" <<'PY'
import math, struct, sys, wave
rate, frames, seed, data = 48000, 48000, 12345, bytearray()
for f in range(frames):
    seed = (seed * 1103515245 + 12345) % 2**31
    left = 0.6 * math.sin(2 * math.pi * 440 * f / rate) + 0.3 * (seed / 2**31 - 0.5)
    right = 0.9 * math.sin(2 * math.pi * 97 * f * f / (rate * frames))
    data += struct.pack('<hh', round(left * 32767), round(right * 32767))
with wave.open(sys.argv[1], 'wb') as out:
    out.setnchannels(2); out.setsampwidth(2); out.setframerate(rate); out.writeframes(bytes(data))
PY
  mono_of() { /usr/bin/python3 -c "
import sys, wave
with wave.open(sys.argv[1]) as i, wave.open(sys.argv[2], 'wb') as o:
    d = i.readframes(i.getnframes()); o.setnchannels(1); o.setsampwidth(2); o.setframerate(i.getframerate())
    o.writeframes(b''.join(d[k:k + 2] for k in range(0, len(d), 4)))" "$1" "$2"; }
  mono_of "$work/in.wav" "$work/mono.wav"
  echo '{ "Gain": { "0": 0.5, "12345": -1.75, "0.6s": 2 } }' >"$work/Gain.json"
  echo '{ "Rate": { "0": 4, "20000": 9.5 } }' >"$work/Pulse.json"
  echo '{ "Mode": { "0": "cos", "10001": "sin", "20002": "sqrt", "30003": "tan" } }' >"$work/Waveshaper.json"
  declare -A inputs=([Gain]="--in $work/in.wav" [Pulse]="--seconds 1 --sample-rate 48000" [Waveshaper]="--in $work/mono.wav")
  declare -A tolerance=([Gain]="" [Pulse]="" [Waveshaper]="--tolerance -120")
  for example in gain/Gain pulse/Pulse waveshaper/Waveshaper; do
    name="${example#*/}"
    read -r -a linux_in <<<"${inputs[$name]}"
    windows_in=()
    for word in "${linux_in[@]}"; do
      [ -f "$word" ] && windows_in+=("$(winpath "$word")") || windows_in+=("$word")
    done
    "$semhost64" render "$linux64/examples/$example.sem" "${linux_in[@]}" --automate "$work/$name.json" \
      --block-size 64 --format float --out "$work/$name.linux64.wav" >/dev/null 2>"$work/err" ||
      { fail "$name: the linux64 render failed: $(cat "$work/err")"; continue; }
    run render "$(winpath "$win32/examples/$example.sem")" "${windows_in[@]}" --automate "$(winpath "$work/$name.json")" \
      --block-size 64 --format float --out "$(winpath "$work/$name.win32.wav")"
    [ "$code" -eq 0 ] || { fail "$name: render under Wine exited $code: $(cat "$prefix.stderr")"; continue; }
    # shellcheck disable=SC2086
    result="$("$semhost64" diff "$work/$name.linux64.wav" "$work/$name.win32.wav" ${tolerance[$name]})"
    status=$?
    peak="$(sed -n 's/^peak difference: //p' <<<"$result")"
    if [ "$status" -eq 0 ]; then
      pass "$name: the win32 render under Wine equals the linux64 render ($(tail -n 1 <<<"$result"); peak difference ${peak:-0})"
    else
      fail "$name: the win32 render differs from the linux64 render: $result"
    fi
  done
fi

if [ "$failures" -gt 0 ]; then echo "$failures 32-bit Wine check(s) failed"; exit 1; fi
echo "all 32-bit Wine checks passed"
