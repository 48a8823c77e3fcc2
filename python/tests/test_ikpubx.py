"""The ikpubx module driven as a script drives it: the class registry, the
Project's attributes and indexed members, failure codes as ikpubx.ComError,
the Builder's events (nested, skipped, raising) and the container reader."""

import gc
import os
import shutil
import tempfile
import threading
import unittest

import ikpubx
import vellix

PAGE = """<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml"><head><title>Small Page</title></head>
<body><p>One short paragraph.</p><p>And a second one.</p></body></html>
"""


def signed(code):
    return code - (1 << 32) if code & 0x80000000 else code


class ComTestCase(unittest.TestCase):
    def assertComError(self, hresult, call, *args):
        """`call(*args)` raises ikpubx.ComError with this code; returns it."""
        with self.assertRaises(ikpubx.ComError) as caught:
            call(*args)
        self.assertEqual(caught.exception.hresult, hresult)
        return caught.exception


class Scratch(ComTestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="ikpubx-py-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        # The Builder writes its temporary project files and logs into the
        # current folder.
        self.old_cwd = os.getcwd()
        os.chdir(self.dir)
        self.addCleanup(os.chdir, self.old_cwd)

    def write(self, name, text, folder=None):
        path = os.path.join(folder or self.dir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def project(self, *sources):
        project = ikpubx.Project()
        for source in sources:
            project.AddSourceFile(os.path.basename(source))  # relative to the project
        project.OutputDirectory = self.dir
        project.ErrorDirectory = self.dir
        project.BookFileName = "small"
        return project


class RegistryAndErrorsTest(ComTestCase):
    def test_create_by_program_and_class_identifier(self):
        self.assertIsInstance(ikpubx.create("IKPublisher.Builder"), ikpubx.Builder)
        self.assertIsInstance(ikpubx.create("IKPublisher.Builder.1"), ikpubx.Builder)
        self.assertIsInstance(ikpubx.create("{764eaeb5-1d6c-4304-95f9-f30fc95e8f6b}"), ikpubx.Project)
        error = self.assertComError(ikpubx.REGDB_E_CLASSNOTREG, ikpubx.create, "IKPublisher.Nothing")
        self.assertEqual(error.hresult, signed(0x80040154))
        self.assertIn("0x80040154", str(error))

    def test_s_false_is_returned_while_objects_live(self):
        gc.collect()
        before = ikpubx.ModuleLockCount()
        held = ikpubx.Project()
        self.assertEqual(ikpubx.CanUnloadNow(), ikpubx.S_FALSE)
        self.assertEqual(ikpubx.ModuleLockCount(), before + 1)
        del held
        gc.collect()
        self.assertEqual(ikpubx.ModuleLockCount(), before)
        self.assertEqual(ikpubx.CanUnloadNow(), ikpubx.S_OK if before == 0 else ikpubx.S_FALSE)
        self.assertEqual(ikpubx.LoadStringResource(101), "OEB Check Complete.")


class ProjectTest(Scratch):
    def test_attributes_store_as_the_object_does(self):
        project = ikpubx.Project()
        project.BookTitle = "Títle"
        project.Zoom = -2
        self.assertEqual((project.BookTitle, project.Zoom, project.HasChanged), ("Títle", -2, 1))
        project.HasChanged = 0
        self.assertEqual(project.HasChanged, 0)
        for name in ("NumSourceFiles", "ProjectFormat"):
            with self.subTest(name=name), self.assertRaises(AttributeError):
                setattr(project, name, 1)

    def test_indexed_members_are_get_and_set_methods(self):
        project = self.project("a.htm", "b.htm")
        self.assertEqual(project.NumSourceFiles, 2)
        self.assertEqual(project.SetSourceFile(1, "c.htm"), ikpubx.S_OK)
        self.assertEqual([project.SourceFile(i) for i in range(2)], ["a.htm", "c.htm"])
        project.SetIncludeStatus(0, 0)
        self.assertEqual((project.IncludeStatus(0), project.IncludeStatus(1)), (0, 1))
        project.MoveSourceFile(0, 1)
        self.assertEqual((project.SourceFile(1), project.IncludeStatus(1)), ("a.htm", 0))
        self.assertEqual(project.SourceExists(0), 0)

    def test_bad_indexes_and_values_raise_com_errors(self):
        project = self.project("a.htm")
        cases = [
            (lambda: project.SourceFile(1), ikpubx.E_INVALIDARG),
            (lambda: project.SetHtmlStatus(-1, 1), ikpubx.E_INVALIDARG),
            (lambda: project.DeleteSourceFile(5), ikpubx.E_INVALIDARG),
            (lambda: project.SourceFile(40000), ikpubx.DISP_E_OVERFLOW),
            (lambda: setattr(project, "Zoom", 1 << 20), ikpubx.DISP_E_OVERFLOW),
            (lambda: project.Load(os.path.join(self.dir, "missing.opf")), ikpubx.E_FAIL),
        ]
        for call, expected in cases:
            self.assertComError(expected, call)

class Recorder:
    def __init__(self):
        self.events = []

    def OnBuildStart(self, project):
        self.events.append(("OnBuildStart", project))

    def OnSourceStart(self, file, number, total):
        self.events.append(("OnSourceStart", os.path.basename(file), number, total))

    def OnSourceDone(self, file, number, total):
        self.events.append(("OnSourceDone", os.path.basename(file), number, total))

    def OnError(self, file, message, line, column, severity):
        self.events.append(("OnError", message.strip(), line, column, severity))

    def names(self):
        return [e[0] for e in self.events]


class BuilderEventsTest(Scratch):
    def test_events_arrive_nested_and_in_order_with_the_scripts_project(self):
        page = self.write("page.htm", PAGE)
        project = self.project(page)
        builder = ikpubx.Builder()
        recorder = Recorder()
        cookie = builder.Advise(recorder)
        self.assertEqual(builder.Build(project), ikpubx.S_OK)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "small.imp")))
        self.assertIs(recorder.events[0][1], project)
        self.assertEqual(recorder.events[1], ("OnSourceStart", "page.htm", 1, 1))
        self.assertEqual(recorder.events[-1], ("OnSourceDone", "page.htm", 1, 1))
        builder.Unadvise(cookie)
        self.assertComError(ikpubx.CONNECT_E_NOCONNECTION, builder.Unadvise, cookie)

    def test_handler_exception_is_raised_after_the_build_stops(self):
        pages = [self.write("p%d.htm" % i, PAGE) for i in range(3)]
        project = self.project(*pages)
        builder = ikpubx.Builder()
        recorder = Recorder()

        class Boom(Exception):
            pass

        class Failing:
            def OnSourceStart(self, file, number, total):
                if number == 1:
                    raise Boom(file)

        builder.Advise(Failing())
        builder.Advise(recorder)
        with self.assertRaises(Boom):
            builder.Build(project)
        # The failing handler's sink ends the dispatch: no later source starts.
        self.assertNotIn(("OnSourceStart", "p1.htm", 2, 3), recorder.events)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "small.imp")))

        # The Builder is fine afterwards and the error is not raised twice.
        other = ikpubx.Builder()
        other.Advise(recorder)
        self.assertEqual(other.Build(self.project(pages[0])), ikpubx.S_OK)

    def test_objects_with_no_handlers_and_nested_abort(self):
        builder = ikpubx.Builder()
        builder.Advise(object())  # nothing to call: every event is skipped

        class Aborting:
            def OnSourceStart(self, file, number, total):
                self.result = builder.AbortBuild()

        aborting = Aborting()
        builder.Advise(aborting)
        page = self.write("page.htm", PAGE)
        self.assertComError(ikpubx.E_FAIL, builder.Build, self.project(page))
        self.assertEqual(aborting.result, ikpubx.S_OK)

    def test_projects_made_by_the_builder_are_lent_for_the_call_only(self):
        page = self.write("page.htm", PAGE)
        builder = ikpubx.Builder()
        seen = []

        class Keeper:
            def OnBuildStart(self, project):
                seen.append((project, project.NumSourceFiles))

        builder.Advise(Keeper())
        self.assertEqual(builder.BuildFromHTMLFile(page), ikpubx.S_OK)
        project, count = seen[0]
        self.assertEqual(count, 1)
        self.assertComError(ikpubx.E_POINTER, getattr, project, "NumSourceFiles")

    def test_variant_arguments(self):
        builder = ikpubx.Builder()
        self.assertEqual(builder.BuildFromHTML(PAGE.encode()), ikpubx.S_OK)
        self.assertEqual(builder.BuildFromHTMLFiles([self.write("page.htm", PAGE)]), ikpubx.S_OK)
        self.assertComError(ikpubx.E_INVALIDARG, builder.BuildFromHTML, 42)
        self.assertComError(ikpubx.E_INVALIDARG, builder.BuildFromHTMLFiles, "not a list")
        self.assertComError(ikpubx.E_INVALIDARG, setattr, builder, "FeedbackThreshold", 0)
        self.assertComError(ikpubx.E_POINTER, builder.Build, None)


