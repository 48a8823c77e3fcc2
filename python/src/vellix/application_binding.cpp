// The class vellix.Application: where the user keeps device books.
#include "vellix/application.h"
#include "vellix/bindings.h"

namespace vellix::bindings {

using script::Text;

void BindApplication(py::module_& m) {
  // A global object: its properties are read on the class itself, as
  // vellix.Application.BookshelfDirectory, and read the settings afresh.
  py::class_<Application>(m, "Application", "Where the user keeps device books (read from the settings).")
      .def_property_readonly_static("DskDirectory", [](py::object) { return Text(Application::DskDirectory()); })
      .def_property_readonly_static("BookshelfDirectory",
                                    [](py::object) { return Text(Application::BookshelfDirectory()); });
}

}  // namespace vellix::bindings
