#!/usr/bin/env bash
# The whole suite under the address and undefined-behaviour sanitizers (any
# finding fails the run), built with coverage: gcovr reports the line and
# branch figures of that run (build/coverage/summary.txt, index.html).
set -euo pipefail
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
dir=build/asan-cov
cov="--coverage"
cmake --preset asan -B "$dir" -DCMAKE_CXX_FLAGS="$cov" -DCMAKE_C_FLAGS="$cov" -DCMAKE_EXE_LINKER_FLAGS="$cov" \
  -DCMAKE_SHARED_LINKER_FLAGS="$cov" >/dev/null
cmake --build "$dir" -j2 >/dev/null
find "$dir" -name '*.gcda' -delete
# The Python module's tests, and the version check that loads the module, run
# in an interpreter that is not instrumented and has no preload of the
# sanitizer runtime; the ctypes host test has one.
ctest --test-dir "$dir" --output-on-failure -j2 -E '^(Python\.pytest|Version\.OneEverywhere)$' | tail -3

mkdir -p build/coverage
# Exception paths make a branch of every call; they are left out so the branch
# figure counts the decisions of the code itself. The search stays inside the
# build: a wine prefix in the tree maps drive Z: to the whole file system, and
# walking it would merge in coverage data from other checkouts.
if ! gcovr --root . --object-directory "$dir" --filter 'src/' --filter 'include/' --filter 'sim/' \
  --exclude-throw-branches --exclude-unreachable-branches --html-details build/coverage/index.html \
  --print-summary "$dir" >build/coverage/summary.txt 2>build/coverage/gcovr.log; then
  tail -25 build/coverage/gcovr.log
  exit 1
fi
sed 's/^/coverage: /' build/coverage/summary.txt
