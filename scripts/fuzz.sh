#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS: replays the seed corpus of every fuzz target
# (each folder fuzz/corpus/<target>), then, when SECONDS > 0, fuzzes each
# target for SECONDS seconds on a scratch copy of its corpus, with the
# dictionary fuzz/<word>.dict of a target named fuzz_<word>_... when there
# is one. Fails on the first crash and prints where its input was kept.
# The targets that read device books run with at most 512 MB of memory:
# the reader's documented limits must keep any book within it.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: scripts/fuzz.sh BUILD_DIR SECONDS" >&2; exit 2; }
bin="$(cd "$1" && pwd)/bin"
seconds="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

work="$(mktemp -d)"
artifacts="$(mktemp -d "${TMPDIR:-/tmp}/vellix-fuzz-artifacts.XXXXXX")"
trap 'rm -rf "$work"; rmdir "$artifacts" 2>/dev/null || true' EXIT

crashed() {  # crashed TARGET LOG
  tail -n 40 "$2" >&2
  echo "FAILED: $1 crashed; input kept in:" >&2
  ls -d "$artifacts"/* >&2 || true
  exit 1
}

targets=()
for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done

for t in "${targets[@]}"; do
  [ -x "$bin/$t" ] || { echo "FAILED: $bin/$t was not built" >&2; exit 1; }
  echo "== $t: replaying $(ls "$root/fuzz/corpus/$t" | wc -l) seeds"
  limits=()
  case "$t" in fuzz_edition_reader | fuzz_book_viewer) limits+=(-rss_limit_mb=512) ;; esac
  "$bin/$t" "${limits[@]}" -artifact_prefix="$artifacts/$t-" "$root/fuzz/corpus/$t"/* >"$work/$t-replay.log" 2>&1 ||
    crashed "$t" "$work/$t-replay.log"
done

[ "$seconds" -gt 0 ] || exit 0
for t in "${targets[@]}"; do
  echo "== $t: fuzzing for $seconds s"
  word="${t#fuzz_}"
  dict="$root/fuzz/${word%%_*}.dict"
  options=()
  [ -f "$dict" ] && options+=(-dict="$dict")
  case "$t" in fuzz_edition_reader | fuzz_book_viewer) options+=(-rss_limit_mb=512) ;; esac
  cp -r "$root/fuzz/corpus/$t" "$work/$t-corpus"
  "$bin/$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
    "${options[@]}" "$work/$t-corpus" >"$work/$t.log" 2>&1 ||
    crashed "$t" "$work/$t.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
  cov=$(grep -o "cov: [0-9]*" "$work/$t.log" | tail -n 1 || true)
  echo "   $runs executions, $cov"
done
