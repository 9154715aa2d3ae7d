#!/usr/bin/env bash
# Builds the fuzz targets (clang, preset "fuzz") and runs each for the given
# number of seconds (default 60) on a scratch copy of its corpus, with its
# dictionary. Prints the executions of each run; a finding fails the script
# and leaves its input in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
cmake --preset fuzz >/dev/null
targets=$(sed -n 's/^ *zugen_fuzz_target(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
cmake --build --preset fuzz --target $(printf 'fuzz_%s ' $targets) >/dev/null
mkdir -p build/fuzz/findings
for t in $targets; do
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$t/." "$work/"
  dict=()
  # Absolute paths: a target may change its working directory.
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  log=$root/build/fuzz/findings/$t.log
  if ! build/fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix="$root/build/fuzz/findings/$t-" "$work" >"$log" 2>&1; then
    rm -rf "$work"
    tail -40 "$log" >&2
    echo "fuzz: $t found a failure; its input is in build/fuzz/findings/" >&2
    exit 1
  fi
  rm -rf "$work"
  echo "fuzz: $t: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions in ${seconds} s, nothing found"
done
