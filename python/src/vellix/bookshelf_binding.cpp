// The class vellix.Bookshelf: a folder of device books, added to one at a
// time or many at once.
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vellix/bindings.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

namespace vellix::bindings {
namespace {

using script::Text;

py::dict BatchItemDict(const BatchItem& item) {
  py::dict d;
  d["path"] = Text(item.path);
  d["book_file"] = Text(item.book_file);
  d["added"] = item.added();
  d["error"] = item.error;
  d["description"] = Text(item.description);
  return d;
}

// The loaded collection, as Python sees the shelf's own sequence.
py::object LoadedBooks(const py::object& shelf) {
  py::object books = shelf.attr("Books");
  if (books.is_none()) throw py::value_error("the bookshelf is not loaded: Load(folder) first");
  return books;
}

}  // namespace

void BindBookshelf(py::module_& m) {
  py::class_<Bookshelf, std::shared_ptr<Bookshelf>>(m, "Bookshelf", "A folder of device books and its collection.")
      .def(py::init<>())
      .def(py::init([](const std::string& directory) {
             std::error_code ec;
             if (!std::filesystem::is_directory(directory, ec))
               RaiseFileNotFound(directory, "No such bookshelf folder");
             auto shelf = std::make_shared<Bookshelf>();
             py::gil_scoped_release released;
             shelf->Load(directory);
             return shelf;
           }),
           py::arg("directory"),
           "Bookshelf(folder) is Bookshelf() then Load(folder); FileNotFoundError when the folder is missing.")
      .def("__enter__", [](const std::shared_ptr<Bookshelf>& self) { return self; })
      .def(
          "__exit__", [](const Bookshelf&, const py::args&) { return false; },
          "A shelf holds no file open between calls: leaving a `with` block only ends the name's use.")
      // A shelf is true even when empty or not loaded, as before it had a length.
      .def("__bool__", [](const Bookshelf&) { return true; })
      .def(
          "__len__", [](const py::object& self) { return py::len(LoadedBooks(self)); },
          "The loaded books' count; ValueError before a successful Load.")
      .def(
          "__iter__", [](const py::object& self) { return py::iter(LoadedBooks(self)); },
          "The loaded books, as Books iterates them.")
      .def(
          "__getitem__",
          [](const py::object& self, py::handle index) {
            py::object books = LoadedBooks(self);
            return py::object(books[index]);
          },
          py::arg("index"), "shelf[i] is shelf.Books[i]: 0-based, negative from the end, slices.")
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

}  // namespace vellix::bindings
