#!/usr/bin/env bash
# Builds the native preset's module and semhost, then shows the module the way
# a new user first sees it: its properties and pins (semhost info), and a table
# of "Result" for every mode over a few values of X (semhost eval --sweep).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux64 >/dev/null
cmake --build --preset linux64 --target semhost
semhost=build/linux64/host/semhost/semhost
module=build/linux64/module/QV_Zolvexan.sem
printf '\n$ semhost info %s\n' "$module"
"$semhost" info "$module"
printf '\n$ semhost eval %s --sweep X=-1:2:7 --for Mode --table\n' "$module"
"$semhost" eval "$module" --sweep X=-1:2:7 --for Mode --table
