#!/usr/bin/env python3
"""Publish every document of a folder onto a bookshelf, then list the shelf.

    publish_folder.py SHELF FOLDER [--author NAME] [--category NAME]

Every .htm, .html, .txt, .md, .markdown, .epub, .opf and .odf file of FOLDER
becomes a book file on SHELF, with a progress line while it is published. A
Markdown document's title is its first heading and an EPUB's its own; a text
file has no title of its own: its first line is taken. --author and --category fill in what a
document does not say. Afterwards the shelf is printed sorted by category,
title and author. A document that fails is reported and the others go on;
the exit status is 1 when any failed.
"""

import argparse
import html
import os
import sys

import vellix

DOCUMENT_EXTENSIONS = {".htm", ".html", ".txt", ".md", ".markdown", ".epub", ".opf", ".odf"}


class ProgressLine:
    """Shows how far the publication of one document has come."""

    def __init__(self, label):
        self.label = label
        self.problems = []
        self.terminal = sys.stdout.isatty()
        self.percent = -1

    def OnSourceStart(self, file, number, total):
        self.show(0)

    def OnParserFeedback(self, done, total):
        self.show(100 * done // total if total > 0 else 100)

    def OnError(self, file, message, line, column, severity):
        self.problems.append("%s:%d:%d: %s" % (os.path.basename(file) or self.label, line, column, message.strip()))

    def show(self, percent):
        if percent == self.percent:
            return
        self.percent = percent
        if self.terminal:
            sys.stdout.write("\r  %s: %3d%%" % (self.label, percent))
            sys.stdout.flush()

    def finish(self, outcome):
        if self.terminal:
            sys.stdout.write("\r")
        print("  %s: %s" % (self.label, outcome))
        for problem in self.problems:
            print("    " + problem)


def first_line(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.strip():
                return line.strip()
    return os.path.splitext(os.path.basename(path))[0]


def publish(shelf, path, author, category):
    name = os.path.basename(path)
    book = vellix.Book(path)
    # Publishing a Markdown document titles it by its first heading.
    if not book.Title and book.Extension not in ("md", "markdown"):
        book.Title = first_line(path) if book.Extension == "txt" else os.path.splitext(name)[0]
    if not book.Author and author:
        book.Author = author
    if not book.Category and category:
        book.Category = category
    progress = ProgressLine(name)
    before = set(os.listdir(shelf.Directory))
    try:
        shelf.Add(book, events=progress)
    except vellix.AutomationError as e:
        progress.finish("failed: %s" % e)
        return False
    written = sorted(set(os.listdir(shelf.Directory)) - before)
    progress.finish("%s -> %s" % (book.Title, ", ".join(written) or "nothing written"))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("shelf")
    parser.add_argument("folder")
    parser.add_argument("--author", default="")
    parser.add_argument("--category", default="")
    args = parser.parse_args()

    # Absolute paths: the packages made beside the documents name their
    # destination and log folders relative to nothing else.
    args.shelf = os.path.abspath(args.shelf)
    args.folder = os.path.abspath(args.folder)
    try:
        shelf = vellix.Bookshelf(args.shelf)
    except FileNotFoundError:
        sys.exit("publish_folder.py: no bookshelf folder %s" % args.shelf)
    documents = sorted(
        os.path.join(args.folder, f)
        for f in os.listdir(args.folder)
        if os.path.splitext(f)[1].lower() in DOCUMENT_EXTENSIONS and os.path.isfile(os.path.join(args.folder, f)))
    print("Publishing %d document(s) from %s onto %s:" % (len(documents), args.folder, args.shelf))
    failed = sum(not publish(shelf, path, args.author, args.category) for path in documents)

    shelf.Sort()
    print()
    print("The shelf, by category, title and author:")
    for book in shelf:
        # Device books keep their text markup-escaped.
        print("  %-12s %-40s %s" % (html.unescape(book.Category), html.unescape(book.Title), html.unescape(book.Author)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
