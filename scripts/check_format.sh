#!/usr/bin/env bash
# check_format.sh: fails when a C++ file of the tree is not formatted as
# .clang-format says. `clang-format -i FILE...` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"
echo "Formatting: ${#files[@]} files as .clang-format says"
