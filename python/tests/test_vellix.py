"""The vellix module driven as a script drives it: the shelf and its books,
errors as vellix.AutomationError, publishing with events, and the container
writer read back by the toolkit's reader."""

import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
import unittest.mock

import ikpubx
import vellix

MAKE_SAMPLES = os.environ["VELLIX_MAKE_SAMPLES"]

PAGE = """<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml"><head><title>Small Page</title>
<meta name="author" content="Ann Example" /><meta name="genre" content="Essays" /></head>
<body><p>One short paragraph.</p></body></html>
"""


class ScratchFolder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vellix-py-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as f:
            f.write(text)
        return self.path(name)

    def sample_shelf(self):
        shelf = self.path("shelf")
        subprocess.run([MAKE_SAMPLES, shelf], check=True, stdout=subprocess.DEVNULL)
        return shelf

    def loaded_sample_shelf(self):
        shelf = vellix.Bookshelf()
        shelf.Load(self.sample_shelf())
        return shelf

    def assertAutomationError(self, number, call, *args):
        """`call(*args)` raises vellix.AutomationError with this number; returns it."""
        with self.assertRaises(vellix.AutomationError) as caught:
            call(*args)
        self.assertEqual(caught.exception.number, number)
        return caught.exception


class BooksCollectionTest(ScratchFolder):
    def test_item_counts_from_one_and_the_sequence_from_zero(self):
        books = self.loaded_sample_shelf().Books
        self.assertEqual(len(books), books.Count)
        self.assertGreater(books.Count, 2)
        listed = [book.Path for book in books]
        self.assertEqual(listed, [books.Item(i).Path for i in range(1, books.Count + 1)])
        # The same object each time, not a copy.
        self.assertIs(books[0], books.Item(1))
        self.assertIs(books[-1], books.Item(books.Count))
        self.assertIs(books[books.Count - 1], books[-1])
        self.assertEqual([b.Path for b in books[1:3]], listed[1:3])
        self.assertEqual([b.Path for b in books[::-2]], listed[::-2])
        self.assertEqual(books[5:1], [])

    def test_bad_indexes(self):
        books = self.loaded_sample_shelf().Books
        for index in (books.Count, -books.Count - 1, 2**70, -2**70):
            with self.subTest(index=index), self.assertRaises(IndexError):
                books[index]
        for index in ("ALICEWON", None, True, 1.0, [1]):
            with self.subTest(index=index), self.assertRaises(TypeError):
                books[index]
        with self.assertRaises(ValueError):
            books[::0]
        for index in (0, -1, books.Count + 1, "ALICEWON", None, True, [1]):
            with self.subTest(index=index):
                self.assertAutomationError(5, books.Item, index)
        self.assertAutomationError(13, books.Item, 1.0)
        self.assertAutomationError(6, books.Item, 2**70)

    def test_removing_while_iterating_walks_the_books_as_they_were(self):
        books = self.loaded_sample_shelf().Books
        count = books.Count
        seen = 0
        for _ in books:
            seen += 1
            if books.Count:
                books.Remove(1)
        self.assertEqual(seen, count)
        self.assertEqual(len(books), 0)

