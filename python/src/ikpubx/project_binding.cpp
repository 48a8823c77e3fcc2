// The class ikpubx.Project: plain properties are attributes, and one with
// an index is a get method and a Set... method (project.SourceFile(0),
// project.SetSourceFile(0, "a.htm")).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "ikpubx/bindings.h"
#include "ikpubx/module.h"
#include "ikpubx/project.h"

namespace ikpubx::bindings {
namespace {

using vellix::script::Text;

template <typename T>
using Getter = HRESULT (IProject::*)(T*);
template <typename T>
using Setter = HRESULT (IProject::*)(T);

// A text property: `get` and `put` as an attribute.
void TextProperty(py::class_<ProjectRef, ProjectPtr>& cls, const char* name, Getter<std::string> get,
                  Setter<const std::string&> put) {
  cls.def_property(
      name,
      [get](const ProjectRef& self) {
        std::string value;
        Check((self.get()->*get)(&value));
        return Text(value);
      },
      [put](ProjectRef& self, const std::string& value) { Check((self.get()->*put)(value)); });
}

// A numeric property; put takes any int that fits the member's type.
template <typename T>
void NumberProperty(py::class_<ProjectRef, ProjectPtr>& cls, const char* name, Getter<T> get, Setter<T> put) {
  cls.def_property(
      name,
      [get](const ProjectRef& self) {
        T value{};
        Check((self.get()->*get)(&value));
        return value;
      },
      [put](ProjectRef& self, int64_t value) { Check((self.get()->*put)(Narrow<T>(value))); });
}

template <typename T>
void ReadOnlyNumber(py::class_<ProjectRef, ProjectPtr>& cls, const char* name, Getter<T> get) {
  cls.def_property_readonly(name, [get](const ProjectRef& self) {
    T value{};
    Check((self.get()->*get)(&value));
    return value;
  });
}

// A property with an index: Name(index) and SetName(index, value).
void IndexedStatus(py::class_<ProjectRef, ProjectPtr>& cls, const char* name, const char* put_name,
                   HRESULT (IProject::*get)(int16_t, int16_t*), HRESULT (IProject::*put)(int16_t, int16_t)) {
  cls.def(
      name,
      [get](const ProjectRef& self, int64_t index) {
        int16_t value = 0;
        Check((self.get()->*get)(Narrow<int16_t>(index), &value));
        return value;
      },
      py::arg("nIndex"));
  cls.def(
      put_name,
      [put](ProjectRef& self, int64_t index, int64_t value) {
        return Check((self.get()->*put)(Narrow<int16_t>(index), Narrow<int16_t>(value)));
      },
      py::arg("nIndex"), py::arg("newVal"));
}

}  // namespace

void BindProject(py::module_& m) {
  py::class_<ProjectRef, ProjectPtr> cls(m, "Project", "One book to be built, described for the Builder.");
  cls.def(py::init([] { return NewWrapped<ProjectRef, IProject>(kProjectIndependentProgId); }));
  TextProperty(cls, "ProjectFile", &IProject::ProjectFile, &IProject::SetProjectFile);
  TextProperty(cls, "BookFileName", &IProject::BookFileName, &IProject::SetBookFileName);
  TextProperty(cls, "OutputDirectory", &IProject::OutputDirectory, &IProject::SetOutputDirectory);
  TextProperty(cls, "ErrorDirectory", &IProject::ErrorDirectory, &IProject::SetErrorDirectory);
  TextProperty(cls, "BookID", &IProject::BookID, &IProject::SetBookID);
  TextProperty(cls, "BookTitle", &IProject::BookTitle, &IProject::SetBookTitle);
  TextProperty(cls, "Category", &IProject::Category, &IProject::SetCategory);
  TextProperty(cls, "SubCategory", &IProject::SubCategory, &IProject::SetSubCategory);
  TextProperty(cls, "AuthorFirstName", &IProject::AuthorFirstName, &IProject::SetAuthorFirstName);
  TextProperty(cls, "AuthorMiddleName", &IProject::AuthorMiddleName, &IProject::SetAuthorMiddleName);
  TextProperty(cls, "AuthorLastName", &IProject::AuthorLastName, &IProject::SetAuthorLastName);
  NumberProperty<int32_t>(cls, "Encrypt", &IProject::Encrypt, &IProject::SetEncrypt);
  NumberProperty<int32_t>(cls, "Compress", &IProject::Compress, &IProject::SetCompress);
  NumberProperty<int32_t>(cls, "Implode", &IProject::Implode, &IProject::SetImplode);
  NumberProperty<int32_t>(cls, "UnderlineLinks", &IProject::UnderlineLinks, &IProject::SetUnderlineLinks);
  NumberProperty<int16_t>(cls, "Zoom", &IProject::Zoom, &IProject::SetZoom);
  NumberProperty<int16_t>(cls, "CSS", &IProject::CSS, &IProject::SetCSS);
  NumberProperty<int16_t>(cls, "WidowLines", &IProject::WidowLines, &IProject::SetWidowLines);
  NumberProperty<int16_t>(cls, "OrphanLines", &IProject::OrphanLines, &IProject::SetOrphanLines);
  ReadOnlyNumber<int32_t>(cls, "NumSourceFiles", &IProject::NumSourceFiles);
  cls.def(
      "SourceFile",
      [](const ProjectRef& self, int64_t index) {
        std::string value;
        Check(self.get()->SourceFile(Narrow<int16_t>(index), &value));
        return Text(value);
      },
      py::arg("nIndex"));
  cls.def(
      "SetSourceFile",
      [](ProjectRef& self, int64_t index, const std::string& value) {
        return Check(self.get()->SetSourceFile(Narrow<int16_t>(index), value));
      },
      py::arg("nIndex"), py::arg("newVal"));
  cls.def("ResetSourceFiles", [](ProjectRef& self) { return Check(self.get()->ResetSourceFiles()); });
  cls.def(
      "AddSourceFile", [](ProjectRef& self, const std::string& file) { return Check(self.get()->AddSourceFile(file)); },
      py::arg("newVal"));
  IndexedStatus(cls, "HtmlStatus", "SetHtmlStatus", &IProject::HtmlStatus, &IProject::SetHtmlStatus);
  cls.def(
      "DeleteSourceFile",
      [](ProjectRef& self, int64_t index) { return Check(self.get()->DeleteSourceFile(Narrow<int16_t>(index))); },
      py::arg("nIndex"));
  cls.def(
      "Load",
      [](ProjectRef& self, const std::string& file) {
        IProject* project = self.get();
        HRESULT hr;
        {
          py::gil_scoped_release released;
          hr = project->Load(file);
        }
        return Check(hr);
      },
      py::arg("ProjFile"));
  cls.def(
      "Save", [](ProjectRef& self, const std::string& file) { return Check(self.get()->Save(file)); },
      py::arg("ProjFile"));
  IndexedStatus(cls, "IncludeStatus", "SetIncludeStatus", &IProject::IncludeStatus, &IProject::SetIncludeStatus);
  IndexedStatus(cls, "DirtyStatus", "SetDirtyStatus", &IProject::DirtyStatus, &IProject::SetDirtyStatus);
  cls.def("ClearAll", [](ProjectRef& self) { return Check(self.get()->ClearAll()); });
  NumberProperty<int32_t>(cls, "HasChanged", &IProject::HasChanged, &IProject::SetHasChanged);
  cls.def(
      "SourceExists",
      [](const ProjectRef& self, int64_t index) {
        int32_t exists = 0;
        Check(self.get()->SourceExists(Narrow<int16_t>(index), &exists));
        return exists;
      },
      py::arg("nIndex"));
  cls.def("TotalProcessBytes", [](const ProjectRef& self) {
    int32_t total = 0;
    Check(self.get()->TotalProcessBytes(&total));
    return total;
  });
  cls.def(
      "SourceFileSize",
      [](const ProjectRef& self, int64_t index) {
        int32_t size = 0;
        Check(self.get()->SourceFileSize(Narrow<int16_t>(index), &size));
        return size;
      },
      py::arg("index"));
  NumberProperty<int32_t>(cls, "ErrorFeedback", &IProject::ErrorFeedback, &IProject::SetErrorFeedback);
  cls.def(
      "InsertSourceFile",
      [](ProjectRef& self, int64_t index, const std::string& file) {
        return Check(self.get()->InsertSourceFile(Narrow<int16_t>(index), file));
      },
      py::arg("index"), py::arg("filename"));
  cls.def(
      "MoveSourceFile",
      [](ProjectRef& self, int64_t from, int64_t to) {
        return Check(self.get()->MoveSourceFile(Narrow<int16_t>(from), Narrow<int16_t>(to)));
      },
      py::arg("srcIndex"), py::arg("dstIndex"));
  cls.def("ROMVersion", [](const ProjectRef& self) {
    std::string version;
    Check(self.get()->ROMVersion(&version));
    return Text(version);
  });
  NumberProperty<int32_t>(cls, "BuildTarget", &IProject::BuildTarget, &IProject::SetBuildTarget);
  TextProperty(cls, "ContentFeedID", &IProject::ContentFeedID, &IProject::SetContentFeedID);
  TextProperty(cls, "CurrentIssue", &IProject::CurrentIssue, &IProject::SetCurrentIssue);
  NumberProperty<int32_t>(cls, "DeleteFallbacks", &IProject::DeleteFallbacks, &IProject::SetDeleteFallbacks);
  NumberProperty<int32_t>(cls, "IsPeriodical", &IProject::IsPeriodical, &IProject::SetIsPeriodical);
  ReadOnlyNumber<int16_t>(cls, "ProjectFormat", &IProject::ProjectFormat);
}

py::object WrapProject(std::shared_ptr<IProject> project) {
  return py::cast(std::make_shared<ProjectRef>(std::move(project)));
}

}  // namespace ikpubx::bindings
