// What the files of the Python module "vellix" share: argument checks, the
// library's variants as Python values and back, a script's handlers for
// one publication, and one function per class that binds it.
#pragma once

#include <pybind11/pybind11.h>
// In every file of the module, so that all see the same conversions.
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "script_support.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/variant.h"

namespace vellix::bindings {

namespace py = pybind11;

[[noreturn]] inline void RaiseOverflow() { formats::Raise(formats::kOverflow); }

// Python's FileNotFoundError for `path`, with errno ENOENT.
[[noreturn]] inline void RaiseFileNotFound(const std::string& path, const char* what) {
  PyErr_SetObject(PyExc_FileNotFoundError, py::make_tuple(ENOENT, what, path).ptr());
  throw py::error_already_set();
}

inline int16_t Int16(int64_t value) {
  if (auto v = script::Narrow<int16_t>(value)) return *v;
  RaiseOverflow();
}

// A variant as a Python value: arrays of arrays become lists of lists, the
// library's objects the module's classes.
py::object FromVariant(const Variant& root);
// ... and back; lists nested more than 64 deep are refused.
Variant ToVariant(py::handle root);

// A script's event object for one publication (or None): any object with
// some of OnSourceStart(file, number, total), OnParserFeedback(done,
// total) and OnError(file, message, line, column, severity). An exception
// in a handler stops the publication, and is raised once it has stopped.
class PublishSink {
 public:
  explicit PublishSink(py::object target);
  PublishSink(const PublishSink&) = delete;
  PublishSink& operator=(const PublishSink&) = delete;

  const PublishEvents* events() const { return &events_; }
  script::PendingError& pending() { return pending_; }

 private:
  template <typename Invoke>
  void Call(const char* name, const Invoke& invoke);

  py::object target_;
  PublishEvents events_;
  script::PendingError pending_;
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
  return [getter](const T& self) { return script::Text((self.*getter)()); };
}

// Each class into `m`, under the names the script uses.
void BindApplication(py::module_& m);
void BindBook(py::module_& m);
void BindBooks(py::module_& m);
void BindBookshelf(py::module_& m);
void BindPackage(py::module_& m);
void BindMime(py::module_& m);

}  // namespace vellix::bindings
