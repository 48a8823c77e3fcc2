// The class vellix.Books: an ordered collection, iterable and indexed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vellix/bindings.h"
#include "vellix/bookshelf.h"

namespace vellix::bindings {
namespace {

// books[i] as a Python sequence: 0-based, negative from the end, IndexError
// outside; a slice is a list. Item() keeps counting from 1.
py::object PythonItem(const Books& self, py::handle index) {
  const int64_t count = self.Count();
  if (py::isinstance<py::slice>(index)) {
    size_t start = 0, stop = 0, step = 0, length = 0;
    if (!index.cast<py::slice>().compute(static_cast<size_t>(count), &start, &stop, &step, &length))
      throw py::error_already_set();
    py::list items;
    for (size_t i = 0; i < length; ++i)
      items.append(py::cast(*(self.begin() + static_cast<std::ptrdiff_t>(start + i * step))));
    return items;
  }
  if (!py::isinstance<py::int_>(index) || py::isinstance<py::bool_>(index))
    throw py::type_error("Books indices must be integers or slices, not " +
                         py::str(py::type::handle_of(index).attr("__name__")).cast<std::string>());
  int64_t position = 0;
  try {
    position = index.cast<int64_t>();
  } catch (const py::cast_error&) {
    throw py::index_error("Books index out of range");
  }
  if (position < 0) position += count;
  if (position < 0 || position >= count) throw py::index_error("Books index out of range");
  return py::cast(*(self.begin() + position));
}

}  // namespace

void BindBooks(py::module_& m) {
  py::class_<Books, std::shared_ptr<Books>>(m, "Books",
                                            "An ordered collection of books. Item(i) counts from 1; as a Python "
                                            "sequence it counts from 0: books[0] is books.Item(1), books[-1] the "
                                            "last, books[1:3] a list, IndexError outside.")
      .def(py::init<>())
      .def("Add", &Books::Add, py::arg("Path"), py::call_guard<py::gil_scoped_release>())
      .def("AddBook", &Books::AddBook, py::arg("objNewBook"))
      .def(
          "Item", [](const Books& self, py::handle index) { return self.Item(ToVariant(index)); },
          py::arg("vntIndexKey"))
      .def("__getitem__", &PythonItem, py::arg("index"),
           "The book at a 0-based index (negative from the end), or a list for a slice.")
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