class SourcesElsewhereTest(Scratch):
    """The plainest script: sources added by absolute path from another
    folder, then built, checked and packed."""

    def test_build_check_and_pack_sources_from_another_folder(self):
        elsewhere = tempfile.mkdtemp(prefix="ikpubx-src-")
        self.addCleanup(shutil.rmtree, elsewhere, True)
        project = ikpubx.Project()
        for name, text in (("one.htm", "First far page."), ("two.htm", "Second far page.")):
            project.AddSourceFile(self.write(name, PAGE.replace("One short paragraph.", text), elsewhere))
        project.OutputDirectory = self.dir
        project.BookFileName = "far"
        builder = ikpubx.Builder()
        recorder = Recorder()
        builder.Advise(recorder)

        self.assertEqual(builder.Build(project), ikpubx.S_OK)
        book = vellix.Book()
        book.Load(os.path.join(self.dir, "far.imp"))
        self.assertGreater(book.Size, 0)
        recorder.events.clear()
        self.assertEqual(builder.HTCheck(project, -1), ikpubx.S_OK)
        self.assertEqual([e for e in recorder.events if e[0] == "OnError"],
                         [("OnError", "OEB Check Complete.", -1, -1, 0)])
        recorder.events.clear()
        self.assertEqual(builder.GenerateOEBFF(project, 0), ikpubx.S_OK)
        self.assertNotIn("OnError", recorder.names())
        reader = ikpubx.OEBFFReader(os.path.join(self.dir, "far.oeb"))
        self.assertFalse(reader.Failed)
        with open(os.path.join(self.dir, "far.oeb"), "rb") as f:
            container = f.read()
        for name, text in (("one.htm", b"First far page."), ("two.htm", b"Second far page.")):
            self.assertIn(b'href="' + name.encode() + b'"', container)
            self.assertIn(text, container)
        self.assertEqual(sorted(os.listdir(self.dir)), ["far.imp", "far.oeb"])  # no temporary project left


