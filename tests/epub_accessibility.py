#!/usr/bin/env python3
"""EPUB exports checked by the accessibility checker and by epubcheck.

Four books as users make them: a plain text added to a shelf, an HTML book
with a picture and a table, a Markdown text, and an EPUB built and exported
again. Each export must leave the checker without a violation of any
severity and epubcheck without a finding. Skipped, saying why, when the
checker (scripts/install_ace.sh) or epubcheck is not installed.

usage: epub_accessibility.py VELLIX_TOOL
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

TOOL = ""
ACE = os.environ.get("VELLIX_ACE", os.path.expanduser("~/.cache/vellix-ace/ace"))
EPUBCHECK_JAR = "/usr/share/java/epubcheck.jar"


def grey_png(width, height):
    """An 8-bit grey PNG of a diagonal band."""
    rows = b"".join(b"\0" + bytes(0 if abs(x - y) < 3 else 255 for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


HTML_BOOK = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"/><title>Trees of the Valley</title></head>
<body>
<h1>Trees of the Valley</h1>
<p>The valley holds three kinds of tree, measured in the spring survey.</p>
<h2>The survey</h2>
<p><img src="band.png" alt="A map of the valley with the survey line drawn across it"/></p>
<table>
<tr><th>Tree</th><th>Height</th><th>Count</th></tr>
<tr><td>Oak</td><td>20 m</td><td>41</td></tr>
<tr><td>Ash</td><td>18 m</td><td>17</td></tr>
</table>
<h2>Notes</h2>
<ol type="a"><li>Counted twice.</li><li>Heights rounded.</li></ol>
<p>Paths such as <code>/srv/survey/2024/trees.csv</code> hold the raw counts.</p>
</body></html>
"""

MARKDOWN_BOOK = """# Field Notes

Some *words* with a [link](#list) and `code`.

## List

- one
- two

| Tree | Height |
|------|--------|
| Oak  | 20 m   |

```
keep  spaces
```
"""


