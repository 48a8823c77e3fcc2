#!/usr/bin/env python3
"""Check the sources of a package (or project) and list every problem.

    check_package.py PACKAGE.opf [PACKAGE.opf ...]

Each problem is printed as FILE:LINE:COL: MESSAGE (the file as the package
names it, beside the package), the way compilers report, so that editors can
jump to it. The exit status is 1 when any problem was found or a package
could not be loaded.
"""

import os
import sys

import ikpubx

SEVERITY = {0: "note", 1: "warning", 2: "error"}


class Problems:
    def __init__(self, folder):
        self.folder = folder
        self.found = []

    def OnError(self, file, message, line, column, severity):
        if not file and line < 0:
            return  # the check's closing message
        where = os.path.join(self.folder, file) if file and not os.path.isabs(file) else file
        place = "%s:%d:%d" % (where, max(line, 0), max(column, 0))
        self.found.append("%s: %s: %s" % (place, SEVERITY.get(severity, "error"), message.strip()))


def check(path):
    project = ikpubx.Project()
    try:
        project.Load(os.path.abspath(path))
    except ikpubx.ComError as e:
        print("%s: cannot be loaded (%s)" % (path, e))
        return False
    problems = Problems(os.path.dirname(path))
    builder = ikpubx.Builder()
    cookie = builder.Advise(problems)
    try:
        builder.HTCheck(project, -1)
    finally:
        builder.Unadvise(cookie)
    for line in problems.found:
        print(line)
    return not problems.found


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    results = [check(path) for path in sys.argv[1:]]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
