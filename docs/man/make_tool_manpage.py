#!/usr/bin/env python3
"""Writes the manual page of the vellix tool from its own --help.

    make_tool_manpage.py TOOL VERSION OUTPUT

Every command and subcommand is asked for its help, so the page documents
each of them exactly as the tool describes itself, and stays current as
commands are added.
"""

import re
import subprocess
import sys


def help_text(tool, path):
    result = subprocess.run(["vellix", *path, "--help"], executable=tool, capture_output=True, text=True, check=True)
    return result.stdout


def sections(text):
    """The help's blocks: the lines before the first heading, then
    (heading, lines) for "Options:", "Positionals:", "Subcommands:", and
    the footer: the unindented lines after a block."""
    intro, blocks, current, footer = [], [], None, []
    for line in text.splitlines():
        heading = re.fullmatch(r"([A-Z][A-Za-z ]*):", line)
        if heading:
            current = (heading.group(1), [])
            blocks.append(current)
        elif current is None:
            intro.append(line)
        elif line.strip() and not line.startswith(" "):
            footer.append(line.strip())
        else:
            current[1].append(line)
    return intro, blocks, footer


def entries(lines):
    """(name, description) pairs of a two-column block; continuation lines
    join the description before them."""
    found = []
    for line in lines:
        if not line.strip():
            continue
        match = re.match(r"  (\S.*?)(?:\s{2,}(\S.*))?$", line)
        if line.startswith("   " + " " * 10) and found:
            found[-1] = (found[-1][0], (found[-1][1] + " " + line.strip()).strip())
        elif match:
            found.append((match.group(1).strip(), (match.group(2) or "").strip()))
    return found


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


class Page:
    def __init__(self):
        self.lines = []

    def add(self, *lines):
        self.lines.extend(lines)

    def options(self, title, items):
        for name, description in items:
            if name.startswith("-h,--help"):
                continue
            self.add(".TP", "\\fB%s\\fR" % roff(name), roff(description or title))


def walk(tool, path, page, depth):
    intro, blocks, footer = sections(help_text(tool, path))
    description = [line for line in intro if line.strip() and not line.startswith("Usage:")]
    usage = [line[len("Usage: "):] for line in intro if line.startswith("Usage: ")]
    subcommands = next((entries(lines) for name, lines in blocks if name == "Subcommands"), [])
    if path:
        page.add(".SS \"%s\"" % roff("vellix " + " ".join(path)) if depth > 1 else ".SH \"%s\"" % roff(
            "VELLIX " + " ".join(path).upper()))
        if depth == 1:
            page.add(".PP")
        page.add(roff(" ".join(description)))
        if usage and not subcommands:
            page.add(".PP", ".B Usage:", "\\fB%s\\fR" % roff(usage[0]))
        for name, lines in blocks:
            if name in ("Positionals", "Options") and any(not e[0].startswith("-h,--help") for e in entries(lines)):
                page.add(".PP", "%s:" % name, ".RS")
                page.options(name, entries(lines))
                page.add(".RE")
        if footer:
            page.add(".PP", roff(" ".join(footer)))
    for name, _ in subcommands:
        walk(tool, path + [name.split()[0]], page, depth + 1)
    return description, subcommands


