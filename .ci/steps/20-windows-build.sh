#!/usr/bin/env bash
# The Windows builds must keep compiling with warnings as errors.
set -euo pipefail
cmake --workflow --preset mingw64
cmake --workflow --preset mingw32
