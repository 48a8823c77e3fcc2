#!/usr/bin/env python3
"""Every word of a document reaches the page.

Publishes the documents of tests/data/documents (shaped like those users
have: a documentation page with a desktop style sheet, a manual page in old
HTML, a manual page in one centred table, a page of code, right-to-left and
Chinese pages) with `vellix build --html`, reads every page back with
`vellix view BOOK --text`, and checks that the words of the pages are the
words of the document's body, in order. The first page of some is drawn into
the screenshots folder for people to look at.

    published_words.py VELLIX DOCUMENTS SCREENSHOTS
"""
import html.parser
import os
import re
import subprocess
import sys
import tempfile
import unicodedata
import unittest

TOOL, DOCUMENTS, SCREENSHOTS = sys.argv[1:4]
DRAWN = {"code.html": "published-code.png", "table.html": "published-table.png",
         "rtl.html": "published-rtl.png", "cjk.html": "published-cjk.png"}
# Elements whose start and end part words, as a browser's blocks do.
BLOCKS = {"address", "blockquote", "br", "caption", "dd", "div", "dl", "dt", "h1", "h2", "h3", "h4", "h5", "h6",
          "hr", "li", "ol", "p", "pre", "section", "table", "tbody", "td", "tfoot", "th", "thead", "tr", "ul"}
CONTINUED = "\u21a9"
BULLETS = {"\u2022", "\u25e6", "\u25aa"}


class BodyText(html.parser.HTMLParser):
    """The text of a document's body, blocks set apart by spaces."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts, self.in_body, self.skipping = [], False, 0

    def handle_starttag(self, tag, attrs):
        if tag == "body":
            self.in_body = True
        elif tag in ("script", "style", "head", "title"):
            self.skipping += 1
        if tag in BLOCKS:
            self.parts.append(" ")

    def handle_endtag(self, tag):
        if tag in ("script", "style", "head", "title"):
            self.skipping = max(0, self.skipping - 1)
        if tag in BLOCKS:
            self.parts.append(" ")

    def handle_data(self, data):
        if self.in_body and not self.skipping:
            self.parts.append(data)


def body_words(path):
    parser = BodyText()
    with open(path, encoding="utf-8") as f:
        parser.feed(f.read())
    return joined_lines("".join(parser.parts)).split()


def wide(c):
    return unicodedata.east_asian_width(c) in ("W", "F")


def joined_lines(text):
    # A line end between two ideographs is no space (as browsers set it).
    return re.sub(r"(\S)[ \t\r]*\n\s*(\S)", lambda m: m.group(1) + m.group(2) if wide(m.group(1)) and wide(
        m.group(2)) else m.group(0), text)


def page_words(text):
    """The words of the page text, each with whether it ends a line (where
    the typesetter may have broken a word: after a hyphen it added, a dash
    or slash of the word, or inside a preformatted line it carried on)."""
    words = []
    for line in text.replace("\f", "\n").split("\n"):
        ws = line.replace(CONTINUED, "").split()
        if ws and ws[0] in BULLETS:  # a list item's marker is no word of the source
            ws.pop(0)
        words.extend((w, i + 1 == len(ws)) for i, w in enumerate(ws))
    return words


def undashed(word):
    # Whether a dash at a line's end was added or the word's own, the text
    # alone does not tell: words are compared without dashes.
    return word.replace("-", "").replace("\u00ad", "")


def misplaced(source, pages):
    """Where the page words stop being the source words in order, each
    source word shown whole or in pieces split only at line ends; None when
    they are."""
    at = 0
    for index, word in enumerate(undashed(w) for w in source):
        if not word:
            continue
        shown = ""
        while at < len(pages) and not undashed(pages[at][0]):
            at += 1
        while at < len(pages) and len(shown) < len(word):
            piece, line_end = pages[at]
            at += 1
            shown += undashed(piece)
            if shown != word and not line_end:
                break
        if shown != word:
            return "source word %d %r shown as %r" % (index, word, shown)
    if any(undashed(w) for w, _ in pages[at:]):
        return "words the source does not have: %r" % [w for w, _ in pages[at:at + 5]]
    return None


class PublishedWords(unittest.TestCase):
    def publish(self, name, scratch):
        book = os.path.join(scratch, name + ".imp")
        built = subprocess.run([TOOL, "build", "--html", os.path.join(DOCUMENTS, name), "-o", book],
                               capture_output=True, text=True, timeout=120)
        self.assertEqual(built.returncode, 0, built.stderr)
        self.assertNotIn(": error:", built.stderr)
        return book

    def test_every_word_in_order(self):
        names = sorted(n for n in os.listdir(DOCUMENTS) if n.endswith(".html"))
        self.assertGreaterEqual(len(names), 6)
        with tempfile.TemporaryDirectory() as scratch:
            env = dict(os.environ, XDG_CONFIG_HOME=scratch)  # the device's default screen
            for name in names:
                with self.subTest(document=name):
                    book = self.publish(name, scratch)
                    shown = subprocess.run([TOOL, "view", book, "--text"], capture_output=True, text=True,
                                           timeout=120, env=env)
                    self.assertEqual(shown.returncode, 0, shown.stderr)
                    self.assertIsNone(misplaced(body_words(os.path.join(DOCUMENTS, name)), page_words(shown.stdout)),
                                      shown.stdout)
                    if name in DRAWN:
                        os.makedirs(SCREENSHOTS, exist_ok=True)
                        drawn = subprocess.run([TOOL, "view", book, "-o", os.path.join(SCREENSHOTS, DRAWN[name])],
                                               capture_output=True, text=True, timeout=120, env=env)
                        self.assertEqual(drawn.returncode, 0, drawn.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