class PythonicLayerTest(ScratchFolder):
    def built_book(self):
        """A one-page book file built from a small page."""
        book = vellix.Book(self.write("page.htm", PAGE))
        book.Save(self.path("page.imp"))
        return vellix.Book(self.path("page.imp"))

    def test_shelf_opened_by_path_is_a_sequence_and_a_context_manager(self):
        folder = self.sample_shelf()
        with vellix.Bookshelf(folder) as shelf:
            self.assertEqual(shelf.Directory, folder)
            self.assertEqual(len(shelf), shelf.Books.Count)
            self.assertEqual([b.Path for b in shelf], [b.Path for b in shelf.Books])
            self.assertIs(shelf[-1], shelf.Books.Item(shelf.Books.Count))
            self.assertEqual(len(shelf[:2]), 2)
        with vellix.Book(shelf[0].Path) as book:
            self.assertEqual(book.Title, shelf[0].Title)
        # Not loaded: no length, but still a true object.
        empty = vellix.Bookshelf()
        self.assertTrue(empty)
        with self.assertRaises(ValueError):
            len(empty)

    def test_write_information_changes_the_fields_of_the_book_file_only(self):
        book = self.built_book()
        with open(book.Path, "rb") as f:
            before = f.read()
        book.WriteInformation("Salt & Pepper", "Doe, Jane", "Cooking")
        again = vellix.Book(book.Path)
        self.assertEqual((again.Title, again.Author, again.Category), (book.Title, "Jane Doe", "Cooking"))
        self.assertIn(again.Title, ("Salt & Pepper", "Salt &amp; Pepper"))
        with open(book.Path, "rb") as f:
            after = f.read()
        self.assertEqual(after[-100:], before[-100:])
        self.assertAutomationError(5, book.WriteInformation, "", "A", "C")
        self.assertAutomationError(5, vellix.Book(self.write("t.txt", "words")).WriteInformation, "T", "A", "C")

    def test_missing_shelf_or_file_raises_file_not_found(self):
        missing = self.path("nowhere")
        for make in (vellix.Bookshelf, vellix.Book):
            with self.subTest(make=make.__name__), self.assertRaises(FileNotFoundError) as caught:
                make(missing)
            self.assertEqual(caught.exception.filename, missing)
        # A file is not a shelf folder.
        with self.assertRaises(FileNotFoundError):
            vellix.Bookshelf(self.write("notes.txt", "Notes\n"))
        # The automation call keeps its quiet answer.
        shelf = vellix.Bookshelf()
        shelf.Load(missing)
        self.assertIsNone(shelf.Books)

    def test_save_page_png_draws_the_page_for_the_device(self):
        book = self.built_book()
        png = self.path("page.png")
        book.SavePagePng(1, png)
        with open(png, "rb") as f:
            data = f.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(data[16:24], (480).to_bytes(4, "big") + (640).to_bytes(4, "big"))
        self.assertEqual([f for f in os.listdir(self.dir) if f.endswith(".png")], ["page.png"])

    def test_save_page_png_refuses_what_it_cannot_draw(self):
        book = self.built_book()
        cases = [
            (IndexError, book, 0, "a.png"),
            (IndexError, book, 2, "a.png"),
            (FileNotFoundError, vellix.Book(), 1, "a.png"),
            (ValueError, vellix.Book(self.path("page.htm")), 1, "a.png"),
            (OSError, book, 1, os.path.join("no-folder", "a.png")),
        ]
        for error, target, page, name in cases:
            with self.subTest(error=error.__name__, page=page), self.assertRaises(error):
                target.SavePagePng(page, self.path(name))
        # Never over the book itself.
        self.assertAutomationError(75, book.SavePagePng, 1, book.Path)
        self.assertGreater(os.path.getsize(book.Path), 0)
        self.assertFalse(os.path.exists(self.path("a.png")))


class TypeHintsTest(unittest.TestCase):
    def test_stub_beside_the_module_names_every_public_member_and_no_other(self):
        import ast

        stub = os.path.join(os.path.dirname(vellix.__file__), "vellix.pyi")
        with open(stub, encoding="utf-8") as f:
            tree = ast.parse(f.read())
        hinted = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
        for name, cls in vars(vellix).items():
            if not isinstance(cls, type) or name.startswith("_"):
                continue
            with self.subTest(cls=name):
                self.assertIn(name, hinted)
                methods = {n.name for n in hinted[name].body if isinstance(n, ast.FunctionDef)}
                attributes = {n.target.id for n in hinted[name].body if isinstance(n, ast.AnnAssign)}
                public = {m for m in vars(cls) if not m.startswith("_") or m in methods}
                self.assertEqual(sorted(public - methods - attributes), [], "members without hints")
                self.assertEqual(sorted(m for m in methods if not hasattr(cls, m)), [], "hints of no member")


class PropertiesTest(ScratchFolder):
    def test_read_only_properties_refuse_assignment_and_write_only_refuse_reading(self):
        book = vellix.Book()
        for name in ("Extension", "Pages", "Size", "Encrypted", "SourceId", "IssueNumber", "IsPeriodical"):
            with self.subTest(name=name), self.assertRaises(AttributeError):
                setattr(book, name, 1)
        shelf = vellix.Bookshelf()
        with self.assertRaises(AttributeError):
            shelf.Books = vellix.Books()
        with self.assertRaises(AttributeError):
            shelf.BaseURL
        shelf.BaseURL = "http://example.org/"
        with self.assertRaises(AttributeError):
            vellix.Books().Count = 3
        with self.assertRaises(AttributeError):
            vellix.Application.BookshelfDirectory = "/tmp"

    def test_text_properties_round_trip_and_refuse_text_that_is_not_utf8(self):
        book = vellix.Book()
        book.Title = "Smörgåsbord — 1"
        self.assertEqual(book.Title, "Smörgåsbord — 1")
        error = self.assertAutomationError(5, setattr, book, "Author", b"\xff\xfe")
        self.assertEqual(error.description, "Invalid procedure call or argument")

    def test_application_reads_the_settings_afresh(self):
        config = self.path("config")
        os.makedirs(os.path.join(config, "OrvoTools"))
        with open(os.path.join(config, "OrvoTools", "Vellixlibrarian.conf"), "w") as f:
            f.write("[Locations]\nBookShelf=/books/shelf\n")
        with unittest.mock.patch.dict(os.environ, {"XDG_CONFIG_HOME": config}):
            self.assertEqual(vellix.Application.BookshelfDirectory, "/books/shelf")
            self.assertEqual(vellix.Application.DskDirectory, "")


