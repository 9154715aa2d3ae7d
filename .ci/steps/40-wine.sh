#!/usr/bin/env bash
# Both Windows targets: cross-built with warnings as errors, then every test
# suite and the example hosts run under wine, 32-bit in a win32 prefix and
# 64-bit in a win64 one. Each prefix lives under its build directory; its
# wineserver is started persistent and the prefix booted before the tests
# (otherwise every test pays for a server start), and both are stopped at
# the end, also on failure.
set -euo pipefail
root=$PWD
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

started=()
stop_servers() {
  for prefix in "${started[@]}"; do WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; done
}
trap stop_servers EXIT

# run_arch PRESET WINEARCH
run_arch() {
  local preset=$1 arch=$2 build=$root/build/$1
  local t0=$SECONDS
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  local t1=$SECONDS

  export WINEPREFIX=$build/wineprefix WINEARCH=$arch
  started+=("$WINEPREFIX")
  mkdir -p "$WINEPREFIX"  # the server wants the directory; wineboot fills it
  # Detached, output to files: a wine process left holding the step's output
  # would keep the CI log open.
  wineserver -p >"$build/wineserver.log" 2>&1 </dev/null
  wineboot -i >"$build/wineboot.log" 2>&1 </dev/null
  local t2=$SECONDS

  # One retry: a test process that wine itself lets crash (seen once in many
  # runs on a loaded machine) is run again; a test that fails twice fails.
  ctest --preset "$preset" --repeat until-pass:2
  local t3=$SECONDS
  # The hosts' own accounts, for the log.
  (cd "$build/bin" && for host in zugen_flat_host zugen_ordinal_host zugen_cxx_host zugen_handles_host; do
    echo "--- $preset: $host.exe"
    wine "$host.exe" </dev/null
  done)
  wineserver -k || true
  echo "=== wine $preset: build $((t1 - t0)) s, prefix $((t2 - t1)) s, tests $((t3 - t2)) s, total $((SECONDS - t0)) s"
}

run_arch mingw32 win32
run_arch mingw64 win64
