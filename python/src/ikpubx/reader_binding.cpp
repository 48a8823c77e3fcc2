// The classes ikpubx.OEBFFReader and ikpubx.OEBFFNode: a container's
// headers as a tree, read without raising.
#include <cstdint>
#include <memory>
#include <string>

#include "ikpubx/bindings.h"
#include "ikpubx/oebff_reader.h"
#include "vellix/formats/codepage.h"

namespace ikpubx::bindings {
namespace {

using vellix::script::PendingError;
using vellix::script::Text;

// Node names and values are the container's 8-bit text.
py::str Cp1252(const std::string& bytes) { return Text(vellix::formats::Cp1252ToUtf8(bytes)); }

}  // namespace

void BindReader(py::module_& m) {
  py::class_<OEBFFNode>(m, "OEBFFNode", "One node of a container's tree: the container, a part or a header field.")
      .def_property_readonly("Kind", [](const OEBFFNode& self) { return static_cast<int32_t>(self.Kind()); })
      .def_property_readonly("Parent", &OEBFFNode::Parent, py::return_value_policy::reference_internal)
      .def_property_readonly("ContainerPath", [](const OEBFFNode& self) { return Text(self.ContainerPath()); })
      .def_property_readonly("Name", [](const OEBFFNode& self) { return Cp1252(self.Name()); })
      .def_property_readonly("Value", [](const OEBFFNode& self) { return Cp1252(self.Value()); })
      .def_property_readonly("ChildCount", &OEBFFNode::ChildCount)
      .def("Child", &OEBFFNode::Child, py::arg("index"), py::return_value_policy::reference_internal)
      .def_property_readonly("AttributeCount", &OEBFFNode::AttributeCount)
      .def(
          "Attribute",
          [](const OEBFFNode& self, int32_t index) -> py::object {
            std::string name, value;
            if (!self.Attribute(index, &name, &value)) return py::none();
            return py::make_tuple(Cp1252(name), Cp1252(value));
          },
          py::arg("index"), "(name, value), or None when the index is out of range.")
      .def_property_readonly("BodyStart", &OEBFFNode::BodyStart)
      .def_property_readonly("BodyEnd", &OEBFFNode::BodyEnd);
  m.attr("kContainer") = static_cast<int32_t>(OEBFFNodeKind::kContainer);
  m.attr("kPart") = static_cast<int32_t>(OEBFFNodeKind::kPart);
  m.attr("kHeaderField") = static_cast<int32_t>(OEBFFNodeKind::kHeaderField);

  py::class_<OEBFFReader>(m, "OEBFFReader",
                          "Reads an OEBFF container's headers into a tree; never raises: see Failed, ErrorCode, "
                          "Diagnostic. `progress(done, size)` answering False stops the reading.")
      .def(py::init([](const std::string& path, py::object progress) {
             PendingError pending;
             OEBFFReader::Progress report;
             if (!progress.is_none()) {
               report = [&](int64_t done, int64_t size) {
                 py::gil_scoped_acquire gil;
                 if (pending.Has()) return false;
                 try {
                   py::object answer = progress(done, size);
                   return answer.is_none() || answer.cast<bool>();
                 } catch (py::error_already_set& e) {
                   pending.Capture(e);
                   return false;
                 }
               };
             }
             std::unique_ptr<OEBFFReader> reader;
             {
               py::gil_scoped_release released;
               reader = std::make_unique<OEBFFReader>(path, report);
             }
             pending.RethrowIfAny();
             return reader;
           }),
           py::arg("path"), py::arg("progress") = py::none())
      .def_property_readonly("Failed", &OEBFFReader::Failed)
      .def_property_readonly("Result", &OEBFFReader::Result)
      .def_property_readonly("ErrorCode", &OEBFFReader::ErrorCode)
      .def_property_readonly("Diagnostic", [](const OEBFFReader& self) { return Cp1252(self.Diagnostic()); })
      .def_property_readonly("Root", &OEBFFReader::Root, py::return_value_policy::reference_internal)
      .def_property_readonly("PartCount", &OEBFFReader::PartCount)
      .def_property_readonly("Parts",
                             [](py::object self) {
                               py::list parts;
                               for (OEBFFNode* part : self.cast<const OEBFFReader&>().Parts())
                                 parts.append(py::cast(part, py::return_value_policy::reference_internal, self));
                               return parts;
                             })
      .def("Part", &OEBFFReader::Part, py::arg("index"), py::return_value_policy::reference_internal);
}

}  // namespace ikpubx::bindings
