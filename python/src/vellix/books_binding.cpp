// The class vellix.Books: an ordered collection, iterable and indexed.
#include <memory>
#include <string>

#include "vellix/bindings.h"
#include "vellix/bookshelf.h"

namespace vellix::bindings {

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

}  // namespace vellix::bindings