# What "vellix serve" answers, beyond what its options say.
SERVING = [
    ".SH \"THE SHELF SERVER\"",
    "\\fBvellix serve\\fR \\fISHELF\\fR answers over HTTP, on 127.0.0.1 unless \\fB\\-\\-bind\\fR says otherwise:",
    ".TP", ".B /list.txt",
    "The bookshelf text for devices. Each book's address is the server's address (from",
    "\\fB\\-\\-base\\-url\\fR, else from the request's Host) followed by \\fBbook?BOOK_ID=\\fR...;",
    "that address answers the book file byte for byte.",
    ".TP", ".B /booklist.txt", "The book list text, each book addressed as \\fB/books/\\fINAME\\fB.imp\\fR.",
    ".TP", ".B /books/\\fINAME\\fB.imp",
    "A book file, with ETag, Last\\-Modified, ranges (resumable downloads) and HEAD.",
    ".TP", ".B /", "The catalogue: every book with its first page, a search box and sortable columns.",
    ".TP", ".B /books/\\fINAME",
    "A book's page and reader; \\fB/books/\\fINAME\\fB/pages/\\fIN\\fB.png\\fR draws page \\fIN\\fR at the device's",
    "size, or at \\fB?width=\\fR, \\fBheight=\\fR, \\fBdepth=\\fR and \\fBzoom=1\\fR.",
    ".TP", ".B /opds", "An OPDS 1.2 catalogue: by category, by author, and search (OpenSearch).",
    ".TP", ".B POST /publish",
    "Only with \\fB\\-\\-upload\\-token\\fR: a form with the file and its title, author and category, and the",
    "token as \\fBAuthorization: Bearer\\fR or the form's \\fBtoken\\fR field. The document is published onto the",
    "shelf; \\fB/publish/\\fIJOB\\fB/events\\fR streams the build's events.",
    ".PP",
    "Only book files in the shelf folder are served; other paths, and links leading out of the shelf, answer 404.",
    "Books added, replaced or removed on disk show without a restart. One line per request is logged on",
    "standard error in the common log format. SIGTERM or Ctrl\\-C stops the server after the requests in",
    "flight and any running publication. The unit \\fBvellix\\-serve@.service\\fR runs it as a service, its",
    "instance naming the shelf's path (\\fBsystemd\\-escape \\-\\-path\\fR); options go in",
    "\\fI/etc/default/vellix\\-serve\\fR as \\fBVELLIX_SERVE_OPTIONS\\fR.",
]


# A publisher's day with the tool, from documents to the device and the web.
EXAMPLES = [
    ".SH EXAMPLES",
    ".TP", "\\fBvellix shelf add ~/Books notes.md story.epub chapter.htm\\fR",
    "Publishes the three documents onto the bookshelf folder \\fI~/Books\\fR, one book file each.",
    ".TP", "\\fBvellix shelf add ~/Books \\-\\-from\\-list inbox.txt \\-\\-jobs 4\\fR",
    "Publishes every path listed in \\fIinbox.txt\\fR, four at a time.",
    ".TP", "\\fBvellix shelf list ~/Books \\-\\-sorted\\fR",
    "Lists the titles of the shelf by category, title and author.",
    ".TP", "\\fBvellix view ~/Books/ABCDEFGH.imp \\-\\-page 1 \\-o page.png\\fR",
    "Draws the first page as the device shows it.",
    ".TP", "\\fBvellix export ~/Books/ABCDEFGH.imp \\-o story.epub\\fR",
    "Writes a book file this program built as an EPUB book.",
    ".TP", "\\fBvellix serve ~/Books \\-\\-port 8080\\fR",
    "Serves the shelf to devices and browsers.",
    ".PP",
    "With the bash or zsh completion installed, the Tab key completes commands, options and file names.",
]


def main():
    tool, version, output = sys.argv[1:4]
    page = Page()
    page.add('.TH VELLIX 1 "" "Vellix Publisher %s" "User Commands"' % roff(version),
             ".SH NAME", "vellix \\- the Vellix Publisher command\\-line tool",
             ".SH SYNOPSIS", ".B vellix", "\\fICOMMAND\\fR [\\fISUBCOMMAND\\fR] [\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]",
             ".br", ".B vellix", "\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR",
             ".SH DESCRIPTION")
    body = Page()
    description, commands = walk(tool, [], body, 0)
    page.add(roff(" ".join(description)) + ".",
             "Each command is a thin call into the Vellix library and toolkit; every command and subcommand",
             "also prints its own help with \\fB\\-\\-help\\fR.", ".PP", "The commands:", ".RS")
    page.options("", commands)
    page.add(".RE")
    page.lines.extend(body.lines)
    page.lines.extend(SERVING)
    page.lines.extend(EXAMPLES)
    page.add(".SH \"EXIT STATUS\"", ".TP", "0", "Success.", ".TP", "1",
             "The library reported an error (printed as \\fIdescription\\fR: \\fIdetail\\fR (\\fInumber\\fR)),",
             "or standard output could not be written.", ".TP", "2", "The command line was not understood.",
             ".SH ENVIRONMENT", ".TP", ".B XDG_CONFIG_HOME",
             "Where the settings are read from (default \\fI~/.config\\fR): the bookshelf and device folders in",
             "\\fIOrvoTools/Vellixlibrarian.conf\\fR. They are never written.", ".TP", ".B VELLIX_FONT_DIR",
             "A folder of DejaVu fonts to lay out and draw pages with, instead of the installed ones.",
             ".SH \"SEE ALSO\"", ".BR vellix\\-publisher (1)")
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(page.lines) + "\n")


if __name__ == "__main__":
    main()
