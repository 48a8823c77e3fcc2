#!/usr/bin/env python3
"""Writes the bash and zsh completions of the vellix tool from its own --help.

    make_completions.py TOOL BASH_FILE ZSH_FILE

Every command and subcommand is asked for its help, as for the manual page,
so the completions offer exactly the commands and options the tool has.
Where no command or option fits, both shells complete file names: books,
folders and documents are what the commands take.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_tool_manpage import entries, help_text, sections  # noqa: E402


def option_names(lines):
    """The spellings of each option ("-o,--output TEXT" gives -o and --output)."""
    names = []
    for name, _ in entries(lines):
        for spelling in name.split()[0].split(","):
            if spelling.startswith("-"):
                names.append(spelling)
    return names


def commands(tool, path=()):
    """{"book info": (subcommands, options), ...}, "" for the tool itself."""
    _, blocks, _ = sections(help_text(tool, list(path)))
    found = dict(blocks)
    subcommands = [name.split()[0] for name, _ in entries(found.get("Subcommands", []))]
    table = {" ".join(path): (subcommands, option_names(found.get("Options", [])))}
    for name in subcommands:
        table.update(commands(tool, (*path, name)))
    return table


def bash(table):
    subs = "\n".join("        '%s') printf '%%s' '%s' ;;" % (path, " ".join(sub)) for path, (sub, _) in table.items())
    opts = "\n".join("        '%s') printf '%%s' '%s' ;;" % (path, " ".join(opt)) for path, (_, opt) in table.items())
    return """# bash completion for vellix, written from the tool's --help.
_vellix_subcommands() {
    case "$1" in
%s
    esac
}
_vellix_options() {
    case "$1" in
%s
    esac
}
_vellix() {
    local cur="${COMP_WORDS[COMP_CWORD]}" cmdpath="" word i subcommands
    # The command path: the words after "vellix" that name a command of it.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        [[ " $(_vellix_subcommands "$cmdpath") " == *" $word "* ]] && cmdpath="${cmdpath:+$cmdpath }$word"
    done
    subcommands="$(_vellix_subcommands "$cmdpath")"
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_vellix_options "$cmdpath")" -- "$cur"))
    elif [[ -n $subcommands ]]; then
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _vellix vellix
""" % (subs, opts)


def zsh(table):
    cases = "\n".join("    '%s') words=(%s) ;;" % (path, " ".join(subs + opts)) for path, (subs, opts) in table.items())
    return """#compdef vellix
# zsh completion for vellix, written from the tool's --help.
_vellix_words() {
  local -a words
  case "$1" in
%s
  esac
  reply=($words)
}
_vellix() {
  local cmdpath="" word i
  local -a reply subcommands
  for ((i = 2; i < CURRENT; i++)); do
    word=$words[i]
    _vellix_words "$cmdpath"
    [[ $word != -* && ${reply[(Ie)$word]} -gt 0 ]] && cmdpath="${cmdpath:+$cmdpath }$word"
  done
  _vellix_words "$cmdpath"
  subcommands=(${reply:#-*})
  if [[ $PREFIX == -* ]]; then
    compadd -- ${(M)reply:#-*}
  elif (( $#subcommands )); then
    compadd -- $subcommands
  else
    _files
  fi
}
_vellix "$@"
""" % cases


def main():
    tool, bash_file, zsh_file = sys.argv[1:4]
    table = commands(tool)
    with open(bash_file, "w", encoding="utf-8") as f:
        f.write(bash(table))
    with open(zsh_file, "w", encoding="utf-8") as f:
        f.write(zsh(table))


if __name__ == "__main__":
    main()
