#!/usr/bin/env python3
"""Published Markdown reads as GitHub's own converter reads it.

Publishes each Markdown file of tests/data/markdown (shaped like those
projects carry: a NEWS file with reference links and comments, a README
with raw HTML, a table and code, a guide with front matter, footnotes and
task lists) onto a shelf with `vellix shelf add`, reads the book back with
`vellix view --text` and `--links --json`, and checks that its words and
the addresses of its links are those of cmark-gfm's HTML of the file.
Skipped, saying so, when cmark-gfm is not installed
(scripts/install_cmark_gfm.sh installs it).

    markdown_words.py VELLIX MARKDOWN
"""
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL, MARKDOWN = sys.argv[1:3]
CMARK = shutil.which("cmark-gfm")
SCREEN = ["--width", "1600", "--height", "2400"]  # no word is hyphenated
BULLETS = {"\u2022", "\u25e6", "\u25aa"}
SKIPPED = {"script", "style", "head", "title"}


class Html(html.parser.HTMLParser):
    """The words and link addresses of cmark-gfm's HTML; a footnote's way
    back is the reader's, not the text's."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.text, self.hrefs, self.skipping = [], [], 0

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag in SKIPPED or "data-footnote-backref" in attrs:
            self.skipping += 1
        elif tag == "a" and "href" in attrs:
            self.hrefs.append(attrs["href"])
        elif tag == "input" and attrs.get("type") == "checkbox":
            self.text.append(" [x] " if "checked" in attrs else " [ ] ")
        self.text.append(" " if tag not in ("a", "em", "strong", "del", "code", "sup", "kbd") else "")

    def handle_endtag(self, tag):
        if tag in SKIPPED or (tag == "a" and self.skipping):
            self.skipping = max(0, self.skipping - 1)
        self.text.append(" " if tag not in ("a", "em", "strong", "del", "code", "sup", "kbd") else "")

    def handle_data(self, data):
        if not self.skipping:
            self.text.append(data)


def without_front_matter(text):
    # Front matter is the book's information, not its text.
    return re.sub(r"\A---\n.*?\n(---|\.\.\.)\n", "", text, flags=re.S)


def reference(path):
    with open(path, encoding="utf-8") as f:
        source = without_front_matter(f.read())
    made = subprocess.run([CMARK, "--unsafe", "-e", "footnotes", "-e", "table", "-e", "strikethrough", "-e",
                           "autolink", "-e", "tasklist"], input=source, capture_output=True, text=True, timeout=60,
                          check=True)
    parsed = Html()
    parsed.feed(made.stdout)
    hrefs = [h for h in parsed.hrefs if not h.startswith("#")]
    return "".join(parsed.text).split(), hrefs, len(parsed.hrefs) - len(hrefs)


def book_words(text):
    words = []
    for line in text.replace("\f", "\n").split("\n"):
        ws = line.split()
        # A list item's marker is drawn, not written; a table's cells are
        # parted by "|".
        if ws and (ws[0] in BULLETS or re.fullmatch(r"\d+\.", ws[0])):
            ws.pop(0)
        words.extend(w for w in ws if w != "|")
    return words


class MarkdownWords(unittest.TestCase):
    def test_words_and_links_match_cmark_gfm(self):
        if not CMARK:
            self.skipTest("cmark-gfm is not installed (scripts/install_cmark_gfm.sh installs it)")
        names = sorted(n for n in os.listdir(MARKDOWN) if n.endswith(".md"))
        self.assertGreaterEqual(len(names), 3)
        with tempfile.TemporaryDirectory() as scratch:
            env = dict(os.environ, XDG_CONFIG_HOME=scratch)
            for name in names:
                with self.subTest(document=name):
                    shelf = os.path.join(scratch, name + ".shelf")
                    os.mkdir(shelf)
                    shutil.copy(os.path.join(MARKDOWN, name), scratch)
                    added = subprocess.run([TOOL, "shelf", "add", shelf, os.path.join(scratch, name)],
                                           capture_output=True, text=True, timeout=120, env=env)
                    self.assertEqual(added.returncode, 0, added.stderr)
                    book = os.path.join(shelf, os.listdir(shelf)[0])
                    shown = subprocess.run([TOOL, "view", book, "--text"] + SCREEN, capture_output=True, text=True,
                                           timeout=120, env=env)
                    self.assertEqual(shown.returncode, 0, shown.stderr)
                    links = subprocess.run([TOOL, "view", book, "--links", "--json"] + SCREEN,
                                           capture_output=True, text=True, timeout=120, env=env)
                    # Exit 1 says a link is broken (a README's LICENSE, not copied).
                    self.assertIn(links.returncode, (0, 1), links.stderr)
                    words, hrefs, internal = reference(os.path.join(MARKDOWN, name))
                    self.assertEqual(book_words(shown.stdout), words)
                    found = json.loads(links.stdout)
                    self.assertEqual([link["href"] for link in found if link["href"] is not None], hrefs)
                    self.assertEqual(sum(1 for link in found if link["href"] is None), internal)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
