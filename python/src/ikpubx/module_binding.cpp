// The Python module "ikpubx": the toolkit's Project, Builder, Viewer and
// container reader, and the class registry (ikpubx.create("IKPublisher.Builder")).
//
// Members keep their names; plain properties are attributes, and one with
// an index is a get method and a Set... method (project.SourceFile(0),
// project.SetSourceFile(0, "a.htm")). A failure result is raised as
// ikpubx.ComError with .hresult, the signed 32-bit code a scripting client
// sees; S_FALSE comes back as the call's result (ikpubx.S_FALSE).
//
// Each class is bound in a file of its own (see ikpubx/bindings.h); this one
// makes the module: the exception class, the result codes and the registry.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "ikpubx/bindings.h"
#include "ikpubx/builder.h"
#include "ikpubx/module.h"
#include "ikpubx/project.h"
#include "ikpubx/viewer.h"
#include "script_support.h"

namespace ikpubx::bindings {
namespace {

using vellix::script::Text;

constexpr char kComErrorSource[] = R"py(
class ComError(Exception):
    """A toolkit call that answered a failure code: .hresult is the signed
    32-bit code (ikpubx.E_FAIL, ikpubx.E_INVALIDARG, ...)."""

    def __init__(self, hresult, description=""):
        super().__init__(hresult, description)
        self.hresult = hresult
        self.description = description

    def __str__(self):
        text = self.description or "Toolkit error"
        return "%s (0x%08X)" % (text, self.hresult & 0xFFFFFFFF)
)py";

py::object* com_error_class = nullptr;

const char* DescriptionOf(HRESULT hr) {
  switch (static_cast<uint32_t>(hr)) {
    case 0x80004005u:
      return "Unspecified error";
    case 0x80070057u:
      return "The parameter is incorrect";
    case 0x80004003u:
      return "Invalid pointer";
    case 0x8007000Eu:
      return "Not enough memory resources are available to complete this operation";
    case 0x80004002u:
      return "No such interface supported";
    case 0x80040200u:
      return "No connection for this cookie";
    case 0x80040154u:
      return "Class not registered";
    case 0x8002000Au:
      return "Out of present range";
    default:
      return "";
  }
}

// --- The class registry ---

py::object Create(const std::string& name) {
  std::shared_ptr<ComObject> object;
  Check(CreateObject(name, &object));
  if (auto builder = std::dynamic_pointer_cast<IBuilder>(object)) return WrapBuilder(std::move(builder));
  if (auto project = std::dynamic_pointer_cast<IProject>(object)) return WrapProject(std::move(project));
  if (auto viewer = std::dynamic_pointer_cast<IViewer>(object)) return WrapViewer(std::move(viewer));
  throw ComFailure(E_NOINTERFACE);
}

}  // namespace
}  // namespace ikpubx::bindings

PYBIND11_MODULE(ikpubx, m) {
  namespace py = pybind11;
  using namespace ikpubx;
  using namespace ikpubx::bindings;
  m.doc() = "Vellix Publisher's toolkit: the Project, the Builder, the container reader and the class registry.";

  com_error_class = new py::object(vellix::script::DefineException(m, "ComError", kComErrorSource));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const ComFailure& e) {
      vellix::script::SetError(*com_error_class, e.hr,
                               e.description.empty() ? Text(DescriptionOf(e.hr)) : Text(e.description));
    }
  });

  m.attr("S_OK") = S_OK;
  m.attr("S_FALSE") = S_FALSE;
  m.attr("E_FAIL") = E_FAIL;
  m.attr("E_INVALIDARG") = E_INVALIDARG;
  m.attr("E_POINTER") = E_POINTER;
  m.attr("E_OUTOFMEMORY") = E_OUTOFMEMORY;
  m.attr("E_NOINTERFACE") = E_NOINTERFACE;
  m.attr("CONNECT_E_NOCONNECTION") = CONNECT_E_NOCONNECTION;
  m.attr("REGDB_E_CLASSNOTREG") = REGDB_E_CLASSNOTREG;
  m.attr("DISP_E_OVERFLOW") = DISP_E_OVERFLOW;

  BindProject(m);
  BindBuilder(m);
  BindViewer(m);
  BindReader(m);

  m.def("create", &Create, py::arg("name"),
        "Creates an object by program identifier (\"IKPublisher.Builder\") or class identifier.");
  m.def("ModuleLockCount", &ModuleLockCount);
  m.def("CanUnloadNow", &CanUnloadNow, "S_OK when nothing holds the toolkit, else S_FALSE.");
  m.def(
      "LoadStringResource", [](int id) { return Text(LoadStringResource(id)); }, py::arg("id"));
}
