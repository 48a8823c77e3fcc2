// The class vellix.Package: OEB package documents filled and completed.
#include <cstdint>
#include <memory>
#include <string>

#include "vellix/bindings.h"
#include "vellix/package.h"

namespace vellix::bindings {

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

}  // namespace vellix::bindings
