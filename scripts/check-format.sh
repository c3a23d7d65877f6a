#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (the repo's .clang-format) makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
((${#files[@]})) || exit 0
clang-format --dry-run -Werror "${files[@]}"
echo "clang-format: ${#files[@]} files clean"
