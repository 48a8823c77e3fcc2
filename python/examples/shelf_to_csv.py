#!/usr/bin/env python3
"""Export a bookshelf as CSV, one row per book.

    shelf_to_csv.py SHELF [-o FILE] [--sorted]

Columns: title, author, category, identifier, pages, size, encrypted,
periodical, issue and file. Books that cannot be read stop the export with
the library's error. Without -o the CSV goes to standard output.
"""

import argparse
import csv
import html
import os
import sys

import vellix

COLUMNS = ["title", "author", "category", "identifier", "pages", "size", "encrypted", "periodical", "issue", "file"]


def rows(shelf):
    for book in shelf.Books:
        yield [
            html.unescape(book.Title),
            html.unescape(book.Author),
            html.unescape(book.Category),
            html.unescape(book.BookId),
            book.Pages,
            book.Size,
            "yes" if book.Encrypted else "no",
            "yes" if book.IsPeriodical else "no",
            book.IssueNumber if book.IsPeriodical else "",
            os.path.basename(book.Path.rstrip("/")),
        ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("shelf")
    parser.add_argument("-o", "--output")
    parser.add_argument("--sorted", action="store_true", help="by category, title and author")
    args = parser.parse_args()

    shelf = vellix.Bookshelf()
    try:
        shelf.Load(args.shelf)
    except vellix.AutomationError as e:
        sys.exit("shelf_to_csv.py: %s" % e)
    if shelf.Books is None:
        sys.exit("shelf_to_csv.py: no bookshelf folder %s" % args.shelf)
    if args.sorted:
        shelf.Sort()
    out = open(args.output, "w", newline="", encoding="utf-8") if args.output else sys.stdout
    try:
        writer = csv.writer(out)
        writer.writerow(COLUMNS)
        writer.writerows(rows(shelf))
    finally:
        if out is not sys.stdout:
            out.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
