#!/usr/bin/env bash
# The tests that use threads (the flat and handle interfaces called from
# several threads, the owner-thread timers) under the thread sanitizer.
set -euo pipefail
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target zugen_tests >/dev/null
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/zugen_tests \
  --gtest_filter='FlatInterface.*:HandleInterface.*:OwnerThreadTimers.*' | tail -3
