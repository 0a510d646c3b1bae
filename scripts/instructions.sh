#!/usr/bin/env bash
# Counts the instructions of one GUI evaluation and of the floor (the same
# host calls and math with no framework), per mode, on the linux64 release
# build, with callgrind: each path runs N and 2N times and the difference over
# N is its cost per call, so start-up cancels out. The evaluation runs in the
# built module library, build/linux64/module/QV_Zolvexan.sem, loaded by path
# as a host loads it; the copy linked statically into the driver is counted
# beside it for comparison, and so is bench/CMath.c, the same GUI half written
# by hand in C with the same checks (CMath.sem). Also counts the instance
# life, open and process paths, through the library.
#   bash scripts/instructions.sh [N]
# Exits non-zero if the library's evaluation costs more than 65 instructions
# over the floor in any mode.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000}
limit=65

cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target se_instructions QV_Zolvexan >/dev/null
driver=build/linux64/bench/se_instructions
cmath=build/linux64/bench/CMath.sem

# Instructions the driver executes for: PATH MODE COUNT
total() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$driver" "$@" 2>&1 |
    sed -n 's/^==[0-9]*== Collected : *\([0-9]*\)$/\1/p'
}
# Instructions per call of: [--static] PATH MODE
per_call() {
  local once twice
  once=$(total "$@" "$n")
  twice=$(total "$@" $((2 * n)))
  echo $(((twice - once) / n))
}

status=0
printf '%-6s %12s %8s %12s %14s   %-22s %s\n' mode evaluation floor "math alone" "over floor" \
  "(statically linked: evaluation, over floor)" "C, same checks: evaluation, framework over it"
for mode in cos sin sqrt tan; do
  gui=$(per_call gui "$mode")
  linked=$(per_call --static gui "$mode")
  by_hand=$(per_call --library "$cmath" gui "$mode")
  floor=$(per_call floor "$mode")
  bare=$(per_call bare "$mode")
  over=$((gui - floor))
  verdict=ok
  if [ "$over" -gt "$limit" ]; then verdict="OVER $limit"; status=1; fi
  printf '%-6s %12d %8d %12d %14d  %-8s (%d, %d)          %d, %d\n' "$mode" "$gui" "$floor" "$bare" "$over" "$verdict" \
    "$linked" $((linked - floor)) "$by_hand" $((gui - by_hand))
done
echo
for path in gui-life audio-life audio-open audio-process; do
  printf '%-14s %6d instructions per call\n' "$path" "$(per_call "$path" -)"
done
exit "$status"
