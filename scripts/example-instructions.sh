#!/usr/bin/env bash
# The example modules' audio path on the linux64 release build, under
# callgrind: instructions per process call (1 and 64 frames) and per event
# delivery (a control change: EVT_PIN_STATUS status 1 on audio pin 0), each
# path run N and 2N times and the difference divided by N, so start-up
# cancels out; for the gain example also the same work written by hand in C
# against the interface (bench/CGain.c) through the same host, and what the
# framework adds over it. Every figure once with one live instance and once
# with INSTANCES live instances called in turn. Then the heap bytes per live
# instance of each half.
#   bash scripts/example-instructions.sh [N] [INSTANCES]
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000}
instances=${2:-10000}

cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target se_example_instructions >/dev/null
driver=build/linux64/bench/se_example_instructions
lib() { echo "build/linux64/$1"; }
gain=$(lib examples/gain/Gain.sem) cgain=$(lib bench/CGain.sem)
pulse=$(lib examples/pulse/Pulse.sem) shaper=$(lib examples/waveshaper/Waveshaper.sem)

total() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$driver" "$@" 2>&1 |
    sed -n 's/^==[0-9]*== Collected : *\([0-9]*\)$/\1/p'
}
# Instructions per call of: MODULE PINS PATH LIVE
per_call() {
  local once twice
  once=$(total "$1" "$2" "$3" "$n" "$4")
  twice=$(total "$1" "$2" "$3" $((2 * n)) "$4")
  echo $(((twice - once) / n))
}

printf '%-22s %-10s %12s %12s\n' "module (audio pins)" path "1 live" "$instances live"
for row in "Gain:$gain:5" "CGain:$cgain:5" "Pulse:$pulse:2" "Waveshaper:$shaper:3"; do
  IFS=: read -r name module pins <<<"$row"
  for path in process1 process64 event; do
    printf '%-22s %-10s %12d %12d\n' "$name ($pins)" "$path" \
      "$(per_call "$module" "$pins" "$path" 1)" "$(per_call "$module" "$pins" "$path" "$instances")"
  done
done
echo
for path in process1 process64 event; do
  over=$(( $(per_call "$gain" 5 "$path" 1) - $(per_call "$cgain" 5 "$path" 1) ))
  printf 'framework over hand-written C, gain %-10s %4d instructions per call\n' "$path" "$over"
done
echo
printf '%-12s %16s %16s %14s\n' module "audio half bytes" "GUI half bytes" "audio life"
for row in "Gain:$gain:5" "CGain:$cgain:5" "Pulse:$pulse:2" "Waveshaper:$shaper:3"; do
  IFS=: read -r name module pins <<<"$row"
  printf '%-12s %16s %16s %14d\n' "$name" "$("$driver" "$module" "$pins" bytes-audio "$instances")" \
    "$("$driver" "$module" "$pins" bytes-gui "$instances")" "$(per_call "$module" "$pins" audio-life 1)"
done