class ErrorsAndValuesTest(ScratchFolder):
    def test_automation_error_carries_number_description_and_detail(self):
        missing = self.path("nothing.imp")
        e = self.assertAutomationError(53, vellix.Bookshelf.BookInformationLength, missing)
        self.assertEqual(e.description, "File not found")
        self.assertEqual(e.detail, missing)
        self.assertEqual(str(e), "File not found: %s (53)" % missing)
        self.assertIsInstance(e, Exception)

    def test_out_of_range_integers_raise_overflow(self):
        self.assertAutomationError(6, vellix.Book().GetResourceString, "STR ", 40000)
        with self.assertRaises(vellix.AutomationError):
            vellix.Package().initialID(-40000)

    def test_lists_nested_past_any_argument_raise_overflow(self):
        deep = []
        for _ in range(2_000_000):
            deep = [deep]
        self.assertAutomationError(6, self.loaded_sample_shelf().Books.Item, deep)

    def test_in_out_arguments_come_back_as_a_tuple(self):
        page = self.write("page.htm", PAGE)
        self.assertEqual(vellix.Book().ExtractMetadata(page), (True, "Small Page", "Ann Example", "Essays"))
        # A document that cannot be read leaves the given values untouched.
        binary = self.path("junk.htm")
        with open(binary, "wb") as f:
            f.write(b"\x00\x01\x02")
        ok, title, author, category = vellix.Book().ExtractMetadata(binary, "t", "a", "c")
        if not ok:
            self.assertEqual((title, author, category), ("t", "a", "c"))
        self.assertEqual(vellix.Book().ParseRSRC("None:1234"), ("3", "B", "", -1))
        self.assertEqual(vellix.Book().ParseRSRC("SRC:P:1234"), ("SRC", "P", "", 0))
        self.assertAutomationError(5, vellix.Book().ParseRSRC, "no record")

    def test_content_is_bytes_or_none(self):
        book = vellix.Book()
        data = bytes(range(256))
        with open(self.path("raw.imp"), "wb") as f:
            f.write(data)
        book.Path = self.path("raw.imp")
        self.assertEqual(book.Content(), data)
        self.assertIsNone(vellix.Book().Content())
        self.assertAutomationError(53, setattr, book, "Path", self.path("gone.imp"))


class PublishingTest(ScratchFolder):
    def test_add_publishes_a_document_with_events(self):
        shelf_dir = self.sample_shelf()
        shelf = vellix.Bookshelf()
        shelf.Load(shelf_dir)
        count = shelf.Books.Count
        page = self.write("page.htm", PAGE)
        book = vellix.Book()
        book.Load(page)

        heard = []

        class Events:  # no OnError: skipped
            def OnSourceStart(self, file, number, total):
                heard.append(("start", os.path.basename(file), number, total))

            def OnParserFeedback(self, done, total):
                heard.append(("progress", done <= total))

        shelf.Add(book, events=Events())
        self.assertEqual(shelf.Books.Count, count + 1)
        self.assertIs(shelf.Books[-1], book)
        self.assertEqual(heard[0], ("start", "page.htm", 1, 1))
        self.assertIn(("progress", True), heard)
        self.assertEqual(len([f for f in os.listdir(shelf_dir) if f.endswith(".imp")]), count)

    def test_markdown_published_and_saved_as_epub_reads_back(self):
        shelf_dir = self.path("shelf")
        os.mkdir(shelf_dir)
        shelf = vellix.Bookshelf()
        shelf.Load(shelf_dir)
        book = vellix.Book()
        book.Load(self.write("notes.md", "# Field Notes\n\nOne *short* paragraph.\n"))
        shelf.Add(book)
        self.assertEqual(book.Title, "Field Notes")
        [built] = [f for f in os.listdir(shelf_dir) if f.endswith(".imp")]
        published = vellix.Book()
        published.Load(os.path.join(shelf_dir, built))
        published.SaveAsEpub(self.path("notes.epub"))
        again = vellix.Book()
        again.Load(self.path("notes.epub"))
        self.assertEqual((again.Extension, again.Title), ("epub", "Field Notes"))
        self.assertAutomationError(53, vellix.Book().SaveAsEpub, self.path("other.epub"))

    def test_exception_in_a_handler_stops_the_publication_and_is_raised(self):
        shelf_dir = self.sample_shelf()
        shelf = vellix.Bookshelf()
        shelf.Load(shelf_dir)
        before = sorted(n for n in os.listdir(shelf_dir) if not n.startswith("."))  # not the maker's marker
        book = vellix.Book()
        book.Load(self.write("page.htm", PAGE))

        class Stop(Exception):
            pass

        class Events:
            def OnSourceStart(self, *args):
                raise Stop("no, thanks")

        with self.assertRaises(Stop):
            shelf.Add(book, events=Events())
        self.assertEqual(sorted(n for n in os.listdir(shelf_dir) if not n.startswith(".")), before)
        self.assertEqual(shelf.Books.Count, len(before))
        # The shelf is still usable afterwards.
        shelf.Add(book)
        self.assertEqual(shelf.Books.Count, len(before) + 1)

    def test_other_threads_run_while_a_shelf_loads(self):
        # A ticker stamps the clock while Bookshelf.Load runs. A Load that
        # held the interpreter lock would let no stamp fall inside its span,
        # bar one at either edge from a thread switch just before or after.
        shelf_dir = self.sample_shelf()
        books = [name for name in os.listdir(shelf_dir) if name.endswith(".imp")]
        for copy in range(100):
            for name in books:
                shutil.copy(os.path.join(shelf_dir, name), os.path.join(shelf_dir, f"copy{copy}-{name}"))
        stamps, spans = [], []
        stop = threading.Event()

        def tick():
            while not stop.is_set():
                stamps.append(time.monotonic())
                time.sleep(0.0001)

        def stamps_inside(span):
            return sum(span[0] < stamp < span[1] for stamp in list(stamps))

        thread = threading.Thread(target=tick)
        thread.start()
        try:
            # On a busy machine the ticker may not be scheduled during one
            # load; one load in fifty with stamps inside is proof enough.
            for _ in range(50):
                shelf = vellix.Bookshelf()
                start = time.monotonic()
                shelf.Load(shelf_dir)
                spans.append((start, time.monotonic()))
                if stamps_inside(spans[-1]) > 3:
                    break
        finally:
            stop.set()
            thread.join()
        self.assertGreater(max(map(stamps_inside, spans)), 3, f"{len(spans)} loads")


