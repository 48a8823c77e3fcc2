// The class vellix.Book: one book known by a path, loaded, published,
// packed into a container or converted.
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ikutil/book_viewer.h"
#include "ikutil/device_settings.h"
#include "vellix/bindings.h"
#include "vellix/book.h"
#include "vellix/formats/file_io.h"

namespace vellix::bindings {

using script::PendingError;
using script::Text;

namespace {

// Draws page `page` (from 1) of the book file at Path, laid out for the
// device's screen as the user set it, into a grey PNG at `png`.
void SavePagePng(const Book& self, int64_t page, const std::string& png) {
  const std::string book_file = self.Path();
  std::error_code ec;
  if (book_file.empty() || !std::filesystem::is_regular_file(book_file, ec))
    RaiseFileNotFound(book_file, "No such book file");
  formats::RefuseOverwritingInput(png, {book_file});
  const ikutil::DeviceSettings screen = ikutil::ReadDeviceSettings();
  std::string failure, write_failure;
  int32_t pages = 0;
  bool drawn = false;
  {
    py::gil_scoped_release released;
    ikutil::CBookViewer viewer(book_file);
    viewer.SetFontSize(screen.font_size);
    if (viewer.Create(nullptr, 0, 1, screen.width, screen.height, screen.depth)) {
      pages = viewer.PageCount();
      ikutil::PageImage image;
      if (page >= 1 && page <= pages) {
        if (!viewer.GetPageImage(static_cast<int32_t>(page), &image))
          failure = viewer.LastErrorMessage();
        else if (!ikutil::SavePageImagePng(image, png, &write_failure))
          failure = write_failure;
        else
          drawn = true;
      }
    } else {
      failure = viewer.LastErrorMessage();
    }
  }
  if (drawn) return;
  if (failure.empty()) throw py::index_error("page " + std::to_string(page) + " is not in 1.." + std::to_string(pages));
  if (!write_failure.empty()) {
    PyErr_SetString(PyExc_OSError, write_failure.c_str());
    throw py::error_already_set();
  }
  throw py::value_error(failure);
}

}  // namespace

void BindBook(py::module_& m) {
  py::class_<Book, std::shared_ptr<Book>>(m, "Book", "One device book, document, package or text, known by a path.")
      .def(py::init<>())
      .def(py::init([](const std::string& path) {
             std::error_code ec;
             if (!std::filesystem::exists(path, ec)) RaiseFileNotFound(path, "No such book or document");
             auto book = std::make_shared<Book>();
             py::gil_scoped_release released;
             book->Load(path);
             return book;
           }),
           py::arg("path"), "Book(path) is Book() then Load(path); FileNotFoundError when nothing is at path.")
      .def("__enter__", [](const std::shared_ptr<Book>& self) { return self; })
      .def(
          "__exit__", [](const Book&, const py::args&) { return false; },
          "A book holds no file open between calls: leaving a `with` block only ends the name's use.")
      .def("SavePagePng", &SavePagePng, py::arg("page"), py::arg("path"),
           "Draws page `page` (from 1) of the book file at Path, laid out for the device's screen, as a grey PNG "
           "at `path` (written through a temporary file). FileNotFoundError without a book file, IndexError for "
           "a page outside the book, ValueError for a book that cannot be shown, OSError when the PNG cannot be "
           "written.")
      .def(
          "Load", [](Book& self, const std::string& path) { self.Load(path); }, py::arg("BookPath"),
          py::call_guard<py::gil_scoped_release>())
      .def("WriteInformation", &Book::WriteInformation, py::arg("Title"), py::arg("Author"), py::arg("Category"),
           "Writes the title, author and category into the book file or book folder at Path (rewriting it beside "
           "itself, so a failure leaves it as it was), then loads it again. Nothing else in the book changes.")
      .def(
          "SaveAsEpub", [](const Book& self, const std::string& epub) { self.SaveAsEpub(epub); }, py::arg("EpubFile"),
          "Writes the book file at Path, one this program built, as an EPUB 3 book.")
      .def(
          "Save",
          [](Book& self, const std::string& destination, py::object events) {
            PublishSink sink(std::move(events));
            PublishWithout(sink, [&] { self.Save(destination, sink.events()); });
          },
          py::arg("Destination") = "", py::arg("events") = py::none(),
          "Writes the book to Destination; a document or package is published. `events` may have "
          "OnSourceStart, OnParserFeedback and OnError.")
      .def_property_readonly("Extension", TextGetter<Book>(&Book::Extension))
      .def_property("Category", TextGetter<Book>(&Book::Category), &Book::SetCategory)
      .def_property(
          "Title", [](const Book& self) { return Text(self.PlainTitle()); }, &Book::SetTitle)
      .def_property(
          "Author", [](const Book& self) { return Text(self.PlainAuthor()); }, &Book::SetAuthor)
      .def_property_readonly("Pages", &Book::LaidOutPages, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("Size", &Book::BytesOnDisk)
      .def_property_readonly("Encrypted", &Book::Encrypted)
      .def_property("BookId", TextGetter<Book>(&Book::BookId), &Book::SetBookId)
      .def_property("Path", TextGetter<Book>(&Book::Path), &Book::SetPath)
      .def_property_readonly("FileName", TextGetter<Book>(&Book::FileName))
      .def(
          "BookshelfItem",
          [](const Book& self, const std::string& base_url) { return Text(self.BookshelfItem(base_url)); },
          py::arg("BaseURL"))
      .def(
          "ExtractMetadata",
          [](const Book& self, const std::string& document, std::string title, std::string author,
             std::string category) {
            bool read = self.ExtractMetadata(document, title, author, category);
            return py::make_tuple(read, Text(title), Text(author), Text(category));
          },
          py::arg("Document"), py::arg("Title") = "", py::arg("Author") = "", py::arg("Category") = "",
          "Returns (read, Title, Author, Category); the three are given back unchanged when read is False.")
      .def("ConvertTxtToHtm", &Book::ConvertTxtToHtm, py::arg("HtmFile"))
      .def("ConvertMarkdownToHtm", &Book::ConvertMarkdownToHtm, py::arg("HtmFile"))
      .def(
          "BuildOEBFile",
          [](const Book& self, const std::string& file_name, const std::string& directory, py::object progress) {
            PendingError pending;
            Book::PackProgress report;
            if (!progress.is_none()) {
              report = [&](size_t done, size_t total) {
                py::gil_scoped_acquire gil;
                if (pending.Has()) return;
                try {
                  progress(done, total);
                } catch (py::error_already_set& e) {
                  pending.Capture(e);
                }
              };
            }
            std::vector<std::string> refused;
            {
              py::gil_scoped_release released;
              refused = self.BuildOEBFile(file_name, directory, report);
            }
            pending.RethrowIfAny();
            py::list hrefs;
            for (const std::string& href : refused) hrefs.append(Text(href));
            return hrefs;
          },
          py::arg("FileName"), py::arg("Directory"), py::arg("progress") = py::none(),
          "Packs Directory/FileName.opf and its manifest into Directory/FileName.oeb; returns the hrefs "
          "that were not read. `progress(done, total)` hears each part written.")
      .def(
          "ParseRSRC",
          [](const Book& self, const std::string& rsrc) {
            std::string source_id, source_type, content_feed_id;
            int32_t issue_number = 0;
            self.ParseRSRC(rsrc, source_id, source_type, content_feed_id, issue_number);
            return py::make_tuple(Text(source_id), Text(source_type), Text(content_feed_id), issue_number);
          },
          py::arg("RSRC"), "Returns (SourceId, SourceType, ContentFeedId, IssueNumber).")
      .def("CreateDefaultOpf", &Book::CreateDefaultOpf, py::arg("OpfFile"))
      .def(
          "GetResourceString",
          [](const Book& self, const std::string& resource, int64_t id) {
            return Text(self.GetResourceString(resource, Int16(id)));
          },
          py::arg("Resource"), py::arg("ID"))
      .def(
          "Content", [](const Book& self) { return FromVariant(self.Content()); },
          "All bytes of the file at Path, or None.")
      .def_property_readonly("SourceId", [](const Book& self) { return Text(self.SourceId()); })
      .def_property_readonly("SourceType", [](const Book& self) { return Text(self.SourceType()); })
      .def_property_readonly("ContentFeedId", TextGetter<Book>(&Book::ContentFeedId))
      .def_property_readonly("IssueNumber", &Book::IssueNumber)
      .def_property_readonly("IsPeriodical", &Book::IsPeriodical)
      .def("__repr__",
           [](const Book& self) { return "<vellix.Book " + py::repr(Text(self.Path())).cast<std::string>() + ">"; });
}

}  // namespace vellix::bindings
