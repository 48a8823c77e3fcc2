// The Python module "vellix": the library's automation objects as a script
// sees them. Operations keep their names (shelf.Load(path)); properties are
// attributes, and the read-only ones refuse assignment; a library error is
// raised as vellix.AutomationError with .number, .description and .detail.
//
// Operations that may take long (loading a shelf, publishing, packing a
// container) let other Python threads run meanwhile and take the
// interpreter back for the script's handlers. One object is still used by
// one thread at a time, as automation objects are.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mime.h"
#include "script_support.h"
#include "vellix/application.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"
#include "vellix/package.h"
#include "vellix/variant.h"

namespace vellix {
namespace {

namespace py = pybind11;
using script::PendingError;
using script::Text;

constexpr char kAutomationErrorSource[] = R"py(
class AutomationError(Exception):
    """An error of the library's objects: the run-time error number, its
    standard description and what it concerns (a path, a name; may be "")."""

    def __init__(self, number, description="", detail=""):
        super().__init__(number, description, detail)
        self.number = number
        self.description = description
        self.detail = detail

    def __str__(self):
        if self.detail:
            return "%s: %s (%d)" % (self.description, self.detail, self.number)
        return "%s (%d)" % (self.description, self.number)
)py";

// The module's exception class; kept for the life of the process, as the
// translator may run until the interpreter ends.
py::object* automation_error_class = nullptr;

[[noreturn]] void RaiseOverflow() { formats::Raise(formats::kOverflow); }

int16_t Int16(int64_t value) {
  if (auto v = script::Narrow<int16_t>(value)) return *v;
  RaiseOverflow();
}

// --- Variants ---

py::object ObjectToPython(const std::shared_ptr<Object>& object) {
  if (!object) return py::none();
  if (auto book = std::dynamic_pointer_cast<Book>(object)) return py::cast(book);
  if (auto books = std::dynamic_pointer_cast<Books>(object)) return py::cast(books);
  if (auto shelf = std::dynamic_pointer_cast<Bookshelf>(object)) return py::cast(shelf);
  if (auto package = std::dynamic_pointer_cast<Package>(object)) return py::cast(package);
  formats::Raise(formats::kTypeMismatch);
}

py::object ScalarFromVariant(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kArray:
      return py::none();
    case Variant::Type::kInteger:
      return py::int_(v.AsInteger());
    case Variant::Type::kBoolean:
      return py::bool_(v.AsBoolean());
    case Variant::Type::kString:
      return Text(v.AsString());
    case Variant::Type::kBytes: {
      const std::vector<uint8_t>& bytes = v.AsBytes();
      return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case Variant::Type::kObject:
      return ObjectToPython(v.AsObject());
  }
  return py::none();
}

// Arrays of arrays become lists of lists. Both walks keep their own stack,
// so no nesting can exhaust the machine's.
py::object FromVariant(const Variant& root) {
  if (root.type() != Variant::Type::kArray) return ScalarFromVariant(root);
  struct Level {
    explicit Level(const std::vector<Variant>* array) : items(array) {}
    const std::vector<Variant>* items;
    size_t next = 0;
    py::list list;
  };
  std::vector<Level> stack;
  stack.emplace_back(&root.AsArray());
  for (;;) {
    Level& top = stack.back();
    if (top.next < top.items->size()) {
      const Variant& element = (*top.items)[top.next++];
      if (element.type() == Variant::Type::kArray)
        stack.emplace_back(&element.AsArray());
      else
        top.list.append(ScalarFromVariant(element));
      continue;
    }
    py::list done = std::move(top.list);
    stack.pop_back();
    if (stack.empty()) return done;
    stack.back().list.append(done);
  }
}

bool IsSequence(py::handle value) { return py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value); }

Variant ScalarToVariant(py::handle value) {
  if (value.is_none()) return Variant();
  if (py::isinstance<py::bool_>(value)) return Variant(value.cast<bool>());
  if (py::isinstance<py::int_>(value)) {
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0) RaiseOverflow();
    return Variant(static_cast<int64_t>(n));
  }
  if (py::isinstance<py::str>(value)) return Variant(value.cast<std::string>());
  if (py::isinstance<py::bytes>(value) || py::isinstance<py::bytearray>(value)) {
    std::string bytes = py::isinstance<py::bytes>(value) ? value.cast<std::string>()
                                                         : std::string(py::reinterpret_borrow<py::bytearray>(value));
    return Variant(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  if (py::isinstance<Book>(value)) return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Book>>()));
  if (py::isinstance<Books>(value)) return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Books>>()));
  if (py::isinstance<Bookshelf>(value))
    return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Bookshelf>>()));
  if (py::isinstance<Package>(value)) return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Package>>()));
  formats::Raise(formats::kTypeMismatch);
}

