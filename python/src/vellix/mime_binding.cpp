// The class vellix.MIME: the container writer, one step at a time.
#include <memory>

#include "mime.h"
#include "vellix/bindings.h"

namespace vellix::bindings {

void BindMime(py::module_& m) {
  py::class_<MIME, std::shared_ptr<MIME>>(m, "MIME", "The OEBFF container writer, one step at a time.")
      .def(py::init<>())
      .def_property("Path", TextGetter<MIME>(&MIME::Path), &MIME::SetPath)
      .def("PutMimeHeader", &MIME::PutMimeHeader)
      .def("PutMimePackageHeader", &MIME::PutMimePackageHeader)
      .def("PutMimeFileHeader", &MIME::PutMimeFileHeader, py::arg("ContentType"), py::arg("OEB"),
           py::arg("ContentDisposition"))
      .def("AttachFile", &MIME::AttachFile, py::arg("FilePath"))
      .def("PutMimeFooter", &MIME::PutMimeFooter)
      .def("Complete", &MIME::Complete);
}

}  // namespace vellix::bindings
