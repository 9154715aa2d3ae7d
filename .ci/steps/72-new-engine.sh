#!/usr/bin/env bash
# HACKING's recipe for a new engine, run: scripts/new-engine adds an engine
# Demo to a clone of the committed tree (build/new-engine/src), which is built
# in its own ci preset tree and tested whole; the tool then lists the engine's
# property paths, enters its mode by its rule, and keeps its record part
# through a save and a load. The recipe and the script cannot drift from the
# code without this step failing.
set -euo pipefail
root=$PWD
scratch=$root/build/new-engine
rm -rf "$scratch"
mkdir -p "$scratch"
git clone -q "$root" "$scratch/src"
cd "$scratch/src"
scripts/new-engine Demo
# What it wrote keeps the house rules: layers, and the format.
bash .ci/steps/11-layers.sh
clang-format --dry-run --Werror $(git ls-files --modified --others --exclude-standard '*.h' '*.cpp')

if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  # Paths relative to the tree: what the new engine leaves alone comes from the cache.
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
# The benchmarks prove nothing here.
cmake --preset ci -DZUGEN_BUILD_BENCH=OFF >/dev/null
cmake --build build/ci -j2 >/dev/null
ctest --test-dir build/ci -j2 --output-on-failure | tail -3

zugen4=build/ci/tools/zugen4
state=$scratch/state.zg4
fail() {
  echo "72-new-engine: $*" >&2
  exit 1
}
props=$("$zugen4" --sim --state "$state" props Demo)
for path in ChA.Demo.Offset ChA.Demo.Sync ChB.Demo.Offset ChB.Demo.Sync; do
  grep -q "^$path\b" <<<"$props" || fail "no property $path in: $props"
done
modes=$("$zugen4" --sim --state "$state" props ChA.Mode)
grep -q '{.*[{ ]Demo[,}]' <<<"$modes" || fail "ChA.Mode has no enumerator Demo: $modes"

# Its row of the mode rules: joint external modulation (AB1) needs both channels.
"$zugen4" --sim --state "$state" set ChB.Mode=extmodAB1 >/dev/null
"$zugen4" --sim --state "$state" set ChA.Mode=Demo ChA.Demo.Offset=750 ChA.Demo.Sync=true
got=$("$zugen4" --sim --state "$state" get ChA.Mode ChB.Mode)
[[ $got == $'ChA.Mode = ZGMdC_Demo\nChB.Mode = ZGMdC_off' ]] || fail "Demo on A beside AB1 on B gave: $got"
"$zugen4" --sim --state "$state" save "$scratch/demo.zg4"
"$zugen4" --sim --state "$state" reset >/dev/null
[[ $("$zugen4" --sim --state "$state" get ChA.Demo.Offset) == 100 ]] || fail "reset kept the Demo engine's Offset"
"$zugen4" --sim --state "$state" load "$scratch/demo.zg4"
got=$("$zugen4" --sim --state "$state" get ChA.Mode ChA.Demo.Offset ChA.Demo.Sync)
for want in "ChA.Mode = ZGMdC_Demo" "ChA.Demo.Offset = 750" "ChA.Demo.Sync = true"; do
  grep -qx "$want" <<<"$got" || fail "after save and load, not '$want' in: $got"
done
echo "72-new-engine: Demo builds, passes the suite, has its paths, its mode and its record part"
