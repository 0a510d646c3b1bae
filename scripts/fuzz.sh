#!/usr/bin/env bash
# Runs one fuzz target for a while: bash scripts/fuzz.sh <name> <seconds> [libFuzzer flags...]
# Targets: it_enum_list (the enumeration-list iterator), module_records (both
# halves through their records), pe_layout (the PE32 loader's layout step).
# Configures and builds the fuzz preset (target <name>_fuzz only), then fuzzes
# in one process on build/fuzz/corpus/<name>, a working copy of the checked-in
# seeds in fuzz/corpus/<name> that keeps what earlier runs found. A finding
# ends the run with a non-zero status and leaves the input in
# build/fuzz/artifacts/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: $0 <target> <seconds> [libFuzzer flags...]; targets: it_enum_list, module_records, pe_layout" >&2
  exit 2
fi
name=$1
seconds=$2
shift 2

seeds="fuzz/corpus/$name"
corpus="build/fuzz/corpus/$name"
artifacts="build/fuzz/artifacts/$name"
log="build/fuzz/$name.log"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${name}_fuzz"
mkdir -p "$corpus" "$artifacts"
[ -d "$seeds" ] && cp -f "$seeds"/* "$corpus"/

# Inputs as long as the longest seed, at least 512 bytes.
max_len=512
for seed in "$seeds"/*; do
  if [ -f "$seed" ] && [ "$(stat -c %s "$seed")" -gt "$max_len" ]; then max_len=$(stat -c %s "$seed"); fi
done

status=0
started=$SECONDS
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "build/fuzz/fuzz/${name}_fuzz" "$corpus" \
  -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@" >"$log" 2>&1 || status=$?

elapsed=$((SECONDS - started))
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  echo "$name: FINDING after ${runs:-?} inputs (exit $status); log: $log, input in $artifacts/" >&2
  exit "$status"
fi
echo "$name: ${runs:-?} inputs run in ${elapsed}s without a finding; corpus $(ls "$corpus" | wc -l) files; log: $log"
