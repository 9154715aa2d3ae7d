#!/usr/bin/env bash
# A short run of every fuzz target (clang, libFuzzer) from its seed corpus;
# the corpus replay itself is a test of the ordinary suite.
set -euo pipefail
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
fuzz/run.sh "${ZUGEN_FUZZ_SECONDS:-5}"