class ViewerTest(Scratch):
    def book(self, paragraphs):
        text = "".join("<p>Paragraph %d, which says a little and then says it again.</p>" % i
                       for i in range(paragraphs))
        page = self.write("long.htm", PAGE.replace("<p>One short paragraph.</p>", text))
        ikpubx.Builder().Build(self.project(page))
        return os.path.join(self.dir, "small.imp")

    def test_pages_come_as_bytes_or_into_a_bytearray(self):
        viewer = ikpubx.create("IKPublisher.Viewer")
        viewer.BookName = self.book(3)
        self.assertEqual((viewer.NumPages, viewer.CurPage), (1, 1))
        pixels, width, height, depth = viewer.GetPageImage(1)
        self.assertEqual(len(pixels), width * height)
        self.assertEqual((min(pixels), max(pixels)), (0, (1 << depth) - 1))  # ink on paper
        buffer = bytearray(b"old contents")
        self.assertEqual(viewer.GetPageImage(1, buffer), (width, height, depth))
        self.assertEqual(bytes(buffer), pixels)

        viewer.ChangeDeviceSettings(200, 300, 1)
        small, width, height, depth = viewer.GetPageImage(1)
        self.assertEqual((width, height, depth, len(small)), (200, 300, 1, 200 * 300))
        self.assertLessEqual(set(small), {0, 1})
        self.assertComError(ikpubx.E_INVALIDARG, viewer.GetPageImage, 1, memoryview(bytearray(10)))

    def test_page_events_and_a_handler_that_raises(self):
        viewer = ikpubx.Viewer()
        viewer.BookName = self.book(60)
        self.assertGreater(viewer.NumPages, 2)
        pages = []

        class Pages:
            def OnNewPage(self, page):
                pages.append(page)

        cookie = viewer.Advise(Pages())
        viewer.NextPage()
        viewer.HandleChar("n")
        viewer.HandleChar(ord("p"))
        viewer.CurPage = viewer.NumPages
        self.assertEqual(pages, [2, 3, 2, viewer.NumPages])
        viewer.Unadvise(cookie)

        class Refusing:
            def OnNewPage(self, page):
                raise RuntimeError("page %d" % page)

        viewer.Advise(Refusing())
        with self.assertRaisesRegex(RuntimeError, "page 1"):
            viewer.CurPage = 1
        self.assertEqual(viewer.CurPage, 1)  # the move itself happened

    def test_one_viewer_from_two_threads(self):
        # One thread draws while the other changes the device, which throws
        # the layout away: the Viewer serializes the two.
        viewer = ikpubx.Viewer()
        viewer.BookName = self.book(40)
        errors = []

        def drawing():
            try:
                for i in range(40):
                    pixels, width, height, _ = viewer.GetPageImage(1 + i % 2)
                    self.assertEqual(len(pixels), width * height)
            except Exception as e:  # reported below, in the test's thread
                errors.append(e)

        def resizing():
            try:
                for i in range(15):
                    viewer.ChangeDeviceSettings(*((300, 400, 1) if i % 2 else (480, 640, 4)))
            except Exception as e:
                errors.append(e)

        threads = [threading.Thread(target=drawing), threading.Thread(target=resizing)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        self.assertTrue(viewer.HasBook)

    def test_device_settings_and_pages_outside_the_book_are_refused(self):
        viewer = ikpubx.Viewer()
        viewer.BookName = self.book(3)
        for size in [(0, 0, 0), (10, 10, 4), (480, 640, 3)]:
            self.assertComError(ikpubx.E_INVALIDARG, viewer.ChangeDeviceSettings, *size)
        self.assertEqual(viewer.NumPages, 1)
        for page in [0, -1, 2, 2**31 - 1]:
            self.assertComError(ikpubx.E_INVALIDARG, viewer.GetPageImage, page)

    def test_with_block_closes_the_book_even_on_an_exception(self):
        with ikpubx.Viewer() as viewer:
            viewer.BookName = self.book(3)
            self.assertTrue(viewer.HasBook)
        self.assertFalse(viewer.HasBook)
        with self.assertRaises(KeyError), ikpubx.Viewer() as other:
            other.BookName = self.book(3)
            raise KeyError("stop")
        self.assertFalse(other.HasBook)
        with ikpubx.Viewer() as empty:  # nothing to close
            pass
        self.assertFalse(empty.HasBook)

    def test_books_that_cannot_be_shown(self):
        viewer = ikpubx.Viewer()
        self.assertComError(ikpubx.E_FAIL, getattr, viewer, "NumPages")
        self.assertEqual(viewer.ShowInfoTray(), ikpubx.S_OK)
        missing = os.path.join(self.dir, "missing.imp")
        with self.assertRaises(ikpubx.ComError) as caught:
            viewer.BookName = missing
        self.assertEqual(caught.exception.hresult, signed(0x80000000 | viewer.LastError))
        self.assertEqual(caught.exception.description, viewer.LastErrorMessage)
        self.assertIn("missing.imp", caught.exception.description)
        self.assertEqual(viewer.BookName, missing)
        self.assertFalse(viewer.HasBook)


class ProofingTest(Scratch):
    """Contents, links, Back and search on a book built from two documents."""

    def build(self):
        filler = "".join("<p>Filler %d, words to turn the pages over and over again.</p>" % i for i in range(40))
        one = self.write("one.htm", PAGE.replace(
            "<p>One short paragraph.</p>",
            "<h1>First</h1><p>See <a href=\"two.htm#end\">the end</a>, <a href=\"two.htm#gone\">nothing</a> "
            "and <a href=\"http://example.com/\">the web</a>.</p>" + filler))
        two = self.write("two.htm", PAGE.replace(
            "<p>One short paragraph.</p>",
            "<h1>Second</h1>" + filler + "<h2 id=\"end\">The End</h2><p>Back <a href=\"one.htm\">home</a>; "
            "the Harbour Master waits.</p>"))
        ikpubx.Builder().Build(self.project(one, two))
        viewer = ikpubx.Viewer()
        viewer.BookName = os.path.join(self.dir, "small.imp")
        return viewer

    def test_contents_links_back_and_find(self):
        viewer = self.build()
        contents = viewer.Contents
        self.assertEqual([(e["label"], e["level"]) for e in contents], [("First", 1), ("Second", 1), ("The End", 2)])
        end_page = contents[2]["page"]
        self.assertEqual([e["page"] for e in contents][0], 1)
        self.assertGreater(end_page, contents[1]["page"])

        links = viewer.PageLinks
        self.assertEqual([(l["text"], l["target_page"], l["href"], l["broken"]) for l in links],
                         [("the end", end_page, None, False), ("nothing", None, "two.htm#gone", True),
                          ("the web", None, "http://example.com/", False)])
        x, y, width, height = links[0]["rects"][0]
        self.assertTrue(width > 0 and height > 0)
        self.assertFalse(viewer.FollowLink(1))
        self.assertFalse(viewer.FollowLink(2))
        self.assertEqual(viewer.CurPage, 1)
        self.assertComError(ikpubx.E_INVALIDARG, viewer.FollowLink, 3)

        self.assertTrue(viewer.FollowLink(0))
        self.assertEqual(viewer.CurPage, end_page)
        self.assertTrue(viewer.FollowLink(0))  # "home": the first document
        self.assertEqual(viewer.CurPage, 1)
        self.assertTrue(viewer.GoBack())
        self.assertEqual(viewer.CurPage, end_page)
        self.assertTrue(viewer.GoBack())
        self.assertFalse(viewer.GoBack())

        page, hits = viewer.Find("harbour   MASTER")
        self.assertEqual(page, end_page)
        self.assertEqual(len(hits), 1)
        lines = [line for line in viewer.GetPageText(page) if line["rect"][1] == hits[0][0][1]]
        self.assertIn("Harbour Master", lines[0]["text"])
        self.assertEqual(viewer.Find("harbour master", page + 1), (0, []))
        self.assertEqual(viewer.Find("harbour master", viewer.NumPages, -1)[0], end_page)
        self.assertEqual(viewer.Find("harbour master", 1, 0), (0, []))


class ReaderTest(Scratch):
    def container(self):
        # Written by the library's container writer; the package part is
        # long enough for the reader to report progress on it.
        package = self.write("p.opf", "<package/>" + " " * 300000)
        mime = vellix.MIME()
        mime.Path = os.path.join(self.dir, "c.oeb")
        mime.PutMimeHeader()
        mime.PutMimePackageHeader()
        mime.AttachFile(package)
        mime.PutMimeFooter()
        mime.Complete()
        return mime.Path

    def test_missing_container_fails_without_raising(self):
        reader = ikpubx.OEBFFReader(os.path.join(self.dir, "none.oeb"))
        self.assertTrue(reader.Failed)
        self.assertEqual((reader.PartCount, reader.Parts, reader.Root), (0, [], None))
        self.assertEqual(reader.Result, ikpubx.E_FAIL)
        self.assertIn("Error 0x", reader.Diagnostic)

    def test_progress_can_stop_or_raise(self):
        path = self.container()
        stopped = ikpubx.OEBFFReader(path, progress=lambda done, size: False)
        calls = []
        plain = ikpubx.OEBFFReader(path, progress=lambda done, size: calls.append(done))
        self.assertTrue(calls)
        self.assertFalse(plain.Failed, plain.Diagnostic)
        self.assertEqual(plain.PartCount, 1)
        self.assertEqual(plain.Parts[0].Child(0).Name, "Content-Type")
        self.assertTrue(stopped.Failed)
        self.assertNotEqual(stopped.ErrorCode, 0)

        def fail(done, size):
            raise KeyError("stop")

        with self.assertRaises(KeyError):
            ikpubx.OEBFFReader(path, progress=fail)


if __name__ == "__main__":
    unittest.main()
