#!/usr/bin/env bash
# The tool's completions, as Tab at a prompt calls them: commands,
# subcommands and options of the command typed so far, and file names where
# the command takes a path. Bash's in full; zsh's, when zsh is there, with
# its completion builtins standing in.
#   completion_test.sh BASH_COMPLETION ZSH_COMPLETION
set -uo pipefail
zsh_completion=$(realpath "${2:?usage: completion_test.sh BASH_COMPLETION ZSH_COMPLETION}")
# shellcheck disable=SC1090
source "$1" || exit 1
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
# What zsh's completion offers for the words given (the last one under the cursor).
zsh_expect() {
  local want=$1 got
  shift
  got=$(zsh -fc 'compadd() { [[ $1 == -- ]] && shift; print -l -- "$@"; }; _files() { print FILES; }
                 file=$1; shift; words=(vellix "$@"); CURRENT=$(( $# + 1 )); PREFIX=${@[-1]}; source "$file"' \
          zsh "$zsh_completion" "$@" | tr '\n' ' ')
  [[ " $got " == *" $want "* ]] || { echo "zsh: vellix $*<Tab> offers '$got', not '$want'" >&2; failed=1; }
}
if command -v zsh >/dev/null; then
  zsh_expect shelf ""
  zsh_expect add shelf ""
  zsh_expect --jobs shelf add --j
  zsh_expect FILES shelf add Books n
fi
exit $failed
