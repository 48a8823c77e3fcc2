// The Python module "vellix": the library's automation objects as a script
// sees them. Operations keep their names (shelf.Load(path)); properties are
// attributes, and the read-only ones refuse assignment; a library error is
// raised as vellix.AutomationError with .number, .description and .detail.
//
// Operations that may take long (loading a shelf, publishing, packing a
// container) let other Python threads run meanwhile and take the
// interpreter back for the script's handlers. One object is still used by
// one thread at a time, as automation objects are.
//
// Each class is bound in a file of its own (see vellix/bindings.h); this one
// makes the module and its exception class.
#include <pybind11/pybind11.h>

#include <exception>

#include "script_support.h"
#include "vellix/bindings.h"
#include "vellix/book.h"
#include "vellix/error.h"

namespace vellix::bindings {
namespace {

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

}  // namespace
}  // namespace vellix::bindings

PYBIND11_MODULE(vellix, m) {
  namespace py = pybind11;
  m.doc() = "Vellix Publisher's library: books, the bookshelf, packages and the container writer.";

  vellix::bindings::automation_error_class =
      new py::object(vellix::script::DefineException(m, "AutomationError", vellix::bindings::kAutomationErrorSource));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vellix::formats::AutomationError& e) {
      vellix::script::SetError(*vellix::bindings::automation_error_class, e.number(),
                               vellix::script::Text(e.description()), vellix::script::Text(e.detail()));
    }
  });

  vellix::bindings::BindApplication(m);
  vellix::bindings::BindBook(m);
  vellix::bindings::BindBooks(m);
  vellix::bindings::BindBookshelf(m);
  vellix::bindings::BindPackage(m);
  vellix::bindings::BindMime(m);
  m.attr("kBuildFailed") = vellix::kBuildFailed;
}
