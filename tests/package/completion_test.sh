#!/usr/bin/env bash
# The bash completion of the tool, as Tab at a prompt calls it: commands,
# subcommands and options of the command typed so far, and file names where
# the command takes a path.
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
# shellcheck disable=SC1090
source "${1:?usage: completion_test.sh COMPLETION_FILE}" || exit 1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" && mkdir Books && touch notes.md story.epub
failed=0

# Completes the words given (the last one is the word under the cursor).
complete_line() {
  COMP_WORDS=(vellix "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _vellix
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

expect() {
  local want=$1
  shift
  local got
  got=$(complete_line "$@")
  if [[ " $got " != *" $want "* ]]; then
    echo "vellix $*<Tab> offers '$got', not '$want'" >&2
    failed=1
  fi
}
refuse() {
  local unwanted=$1
  shift
  local got
  got=$(complete_line "$@")
  if [[ " $got " == *" $unwanted "* ]]; then
    echo "vellix $*<Tab> offers '$unwanted': $got" >&2
    failed=1
  fi
}

expect shelf sh
expect book ""
expect add shelf a
expect --jobs shelf add --j
expect --help shelf list --h
expect notes.md shelf add Books no
expect story.epub shelf add Books s
expect Books shelf add B
refuse add book a        # "add" is the shelf's
refuse --jobs book info --j
exit $failed
