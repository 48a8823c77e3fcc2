// What both Python modules share: text crossing into Python, exception
// classes a script can catch by attribute, integer arguments checked as an
// automation client checks them, and a handler's exception carried out of
// C++ code that called it.
#pragma once

#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vellix::script {

namespace py = pybind11;

// UTF-8 from the libraries as a Python str. Bytes that are not UTF-8 (an
// 8-bit name read from a damaged file) survive as lone surrogates, so that
// reading a property never fails.
inline py::str Text(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

// Defines an exception class in `module` from Python source, so that it is
// an ordinary Python class (picklable, subclassable, with attributes).
inline py::object DefineException(py::module_& module, const char* name, const char* source) {
  py::dict scope;
  scope["__name__"] = module.attr("__name__");
  scope["__builtins__"] = py::module_::import("builtins");
  py::exec(source, scope);
  py::object cls = scope[name];
  module.attr(name) = cls;
  return cls;
}

// Raises an instance of `cls` built from `args` as the pending Python error.
template <typename... Args>
void SetError(const py::object& cls, Args&&... args) {
  py::object error = cls(std::forward<Args>(args)...);
  PyErr_SetObject(cls.ptr(), error.ptr());
}

// The integer `value` as T, or nothing when it does not fit (the caller
// raises its module's overflow error).
template <typename T>
std::optional<T> Narrow(int64_t value) {
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) return std::nullopt;
  return static_cast<T>(value);
}

// The first exception raised by a Python handler during one C++ call. The
// handler's caller records it and tells the C++ code to stop; once the C++
// call has returned, Rethrow() raises it in the script. Only touched with
// the GIL held.
class PendingError {
 public:
  bool Has() const { return error_.has_value(); }
  // Records the error being handled now (inside a catch block).
  void Capture(py::error_already_set& e) {
    if (!error_) error_.emplace(std::move(e));
  }
  void RethrowIfAny() {
    if (!error_) return;
    py::error_already_set e = std::move(*error_);
    error_.reset();
    throw e;
  }

 private:
  std::optional<py::error_already_set> error_;
};

// The Python attribute `name` of `target` when it is callable, else None.
inline py::object Handler(const py::object& target, const char* name) {
  if (target.is_none()) return py::none();
  py::object handler = py::getattr(target, name, py::none());
  return PyCallable_Check(handler.ptr()) ? handler : py::none();
}

// Calls the handler `name` of an event object through `invoke`, when it has
// one and no earlier handler has failed; a handler's exception is recorded
// in `pending`. False when the caller should stop. Called with the GIL held.
template <typename Invoke>
bool CallHandler(const py::object& target, const char* name, PendingError& pending, const Invoke& invoke) {
  if (pending.Has()) return false;
  try {
    py::object handler = Handler(target, name);
    if (!handler.is_none()) invoke(handler);
  } catch (py::error_already_set& e) {
    pending.Capture(e);
    return false;
  }
  return true;
}

}  // namespace vellix::script
