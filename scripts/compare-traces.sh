#!/usr/bin/env bash
# Records what a host sees of the module and of the validator, so a change that
# should alter no behaviour can be checked against a recording made before it:
#
#   bash scripts/compare-traces.sh record DIR [BUILD]   # BUILD defaults to build/linux64
#   bash scripts/compare-traces.sh compare DIR [BUILD]  # records again, diffs; exit 1 on any difference
#
# Each scripted session is one semhost run: info, eval over every mode by text
# and by number with --trace, sets in several orders, sweeps, bad pins and
# values, plots; every check of the validator run alone through the hidden
# __check verb with its complete trace and result (every opcode, faults,
# re-entry, events), for several seeds; the validator's report on the math
# module and on every broken fixture module. One file per session holds the
# command, the exit code, stdout, stderr and any file the run wrote.
#
# Normalised: the paths of the build and of the scratch folder, check
# durations, and the heap growth the leak check measures (allocator noise,
# not behaviour). The traces themselves carry no addresses.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
dir=${2:-}
build=${3:-build/linux64}
if [[ ( "$mode" != record && "$mode" != compare ) || -z "$dir" ]]; then
  echo "usage: $0 record|compare DIR [BUILD]" >&2
  exit 2
fi
build=$(cd "$build" && pwd)
semhost="$build/host/semhost/semhost"
module="$build/module/QV_Zolvexan.sem"
[[ -x "$semhost" && -f "$module" ]] || { echo "no semhost or module in $build: build it first" >&2; exit 2; }
mapfile -t fixtures < <(find "$build" -name 'broken_*.sem' -o -name 'not_a_module.sem' | sort)
[[ ${#fixtures[@]} -gt 0 ]] || { echo "no broken fixture modules in $build: build se_broken_fixtures" >&2; exit 2; }

if [[ "$mode" == record ]]; then
  out="$dir"
  rm -rf "$out/sessions"
else
  [[ -d "$dir/sessions" ]] || { echo "$dir holds no recording" >&2; exit 2; }
  out=$(mktemp -d)
fi
mkdir -p "$out/sessions"
scratch=$(mktemp -d)
cleanup() {
  rm -rf "$scratch"
  if [[ "$mode" == compare ]]; then rm -rf "$out"; fi
}
trap cleanup EXIT

count=0
normalise() {
  local text=$1
  for f in "${fixtures[@]}"; do text=${text//"$f"/<fixture $(basename "$f")>}; done
  text=${text//"$module"/<module>}
  text=${text//"$semhost"/<semhost>}
  text=${text//"$scratch"/<scratch>}
  text=${text//"$build"/<build>}
  printf '%s' "$text"
}
normalise_stream() {
  local text
  text=$(cat)
  normalise "$text" | sed -E \
    -e 's/^((PASS|FAIL|CRASHED|TIMEOUT|SKIPPED) +[^ ]+) +[0-9]+ ms/\1 # ms/' \
    -e 's/"milliseconds": *[0-9.e+-]+/"milliseconds": #/g' \
    -e 's/heap growth -?[0-9]+ bytes \(audio\), -?[0-9]+ bytes \(GUI\)/heap growth # bytes (audio), # bytes (GUI)/g'
}

# run NAME ARGS...: one session; files the run writes into the scratch folder are kept too.
run() {
  local name=$1
  shift
  count=$((count + 1))
  local file
  file=$(printf '%s/sessions/%03d-%s.txt' "$out" "$count" "$name")
  rm -rf "${scratch:?}"/*
  local code=0
  "$semhost" "$@" >"$scratch/.stdout" 2>"$scratch/.stderr" </dev/null || code=$?
  {
    echo "\$ semhost $(normalise "$*")"
    echo "exit $code"
    echo "--- stdout"
    normalise_stream <"$scratch/.stdout"
    echo
    echo "--- stderr"
    normalise_stream <"$scratch/.stderr"
    echo
    for written in "$scratch"/*; do
      [[ -e "$written" ]] || continue
      echo "--- file $(basename "$written")"
      normalise_stream <"$written"
      echo
    done
  } >"$file"
}

m="$module"

# ---- info ----
run info info "$m"
run info-json info "$m" --json
run info-trace --trace info "$m"
run info-module1 info "$m" --module 1
for f in "${fixtures[@]}"; do run "info-$(basename "$f" .sem)" --trace info "$f"; done

# ---- eval: every mode by text (any case) and by number, over many values of X ----
xs=(0 -0 0.5 -0.5 1 -1 2 1.5707964 3.1415927 -3.1415927 100 1e-40 -1e-40 1e30 3.4028235e38 inf -inf nan)
for mode_text in cos SIN Sqrt tan; do
  for x in "${xs[@]}"; do run "eval-$mode_text-$x" --trace eval "$m" --set "Mode=$mode_text" --set "X=$x"; done
done
for mode_number in 0 1 2 3 4 5 -1 65536 65537 131074 2147483647 -2147483648; do
  for x in 0.5 -1 2; do run "eval-mode$mode_number-$x" --trace eval "$m" --set "Mode=$mode_number" --set "X=$x"; done
done
# Sets in other orders, repeated, by index, with --get.
run eval-x-then-mode --trace eval "$m" --set X=0.25 --set Mode=sin
run eval-repeated --trace eval "$m" --set X=1 --set X=1 --set Mode=tan --set Mode=tan --set X=-2
run eval-by-index --trace eval "$m" --set 0=2 --set 1=9
run eval-get-result --trace eval "$m" --set X=0.7 --get Result
run eval-get-all --trace eval "$m" --set X=0.7 --get Mode --get X --get Result
run eval-get-index --trace eval "$m" --set X=0.7 --get 2
run eval-defaults --trace eval "$m"
run eval-no-trace eval "$m" --set Mode=sqrt --set X=2
run eval-trace-file eval "$m" --set Mode=cos --set X=3 --trace-file "$scratch/trace.txt"
run eval-set-output --trace eval "$m" --set Result=5
run eval-module1 --trace eval "$m" --module 1 --set X=1

# ---- sweeps ----
run sweep-x --trace eval "$m" --sweep X=-1:2:7
run sweep-x-for-mode --trace eval "$m" --sweep X=-1:2:7 --for Mode
run sweep-table eval "$m" --sweep X=-1.5:1.5:13 --for Mode --table
run sweep-csv-file eval "$m" --sweep X=0:3:31 --for Mode --csv "$scratch/sweep.csv"
run sweep-one-point --trace eval "$m" --sweep X=0.5:0.5:1 --set Mode=tan
run sweep-mode --trace eval "$m" --sweep Mode=0:3:4 --set X=0.5
run sweep-mode-wide eval "$m" --sweep Mode=-2:6:9 --set X=0.5 --table
run sweep-large eval "$m" --sweep X=-10:10:2001 --for Mode
run sweep-tiny --trace eval "$m" --sweep X=-1e-38:1e-38:5 --for Mode --table
run sweep-huge eval "$m" --sweep X=-3e38:3e38:9 --for Mode --table
run plot --trace plot "$m" --sweep X=-1.5:1.5:61 --for Mode --y-range -4:4 --svg "$scratch/modes.svg"
run plot-title plot "$m" --sweep X=0:4:21 --set Mode=sqrt --title "root" --svg "$scratch/root.svg"

# ---- bad command lines and values ----
run bad-pin eval "$m" --set Nope=1
run bad-choice eval "$m" --set Mode=cosine
run bad-number eval "$m" --set X=abc
run bad-number-enum eval "$m" --set Mode=1.5
run bad-set-form eval "$m" --set X
run bad-get eval "$m" --get Nope
run bad-sweep eval "$m" --sweep X=1:2
run bad-sweep-count eval "$m" --sweep X=1:2:0
run bad-sweep-pin eval "$m" --sweep Result=0:1:3
run bad-for eval "$m" --sweep X=0:1:3 --for X
run for-without-sweep eval "$m" --for Mode
run csv-without-sweep eval "$m" --csv "$scratch/x.csv"
run bad-y-range plot "$m" --sweep X=0:1:3 --y-range 2:1 --svg "$scratch/x.svg"
run unwritable-csv eval "$m" --sweep X=0:1:3 --csv /nonexistent/dir/x.csv
run unwritable-trace eval "$m" --trace-file /nonexistent/dir/t.txt
run unknown-verb frobnicate "$m"
run unknown-option eval "$m" --frob
run no-verb
run missing-library eval /nonexistent/module.sem
run validate-no-module validate
run validate-no-check validate "$m" --only nothing-matches

# ---- every check alone, in this process, with its complete trace and result ----
mapfile -t checks < <("$semhost" validate --list | awk 'NF && $1 ~ /^[a-z]+\.[a-z-]+$/ {print $1}')
[[ ${#checks[@]} -ge 20 ]] || { echo "could not read the list of checks" >&2; exit 2; }
for seed in 1 2 3 7 42 1000; do
  for check in "${checks[@]}"; do
    run "check-$check-seed$seed" --trace __check "$check" "$m" --result "$scratch/result.json" --seed "$seed" \
      --instances 40 --steps 400
  done
done

# ---- the validator's report ----
run validate-list validate --list
for seed in 1 2 3 4 5; do run "validate-seed$seed" --trace validate "$m" --seed "$seed" --instances 500 --steps 1000; done
run validate-default validate "$m" --seed 9
run validate-json validate "$m" --json --seed 11 --instances 500
run validate-repeat validate "$m" --seed 5 --repeat 2 --only 'gui|robustness' --steps 300
run validate-only validate "$m" --seed 6 --only '^pins\.' --trace
run validate-skip validate "$m" --seed 6 --skip 'hygiene|robustness'
for f in "${fixtures[@]}"; do
  for seed in 1 2; do
    run "validate-$(basename "$f" .sem)-seed$seed" --trace validate "$f" --seed "$seed" --timeout-ms 3000 \
      --instances 500 --steps 1000
  done
  run "validate-$(basename "$f" .sem)-json" validate "$f" --json --seed 3 --timeout-ms 3000 --instances 500 --steps 1000
done

echo "$count sessions recorded"
if [[ "$mode" == compare ]]; then
  if diff -r "$dir/sessions" "$out/sessions"; then
    echo "no difference from $dir"
  else
    echo "differences from $dir (above)" >&2
    exit 1
  fi
fi
