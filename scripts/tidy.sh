#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over every product folder's
# sources in BUILD_DIR's compile database. Any finding fails the run, as
# .clang-tidy makes every warning an error.
#   scripts/tidy.sh BUILD_DIR [FILE_REGEX...]
# Without a regex, every source of the product folders is checked; run
# after the build, so that generated headers exist.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:?usage: scripts/tidy.sh BUILD_DIR [FILE_REGEX...]}"
shift
[ -f "$build/compile_commands.json" ] || { echo "tidy: no compile database in $build" >&2; exit 2; }
root="$PWD"
if [ $# -eq 0 ]; then
  set -- "^$root/(formats|engine|toolkit|library|app|cli|python|samples|server)/"
fi
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "$@"
