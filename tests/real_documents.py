#!/usr/bin/env python3
"""Feeds documents nobody here wrote, as the repository carries them, through
the tool.

    real_documents.py TOOL SOURCE_DIR

Every licence text under tests/data (tests/data/licences and the Apache
licence beside the golden files) is converted with `vellix book text2htm`.
Every HTML page under tests/data and samples/documents, and every page
converted above, is copied to a scratch folder (packaging writes beside it),
loaded with `vellix book info` and packaged with `vellix book package`.
Every converted document and every package must parse with xmllint, and
nothing may crash (exit 0 or 1).
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

TOOL, SOURCE = sys.argv[1], pathlib.Path(sys.argv[2])
DATA = SOURCE / "tests" / "data"


def run(*args):
    return subprocess.run(args, capture_output=True, timeout=120)


def parses(path):
    return run("xmllint", "--noout", "--nonet", path).returncode == 0


def licence_texts():
    return sorted([*DATA.glob("licences/*.txt"), DATA / "apache-2.0.txt"])


def html_pages():
    pages = [p for folder in (DATA, SOURCE / "samples" / "documents") for p in folder.rglob("*")
             if p.suffix.lower() in (".htm", ".html", ".xhtml")]
    return sorted(pages)


def main():
    problems, counts = [], {"texts": 0, "html": 0, "packages": 0}
    with tempfile.TemporaryDirectory() as scratch:
        converted = []
        for source in licence_texts():
            counts["texts"] += 1
            out = os.path.join(scratch, source.stem + ".htm")
            result = run(TOOL, "book", "text2htm", source, out, "--title", source.stem, "--author", "Licensor")
            if result.returncode != 0 or not parses(out):
                problems.append(f"text2htm {source}: {result.stderr.decode(errors='replace')}")
            else:
                converted.append(pathlib.Path(out))

        for i, source in enumerate(html_pages() + converted):
            os.mkdir(os.path.join(scratch, f"doc{i}"))
            copy = shutil.copyfile(source, os.path.join(scratch, f"doc{i}", source.name))
            counts["html"] += 1
            for command in ("info", "package"):
                result = run(TOOL, "book", command, copy)
                if result.returncode not in (0, 1):
                    problems.append(f"book {command} crashed on {source} ({result.returncode})")
                elif command == "package" and result.returncode == 0:
                    counts["packages"] += 1
                    if not parses(result.stdout.decode().strip()):
                        problems.append(f"package of {source} does not parse")

    print(", ".join(f"{k} {v}" for k, v in counts.items()), *(f"PROBLEM: {p}" for p in problems), sep="\n")
    return 1 if problems or counts["texts"] == 0 or counts["packages"] == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
