#!/usr/bin/env python3
"""Feeds documents nobody here wrote through the tool.

Every text file under /usr/share/common-licenses is converted with
`vellix book text2htm`; up to 300 HTML files under /usr/share/doc are copied
to a scratch folder (loading may rewrite them), loaded with `vellix book
info` and packaged with `vellix book package`. Every converted document and
every package must parse with xmllint, and nothing may crash (exit 0 or 1).
"""
import os
import shutil
import subprocess
import sys
import tempfile

TOOL, LICENSES = sys.argv[1], "/usr/share/common-licenses"


def run(*args):
    return subprocess.run(args, capture_output=True, timeout=120)


def parses(path):
    return run("xmllint", "--noout", "--nonet", path).returncode == 0


def main():
    problems, counts = [], {"texts": 0, "html": 0, "packages": 0}
    with tempfile.TemporaryDirectory() as scratch:
        for name in sorted(n for n in os.listdir(LICENSES) if os.path.isfile(os.path.join(LICENSES, n))):
            counts["texts"] += 1
            source, out = os.path.join(LICENSES, name), os.path.join(scratch, name + ".htm")
            result = run(TOOL, "book", "text2htm", source, out, "--title", name, "--author", "Debian")
            if result.returncode != 0 or not parses(out):
                problems.append(f"text2htm {source}: {result.stderr.decode(errors='replace')}")

        html = sorted(os.path.join(root, name) for root, _, files in os.walk("/usr/share/doc")
                      for name in files if name.lower().endswith((".htm", ".html")))[:300]
        for i, source in enumerate(html):
            os.mkdir(os.path.join(scratch, f"doc{i}"))
            copy = shutil.copyfile(source, os.path.join(scratch, f"doc{i}", os.path.basename(source)))
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
    return 1 if problems or counts["texts"] == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