def write_epub(path):
    """A small EPUB 3 of another tool's making, to be built and exported again."""
    opf = """<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">
<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
<dc:identifier id="id">urn:uuid:6f1c2a9e-4b7d-4c1e-9a3f-0d5e8b2c7a41</dc:identifier>
<dc:title>The River Walk</dc:title><dc:language>en</dc:language>
<dc:creator id="c">Ann Writer</dc:creator><meta refines="#c" property="file-as">Unknown</meta>
<meta property="dcterms:modified">2024-01-01T00:00:00Z</meta>
</metadata>
<manifest>
<item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
<item id="ch1" href="ch1.xhtml" media-type="application/xhtml+xml"/>
<item id="img" href="walk.png" media-type="image/png"/>
</manifest>
<spine><itemref idref="ch1"/></spine>
</package>"""
    xhtml = """<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops" lang="en" xml:lang="en">
<head><title>Morning</title></head><body>
<h1 id="m">Morning</h1><p>We set out along the river before the light.</p>
<p><img src="walk.png" alt="The river path at dawn"/></p>
<ol type="i" start="3"><li>Cross the bridge.</li><li>Follow the bank.</li></ol>
</body></html>"""
    nav = """<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops" lang="en" xml:lang="en">
<head><title>Contents</title></head><body>
<nav epub:type="toc"><ol><li><a href="ch1.xhtml#m">Morning</a></li></ol></nav></body></html>"""
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/epub+zip", compress_type=zipfile.ZIP_STORED)
        z.writestr("META-INF/container.xml",
                   '<?xml version="1.0"?><container version="1.0" '
                   'xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles>'
                   '<rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/>'
                   '</rootfiles></container>', compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("OEBPS/content.opf", opf, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("OEBPS/ch1.xhtml", xhtml, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("OEBPS/nav.xhtml", nav, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("OEBPS/walk.png", grey_png(64, 40), compress_type=zipfile.ZIP_DEFLATED)


def run(*args, check=True):
    done = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=120)
    if check and done.returncode != 0:
        raise AssertionError(f"vellix {' '.join(args)}: exit {done.returncode}\n{done.stderr}")
    return done


def ace_violations(epub, out):
    """Every violation the checker reports, as "impact rule (document)" lines."""
    done = subprocess.run([ACE, "--silent", "-f", "-o", out, epub], capture_output=True, text=True, timeout=300)
    report = os.path.join(out, "report.json")
    if not os.path.exists(report):
        raise AssertionError(f"no report from the checker (exit {done.returncode}):\n{done.stdout}{done.stderr}")
    with open(report, encoding="utf-8") as f:
        data = json.load(f)
    found = []
    for subject in data.get("assertions", []):
        for item in subject.get("assertions", []):
            if item.get("earl:result", {}).get("earl:outcome") == "fail":
                test = item.get("earl:test", {})
                found.append(f"{test.get('earl:impact')} {test.get('dct:title')} "
                             f"({subject.get('earl:testSubject', {}).get('url')})")
    return found


def epubcheck_findings(epub):
    done = subprocess.run(["java", "-jar", EPUBCHECK_JAR, "-q", epub], capture_output=True, text=True, timeout=300)
    lines = [line for line in (done.stdout + done.stderr).splitlines()
             if any(word in line for word in ("ERROR", "WARNING", "FATAL"))]
    if done.returncode != 0 and not lines:
        lines.append(f"exit {done.returncode}: {done.stderr}")
    return lines


class AccessibleExports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(ACE, os.X_OK):
            raise unittest.SkipTest(f"the accessibility checker is not installed at {ACE} "
                                    "(scripts/install_ace.sh installs it)")
        if not os.path.exists(EPUBCHECK_JAR) or shutil.which("java") is None:
            raise unittest.SkipTest("epubcheck is not installed (scripts/install_epubcheck.sh installs it)")
        cls.dir = tempfile.mkdtemp(prefix="vellix-a11y-")
        d = cls.dir
        shelf = os.path.join(d, "shelf")
        os.mkdir(shelf)
        with open(os.path.join(d, "walk.txt"), "w", encoding="utf-8") as f:
            f.write("A Walk by the River\n\n" + "".join(
                f"Paragraph {i} of the walk: the river bends and the path follows it.\n\n" for i in range(1, 30)))
        with open(os.path.join(d, "notes.md"), "w", encoding="utf-8") as f:
            f.write(MARKDOWN_BOOK)
        for source in ("walk.txt", "notes.md"):
            run("shelf", "add", shelf, os.path.join(d, source), "--title", source, "--author", "Ann Writer")
        cls.books = {name: os.path.join(shelf, name) for name in sorted(os.listdir(shelf))}
        with open(os.path.join(d, "trees.html"), "w", encoding="utf-8") as f:
            f.write(HTML_BOOK)
        with open(os.path.join(d, "band.png"), "wb") as f:
            f.write(grey_png(120, 60))
        cls.books["trees (HTML)"] = os.path.join(d, "trees.imp")
        run("build", "--html", os.path.join(d, "trees.html"), "-o", cls.books["trees (HTML)"])
        write_epub(os.path.join(d, "walk.epub"))
        cls.books["walk (EPUB)"] = os.path.join(d, "walk.imp")
        run("build", "--epub", os.path.join(d, "walk.epub"), "-o", cls.books["walk (EPUB)"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_every_export_passes_both_checkers(self):
        self.assertEqual(len(self.books), 4)
        for name, book in self.books.items():
            with self.subTest(book=name):
                epub = book + ".epub"
                run("export", book, "-o", epub)
                violations = ace_violations(epub, epub + ".ace")
                print(f"{name}: {len(violations)} violations", file=sys.stderr)
                self.assertEqual(violations, [])
                self.assertEqual(epubcheck_findings(epub), [])


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=2)
