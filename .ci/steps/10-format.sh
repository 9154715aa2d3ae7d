#!/usr/bin/env bash
# Every C and C++ file follows .clang-format (Debian's clang-format 14).
set -euo pipefail
files=$(git ls-files '*.h' '*.hpp' '*.cpp' '*.c' '*.cc')
clang-format --dry-run --Werror $files
echo "format: $(echo "$files" | wc -l) files follow .clang-format"
