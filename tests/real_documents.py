#!/usr/bin/env python3
"""Feeds documents nobody here wrote through the tool.

Every text file under /usr/share/common-licenses is converted with
`vellix book text2htm`; up to 300 HTML files under /usr/share/doc are copied
to a scratch folder (loading may rewrite them), loaded with `vellix book
info` and packaged with `vellix book package`. Every converted document and
every package must parse with xmllint, and nothing may crash.
"""
import os
import shutil
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
LICENSES = "/usr/share/common-licenses"
DOCS = "/usr/share/doc"
MAX_HTML = 300


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, timeout=120)


def crashed(result):
    return result.returncode not in (0, 1)


def parses(path):
    return subprocess.run(["xmllint", "--noout", "--nonet", path],
                          capture_output=True).returncode == 0


def main():
    problems = []
    counts = dict.fromkeys(["texts", "texts_ok", "html", "html_loaded", "html_reported",
                            "packages_ok", "packages_reported"], 0)
    with tempfile.TemporaryDirectory() as scratch:
        for name in sorted(os.listdir(LICENSES)):
            source = os.path.join(LICENSES, name)
            if not os.path.isfile(source):
                continue
            counts["texts"] += 1
            out = os.path.join(scratch, name + ".htm")
            result = run("book", "text2htm", source, out, "--title", name,
                         "--author", "Debian", "--category", "Licences")
            if result.returncode != 0:
                problems.append(f"text2htm {source}: {result.stderr.decode(errors='replace')}")
            elif not parses(out):
                problems.append(f"converted {source} does not parse")
            else:
                counts["texts_ok"] += 1

        html = []
        for root, _, files in os.walk(DOCS):
            for name in sorted(files):
                if name.lower().endswith((".htm", ".html")) and len(html) < MAX_HTML:
                    html.append(os.path.join(root, name))
        for i, source in enumerate(html):
            folder = os.path.join(scratch, f"doc{i}")
            os.mkdir(folder)
            copy = os.path.join(folder, os.path.basename(source))
            shutil.copyfile(source, copy)
            counts["html"] += 1
            info = run("book", "info", copy)
            if crashed(info):
                problems.append(f"book info crashed on {source} ({info.returncode})")
                continue
            if info.returncode == 0:
                counts["html_loaded"] += 1
            else:
                counts["html_reported"] += 1  # a clear error, such as a document without a head
            package = run("book", "package", copy)
            if crashed(package):
                problems.append(f"book package crashed on {source} ({package.returncode})")
            elif package.returncode == 0:
                opf = package.stdout.decode().strip()
                if parses(opf):
                    counts["packages_ok"] += 1
                else:
                    problems.append(f"package of {source} does not parse")
            else:
                counts["packages_reported"] += 1
                print(f"note: {source}: {package.stderr.decode(errors='replace').strip()}")

    print(", ".join(f"{k} {v}" for k, v in counts.items()))
    for p in problems:
        print("PROBLEM:", p)
    if counts["texts"] == 0:
        print("no text files found under", LICENSES)
        return 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