// No argument of the library nests arrays more than a level or two; deeper
// lists are refused (a variant nested a million deep could not even be
// destroyed without exhausting the stack).
constexpr size_t kMaxNesting = 64;

Variant ToVariant(py::handle root) {
  if (!IsSequence(root)) return ScalarToVariant(root);
  struct Level {
    explicit Level(py::handle sequence) : items(py::reinterpret_borrow<py::sequence>(sequence)) {}
    py::sequence items;
    size_t next = 0;
    std::vector<Variant> elements;
  };
  std::vector<Level> stack;
  stack.emplace_back(root);
  for (;;) {
    Level& top = stack.back();
    if (top.next < py::len(top.items)) {
      py::object element = top.items[top.next++];
      if (!IsSequence(element)) {
        top.elements.push_back(ScalarToVariant(element));
        continue;
      }
      if (stack.size() >= kMaxNesting) formats::Raise(formats::kOverflow, "lists nested more than 64 deep");
      stack.emplace_back(element);
      continue;
    }
    Variant done(std::move(top.elements));
    stack.pop_back();
    if (stack.empty()) return done;
    stack.back().elements.push_back(std::move(done));
  }
}

// --- Publishing events ---

// A script's event object for one publication (or None): any object with
// some of OnSourceStart(file, number, total), OnParserFeedback(done,
// total) and OnError(file, message, line, column, severity). An exception
// in a handler stops the publication, and is raised once it has stopped.
class PublishSink {
 public:
  explicit PublishSink(py::object target) : target_(std::move(target)) {
    events_.source_start = [this](const std::string& file, int32_t number, int32_t total) {
      Call("OnSourceStart", [&](const py::object& h) { h(Text(file), number, total); });
    };
    events_.progress = [this](int64_t done, int64_t total) {
      Call("OnParserFeedback", [&](const py::object& h) { h(done, total); });
    };
    events_.error = [this](const std::string& file, const std::string& message, int32_t line, int32_t column,
                           int16_t severity) {
      Call("OnError", [&](const py::object& h) { h(Text(file), Text(message), line, column, severity); });
    };
    // Asked between the build's steps: Ctrl-C stops the publication
    // cleanly too, raised as KeyboardInterrupt once it has stopped.
    events_.keep_going = [this] {
      py::gil_scoped_acquire gil;
      if (!pending_.Has() && PyErr_CheckSignals() != 0) {
        py::error_already_set interrupted;
        pending_.Capture(interrupted);
      }
      return !pending_.Has();
    };
  }
  PublishSink(const PublishSink&) = delete;
  PublishSink& operator=(const PublishSink&) = delete;

  const PublishEvents* events() const { return &events_; }
  PendingError& pending() { return pending_; }

 private:
  template <typename Invoke>
  void Call(const char* name, const Invoke& invoke) {
    py::gil_scoped_acquire gil;
    if (pending_.Has()) return;
    try {
      py::object handler = script::Handler(target_, name);
      if (!handler.is_none()) invoke(handler);
    } catch (py::error_already_set& e) {
      pending_.Capture(e);
    }
  }

  py::object target_;
  PublishEvents events_;
  PendingError pending_;
};

// Runs `operation` without the GIL; a handler's exception wins over the
// library error its stop caused.
template <typename Operation>
void PublishWithout(PublishSink& sink, const Operation& operation) {
  try {
    py::gil_scoped_release released;
    operation();
  } catch (const formats::AutomationError&) {
    sink.pending().RethrowIfAny();
    throw;
  }
  sink.pending().RethrowIfAny();
}

// Getter of a text property.
template <typename T, typename Getter>
auto TextGetter(Getter getter) {
  return [getter](const T& self) { return Text((self.*getter)()); };
}

