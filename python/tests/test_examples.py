"""The example scripts run as a user runs them: the bundled sample documents
published onto a copy of the sample shelf, first pages rendered to PNG, the
shelf exported as CSV, and packages checked with their problems listed as
file:line:col."""

import csv
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SOURCE = os.environ["VELLIX_SOURCE_DIR"]
MAKE_SAMPLES = os.environ["VELLIX_MAKE_SAMPLES"]
EXAMPLES = os.path.join(SOURCE, "python", "examples")


def run_example(name, *args):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *args], capture_output=True, text=True,
                          timeout=300)


def read_grey_png(path):
    """(width, height, pixels) of an 8-bit grey PNG without filters."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks[kind] = chunks.get(kind, b"") + data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, bits, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (bits, colour) == (8, 0)
    raw = zlib.decompress(chunks[b"IDAT"])
    rows = [raw[y * (width + 1) + 1:(y + 1) * (width + 1)] for y in range(height)]
    return width, height, b"".join(rows)


def books_in(shelf):
    """The shelf's entries, without the sample maker's hidden marker."""
    return sorted(name for name in os.listdir(shelf) if not name.startswith("."))


class ExamplesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vellix-examples-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.shelf = os.path.join(self.dir, "shelf")
        subprocess.run([MAKE_SAMPLES, self.shelf], check=True, stdout=subprocess.DEVNULL)
        self.books = books_in(self.shelf)

    def write_markdown_and_epub(self, folder):
        """A Markdown document and an EPUB book (one this program wrote), as users bring them."""
        import vellix

        with open(os.path.join(folder, "field-notes.md"), "w", encoding="utf-8") as f:
            f.write("# Field Notes\n\nThe *heron* came back.\n\n- tide low\n- wind west\n")
        page = os.path.join(self.dir, "harbour.htm")
        with open(page, "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<html xmlns="http://www.w3.org/1999/xhtml"><head>'
                    "<title>Harbour Lights</title></head><body><p>Boats at dusk.</p></body></html>\n")
        vellix.Book(page).Save(os.path.join(self.dir, "harbour.imp"))
        vellix.Book(os.path.join(self.dir, "harbour.imp")).SaveAsEpub(os.path.join(folder, "harbour.epub"))

    def test_publishes_the_sample_documents_and_prints_the_sorted_shelf(self):
        documents = os.path.join(self.dir, "documents")
        shutil.copytree(os.path.join(SOURCE, "samples", "documents"), documents)
        self.write_markdown_and_epub(documents)
        result = run_example("publish_folder.py", self.shelf, documents, "--author", "Tom Hale", "--category",
                             "Travel")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        added = sorted(set(books_in(self.shelf)) - set(self.books))
        self.assertEqual(len(added), 4, added)
        self.assertTrue(all(re.fullmatch(r"[A-Z]{8}\.imp", name) for name in added), added)

        listing = result.stdout.split("The shelf, by category, title and author:\n", 1)[1].splitlines()
        self.assertEqual(len(listing), len(self.books) + 4)
        self.assertTrue(any("Field Notes" in line and "Tom Hale" in line for line in listing), listing)
        self.assertTrue(any("Harbour Lights" in line for line in listing), listing)
        categories = [line.split()[0].lower() for line in listing]
        self.assertEqual(categories, sorted(categories))
        self.assertTrue(any("A Walk by the River" in line and "Tom Hale" in line for line in listing))
        self.assertTrue(any("Salt & Pepper: A Kitchen Notebook" in line for line in listing))

    def test_renders_the_first_page_of_every_book_it_can_show(self):
        documents = os.path.join(self.dir, "documents")
        shutil.copytree(os.path.join(SOURCE, "samples", "documents"), documents)
        self.assertEqual(run_example("publish_folder.py", self.shelf, documents).returncode, 0)
        published = sorted(set(books_in(self.shelf)) - set(self.books))

        pages = os.path.join(self.dir, "pages")
        result = run_example("render_first_pages.py", self.shelf, pages)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(sorted(os.listdir(pages)), [os.path.splitext(n)[0] + ".png" for n in published])
        # The sample maker's books hold no pages of ours: named and skipped.
        self.assertEqual(result.stdout.count("skipped"), len(self.books))
        for name in os.listdir(pages):
            width, height, pixels = read_grey_png(os.path.join(pages, name))
            self.assertEqual((width, height), (480, 640))  # the default device
            self.assertEqual((min(pixels), max(pixels)), (0, 255))  # ink on paper

        small = run_example("render_first_pages.py", self.shelf, pages, "--size", "240x320", "--depth", "1")
        self.assertEqual(small.returncode, 0, small.stdout + small.stderr)
        width, height, pixels = read_grey_png(os.path.join(pages, os.listdir(pages)[0]))
        self.assertEqual((width, height, set(pixels)), (240, 320, {0, 255}))

        empty = os.path.join(self.dir, "empty")
        os.mkdir(empty)
        self.assertEqual(run_example("render_first_pages.py", empty, pages).returncode, 1)

    def test_exports_the_shelf_as_csv(self):
        out = os.path.join(self.dir, "shelf.csv")
        result = run_example("shelf_to_csv.py", self.shelf, "-o", out, "--sorted")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, newline="", encoding="utf-8") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(len(rows), len(self.books))
        self.assertEqual(sorted(r["file"] for r in rows), self.books)
        # Markup escapes of the device books are undone for the spreadsheet.
        self.assertIn("Salt & Pepper", [r["title"] for r in rows])
        # Without -o, to standard output.
        printed = run_example("shelf_to_csv.py", self.shelf)
        self.assertEqual(len(list(csv.reader(io.StringIO(printed.stdout)))), len(self.books) + 1)

        missing = run_example("shelf_to_csv.py", os.path.join(self.dir, "nowhere"))
        self.assertNotEqual(missing.returncode, 0)

    def test_checks_packages_and_lists_problems_as_file_line_col(self):
        import ikpubx

        with open(os.path.join(self.dir, "broken.htm"), "w") as f:
            f.write('<?xml version="1.0"?>\n<html xmlns="http://www.w3.org/1999/xhtml"><head><title>T</title>'
                    "</head>\n<body><p>one<b>two</p>\n</body></html>\n")
        with open(os.path.join(self.dir, "fine.htm"), "w") as f:
            f.write('<?xml version="1.0"?>\n<html xmlns="http://www.w3.org/1999/xhtml"><head><title>T</title>'
                    "</head>\n<body><p>fine</p></body></html>\n")
        for name in ("broken", "fine"):
            project = ikpubx.Project()
            project.AddSourceFile(name + ".htm")
            project.Save(os.path.join(self.dir, name + ".opf"))

        broken = run_example("check_package.py", os.path.join(self.dir, "broken.opf"))
        self.assertEqual(broken.returncode, 1, broken.stderr)
        self.assertRegex(broken.stdout, r"(?m)^%s:3:\d+: error: .+$" % re.escape(os.path.join(self.dir, "broken.htm")))

        fine = run_example("check_package.py", os.path.join(self.dir, "fine.opf"))
        self.assertEqual((fine.returncode, fine.stdout), (0, ""), fine.stderr)

        missing = run_example("check_package.py", os.path.join(self.dir, "none.opf"))
        self.assertEqual(missing.returncode, 1)
        self.assertIn("cannot be loaded", missing.stdout)


if __name__ == "__main__":
    unittest.main()