class BatchAddTest(ScratchFolder):
    def test_many_paths_in_parallel_each_reported(self):
        os.mkdir(self.path("shelf"))
        pages = [self.write("p%d.htm" % i, PAGE.replace("Small Page", "Page %d" % i)) for i in range(4)]
        shelf = vellix.Bookshelf()
        shelf.OpenForAdding(self.path("shelf"))
        seen = []
        items = shelf.AddMany(pages + [self.path("none.txt")], Category="Batch", jobs=2,
                              finished=lambda done, total, item: seen.append((done, total)))
        self.assertEqual([item["added"] for item in items], [True] * 4 + [False])
        self.assertEqual(items[4]["error"], 53)
        self.assertEqual(sorted(seen), [(n, 5) for n in range(1, 6)])
        for i, item in enumerate(items[:4]):
            book = vellix.Book()
            book.Load(item["book_file"])
            self.assertEqual((book.Title, book.Category), ("Page %d" % i, "Batch"))

        class Stop(Exception):
            pass

        def stop(done, total, item):
            raise Stop()

        with self.assertRaises(Stop):
            shelf.AddMany(pages, jobs=1, finished=stop)


class ContainerTest(ScratchFolder):
    def test_package_packed_by_the_library_reads_back_through_the_toolkit(self):
        self.write("page.htm", PAGE)
        vellix.Book().CreateDefaultOpf(self.path("page.opf"))
        writer = vellix.Package()
        writer.PackagePath = self.path("page.opf")
        writer.initialID(100)
        writer.CreatePackage(self.path("page.htm"), "page", "Small Page", "Ann Example", "Essays")
        progress = []
        refused = vellix.Book().BuildOEBFile("page", self.dir, progress=lambda done, total: progress.append(done))
        self.assertEqual(refused, [])
        self.assertTrue(progress)
        self.assertEqual(progress[-1], len(progress))

        reader = ikpubx.OEBFFReader(self.path("page.oeb"))
        self.assertFalse(reader.Failed, reader.Diagnostic)
        self.assertEqual(reader.PartCount, len(reader.Parts))
        self.assertEqual(reader.PartCount, progress[-1] + 1)  # the package, then its manifest
        self.assertEqual(reader.Root.Kind, ikpubx.kContainer)
        part = reader.Parts[0]
        del reader  # the nodes keep their tree alive
        self.assertEqual(part.Kind, ikpubx.kPart)
        self.assertLess(part.BodyStart, part.BodyEnd)
        names = [part.Child(i).Name for i in range(part.ChildCount)]
        self.assertTrue(names)

if __name__ == "__main__":
    unittest.main()