void BindBook(py::module_& m) {
  py::class_<Book, std::shared_ptr<Book>>(m, "Book", "One device book, document, package or text, known by a path.")
      .def(py::init<>())
      .def(
          "Load", [](Book& self, const std::string& path) { self.Load(path); }, py::arg("BookPath"),
          py::call_guard<py::gil_scoped_release>())
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
      .def_property("Title", TextGetter<Book>(&Book::Title), &Book::SetTitle)
      .def_property("Author", TextGetter<Book>(&Book::Author), &Book::SetAuthor)
      .def_property_readonly("Pages", &Book::Pages)
      .def_property_readonly("Size", &Book::Size)
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

void BindBooks(py::module_& m) {
  py::class_<Books, std::shared_ptr<Books>>(m, "Books",
                                            "An ordered collection of books; positions count from 1. Iterable; "
                                            "books[i] is books.Item(i).")
      .def(py::init<>())
      .def("Add", &Books::Add, py::arg("Path"), py::call_guard<py::gil_scoped_release>())
      .def("AddBook", &Books::AddBook, py::arg("objNewBook"))
      .def(
          "Item", [](const Books& self, py::handle index) { return self.Item(ToVariant(index)); },
          py::arg("vntIndexKey"))
      .def("__getitem__", [](const Books& self, py::handle index) { return self.Item(ToVariant(index)); })
      .def_property_readonly("Count", &Books::Count)
      .def("__len__", &Books::Count)
      .def(
          "Remove", [](Books& self, py::handle index) { self.Remove(ToVariant(index)); }, py::arg("vntIndexKey"))
      .def("__iter__",
           [](const Books& self) {
             // Over a snapshot, so that a loop that adds or removes books
             // sees the collection as it was when the loop began.
             py::list items;
             for (const auto& book : self) items.append(py::cast(book));
             return py::iter(items);
           })
      .def("__repr__", [](const Books& self) { return "<vellix.Books Count=" + std::to_string(self.Count()) + ">"; });
}

py::dict BatchItemDict(const BatchItem& item) {
  py::dict d;
  d["path"] = Text(item.path);
  d["book_file"] = Text(item.book_file);
  d["added"] = item.added();
  d["error"] = item.error;
  d["description"] = Text(item.description);
  return d;
}

void BindBookshelf(py::module_& m) {
  py::class_<Bookshelf, std::shared_ptr<Bookshelf>>(m, "Bookshelf", "A folder of device books and its collection.")
      .def(py::init<>())
      .def(
          "Add",
          [](Bookshelf& self, const std::shared_ptr<Book>& book, py::object events) {
            PublishSink sink(std::move(events));
            PublishWithout(sink, [&] { self.Add(book, sink.events()); });
          },
          py::arg("NewBook"), py::arg("events") = py::none(),
          "Converts the book into a book file on the shelf when its kind calls for it, then appends it to "
          "Books. `events` may have OnSourceStart, OnParserFeedback and OnError.")
      .def(
          "AddMany",
          [](Bookshelf& self, const std::vector<std::string>& paths, std::optional<std::string> title,
             std::optional<std::string> author, std::optional<std::string> category, unsigned jobs,
             py::object finished) {
            BatchOptions options;
            options.title = std::move(title);
            options.author = std::move(author);
            options.category = std::move(category);
            options.jobs = jobs;
            script::PendingError pending;
            std::atomic<bool> stop{false};
            if (!finished.is_none()) {
              options.finished = [&](size_t done, size_t total, const BatchItem& item) {
                py::gil_scoped_acquire gil;
                if (pending.Has()) return;
                try {
                  finished(done, total, BatchItemDict(item));
                } catch (py::error_already_set& e) {
                  pending.Capture(e);
                  stop = true;
                }
              };
            }
            options.keep_going = [&stop] { return !stop; };
            std::vector<BatchItem> items;
            {
              py::gil_scoped_release released;
              items = self.AddMany(paths, options);
            }
            pending.RethrowIfAny();
            py::list result;
            for (const BatchItem& item : items) result.append(BatchItemDict(item));
            return result;
          },
          py::arg("Paths"), py::arg("Title") = py::none(), py::arg("Author") = py::none(),
          py::arg("Category") = py::none(), py::arg("jobs") = 0u, py::arg("finished") = py::none(),
          "Adds many paths at once, built in parallel (`jobs`, 0: one per core), without loading the shelf; "
          "Title, Author and Category apply to every book when given. Returns one dict per path (path, "
          "book_file, added, error, description); a failed book does not stop the others. `finished(done, total, "
          "item)` is called as each book is finished; an exception in it stops the batch and is raised.")
      .def("OpenForAdding", &Bookshelf::OpenForAdding, py::arg("Directory"),
           "Sets Directory without reading the folder: all that AddMany needs.")
      .def_property("Directory", TextGetter<Bookshelf>(&Bookshelf::Directory), &Bookshelf::SetDirectory)
      .def_property("BaseURL", nullptr, &Bookshelf::SetBaseURL, "Write-only: the address before every book file name.")
      .def("Bookshelf", [](const Bookshelf& self) { return Text(self.BookshelfText()); })
      .def(
          "Book", [](const Bookshelf& self, const std::string& book_id) { return self.Book(book_id); },
          py::arg("BookId"))
      .def_static("BookInformationLength", &Bookshelf::BookInformationLength, py::arg("FilePath"))
      .def("Load", &Bookshelf::Load, py::arg("Directory"), py::call_guard<py::gil_scoped_release>())
      .def("Backup", &Bookshelf::Backup, py::arg("Directory"))
      .def("Sort", &Bookshelf::Sort, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("Books", &Bookshelf::Books)
      .def("CreateBooklist", &Bookshelf::CreateBooklist, py::arg("BookList"), py::call_guard<py::gil_scoped_release>());
}

void BindPackage(py::module_& m) {
  py::class_<Package, std::shared_ptr<Package>>(m, "Package", "Fills and completes OEB package documents.")
      .def(py::init<>())
      .def_property("PackagePath", TextGetter<Package>(&Package::PackagePath), &Package::SetPackagePath)
      .def_property("DefaultPackage", TextGetter<Package>(&Package::DefaultPackage), &Package::SetDefaultPackage)
      .def(
          "initialID", [](Package& self, int64_t id) { self.initialID(Int16(id)); }, py::arg("ID"))
      .def("CreatePackage", &Package::CreatePackage, py::arg("Source"), py::arg("PackageName"), py::arg("Title"),
           py::arg("Author"), py::arg("Category"))
      .def("CompletePackage", &Package::CompletePackage, py::arg("Package"), py::arg("BookName"), py::arg("Category"))
      .def(
          "SetDirectory",
          [](Package& self, const std::string& package, const std::string& destination, const std::string& logging) {
            return FromVariant(self.SetDirectory(package, destination, logging));
          },
          py::arg("Package"), py::arg("Destination"), py::arg("Logging"));
}

void BindMime(py::module_& m) {
  py::class_<MIME, std::shared_ptr<MIME>>(m, "MIME", "The OEBFF container writer, one step at a time.")
      .def(py::init<>())
      .def_property("Path", TextGetter<MIME>(&MIME::Path), &MIME::SetPath)
      .def("PutMimeHeader", &MIME::PutMimeHeader)
      .def("PutMimePackageHeader", &MIME::PutMimePackageHeader)
      .def("PutMimeFileHeader", &MIME::PutMimeFileHeader, py::arg("ContentType"), py::arg("OEB"),
           py::arg("ContentDisposition"))
      .def("AttachFile", &MIME::AttachFile, py::arg("FilePath"))
      .def("PutMimeFooter", &MIME::PutMimeFooter)
      .def("Complete", &MIME::Complete);
}

void BindApplication(py::module_& m) {
  // A global object: its properties are read on the class itself, as
  // vellix.Application.BookshelfDirectory, and read the settings afresh.
  py::class_<Application>(m, "Application", "Where the user keeps device books (read from the settings).")
      .def_property_readonly_static("DskDirectory", [](py::object) { return Text(Application::DskDirectory()); })
      .def_property_readonly_static("BookshelfDirectory",
                                    [](py::object) { return Text(Application::BookshelfDirectory()); });
}

}  // namespace
}  // namespace vellix

PYBIND11_MODULE(vellix, m) {
  namespace py = pybind11;
  m.doc() = "Vellix Publisher's library: books, the bookshelf, packages and the container writer.";

  vellix::automation_error_class =
      new py::object(vellix::script::DefineException(m, "AutomationError", vellix::kAutomationErrorSource));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vellix::formats::AutomationError& e) {
      vellix::script::SetError(*vellix::automation_error_class, e.number(), vellix::script::Text(e.description()),
                               vellix::script::Text(e.detail()));
    }
  });

  vellix::BindApplication(m);
  vellix::BindBook(m);
  vellix::BindBooks(m);
  vellix::BindBookshelf(m);
  vellix::BindPackage(m);
  vellix::BindMime(m);
  m.attr("kBuildFailed") = vellix::kBuildFailed;
}
