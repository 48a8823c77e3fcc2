// What the files of the Python module "ikpubx" share: how a failure code
// travels to the script, integer arguments narrowed as an automation client
// narrows them, the Project as a script holds it, and one function per class
// to bind it and to wrap an object the class registry made.
#pragma once

#include <pybind11/pybind11.h>
// In every file of the module, so that all see the same conversions.
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "ikpubx/hresult.h"
#include "ikpubx/module.h"
#include "ikpubx/project.h"
#include "script_support.h"

namespace ikpubx {
class IBuilder;
class IViewer;
}  // namespace ikpubx

namespace ikpubx::bindings {

namespace py = pybind11;

// What a scripting client sees for an argument out of a parameter's range.
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);

// A failure code on its way to the script, with what the object said of
// it when it said more than the code's standard text.
struct ComFailure {
  explicit ComFailure(HRESULT code, std::string text = {}) : hr(code), description(std::move(text)) {}
  HRESULT hr;
  std::string description;
};

// S_OK, S_FALSE and other success codes come back; failures are raised.
inline HRESULT Check(HRESULT hr) {
  if (Failed(hr)) throw ComFailure(hr);
  return hr;
}

template <typename T>
T Narrow(int64_t value) {
  if (auto v = vellix::script::Narrow<T>(value)) return *v;
  throw ComFailure(DISP_E_OVERFLOW);
}

// A new object of the registry's class `prog_id` in the wrapper the script
// holds it by.
template <typename Wrapper, typename Interface>
std::shared_ptr<Wrapper> NewWrapped(const char* prog_id) {
  std::shared_ptr<Interface> object;
  Check(CreateObject(prog_id, &object));
  return std::make_shared<Wrapper>(std::move(object));
}

// Runs `call` without the GIL, so that the engine works while other Python
// threads run; a handler's exception raised meanwhile wins over the call's
// result.
template <typename Call>
HRESULT RunWithoutGil(vellix::script::PendingError& pending, const Call& call) {
  HRESULT hr;
  {
    py::gil_scoped_release released;
    hr = call();
  }
  pending.RethrowIfAny();
  return Check(hr);
}

// Drops an event sink's Python references. The last reference to a sink
// may go inside the engine, without the GIL, so the lock is taken here.
template <typename State>
void DropSinkReferences(py::object& target, std::shared_ptr<State>& state) noexcept {
  try {
    py::gil_scoped_acquire gil;
    target = py::object();
    state.reset();
  } catch (...) {
    // Only an interpreter that is shutting down refuses the lock; no
    // Python reference may be dropped without it, so they are left.
    target.release();
    static_cast<void>(new std::shared_ptr<State>(std::move(state)));
  }
}

// A Project as the script holds it. One the Builder made for itself (for
// BuildFromProject and the like) reaches OnBuildStart borrowed: it is
// emptied when the call that made it returns, and using it afterwards
// answers E_POINTER.
class ProjectRef {
 public:
  explicit ProjectRef(std::shared_ptr<IProject> project) : project_(std::move(project)) {}
  static std::shared_ptr<ProjectRef> Borrowed(IProject* project) {
    return std::make_shared<ProjectRef>(std::shared_ptr<IProject>(project, [](IProject*) {}));
  }
  IProject* get() const {
    if (!project_) throw ComFailure(E_POINTER);
    return project_.get();
  }
  IProject* raw() const { return project_.get(); }
  void Release() { project_.reset(); }

 private:
  std::shared_ptr<IProject> project_;
};

using ProjectPtr = std::shared_ptr<ProjectRef>;

// Each class into `m`, under the names the script uses.
void BindProject(py::module_& m);
void BindBuilder(py::module_& m);
void BindViewer(py::module_& m);
void BindReader(py::module_& m);

// An object the class registry made, as the script holds it.
py::object WrapProject(std::shared_ptr<IProject> project);
py::object WrapBuilder(std::shared_ptr<IBuilder> builder);
py::object WrapViewer(std::shared_ptr<IViewer> viewer);

}  // namespace ikpubx::bindings
