// The Python module "ikpubx": the toolkit's Project, Builder, Viewer and
// container reader, and the class registry (ikpubx.create("IKPublisher.Builder")).
//
// Members keep their names; plain properties are attributes, and one with
// an index is a get method and a Set... method (project.SourceFile(0),
// project.SetSourceFile(0, "a.htm")). A failure result is raised as
// ikpubx.ComError with .hresult, the signed 32-bit code a scripting client
// sees; S_FALSE comes back as the call's result (ikpubx.S_FALSE).
//
// Events: builder.Advise(sink) connects any object with some of the On...
// methods (missing ones are skipped) and returns a cookie. Handlers run
// nested inside the call that fires them; an exception in a handler stops
// the build, and is raised from that call once the engine has stopped.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ikpubx/builder.h"
#include "ikpubx/events.h"
#include "ikpubx/module.h"
#include "ikpubx/oebff_reader.h"
#include "ikpubx/project.h"
#include "ikpubx/viewer.h"
#include "script_support.h"
#include "vellix/formats/codepage.h"

namespace ikpubx {
namespace {

namespace py = pybind11;
using vellix::script::PendingError;
using vellix::script::Text;

// What a scripting client sees for an argument out of a parameter's range.
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);

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

// A failure code on its way to the script, with what the object said of
// it when it said more than the code's standard text.
struct ComFailure {
  explicit ComFailure(HRESULT code, std::string text = {}) : hr(code), description(std::move(text)) {}
  HRESULT hr;
  std::string description;
};

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

// S_OK, S_FALSE and other success codes come back; failures are raised.
HRESULT Check(HRESULT hr) {
  if (Failed(hr)) throw ComFailure(hr);
  return hr;
}

template <typename T>
T Narrow(int64_t value) {
  if (auto v = vellix::script::Narrow<T>(value)) return *v;
  throw ComFailure(DISP_E_OVERFLOW);
}

// Node names and values are the container's 8-bit text.
py::str Cp1252(const std::string& bytes) { return Text(vellix::formats::Cp1252ToUtf8(bytes)); }

// --- Project ---

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

std::shared_ptr<IProject> NewProjectObject() {
  std::shared_ptr<IProject> project;
  Check(CreateObject(kProjectIndependentProgId, &project));
  return project;
}

void BindProject(py::module_& m) {
  py::class_<ProjectRef, ProjectPtr> cls(m, "Project", "One book to be built, described for the Builder.");
  cls.def(py::init([] { return std::make_shared<ProjectRef>(NewProjectObject()); }));
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

// --- Builder and its events ---

// What one Builder's Python calls share with its sinks: the script's
// project of the call in progress, the projects lent to handlers, and a
// handler's exception waiting to be raised. Touched only with the GIL.
struct CallState {
  int depth = 0;
  IProject* project = nullptr;  // the script's own, for OnBuildStart
  py::object project_object;
  std::vector<ProjectPtr> borrowed;
  PendingError pending;
};

// One call from the script into the Builder, as long as it runs.
class CallScope {
 public:
  CallScope(CallState& state, const ProjectPtr& project) : state_(state) {
    saved_project_ = state_.project;
    saved_object_ = std::move(state_.project_object);
    state_.project = project ? project->get() : nullptr;
    state_.project_object = project ? py::cast(project) : py::none();
    ++state_.depth;
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  ~CallScope() {
    state_.project = saved_project_;
    state_.project_object = std::move(saved_object_);
    if (--state_.depth == 0) {
      for (const ProjectPtr& lent : state_.borrowed) lent->Release();
      state_.borrowed.clear();
    }
  }

  // Runs `call` without the GIL; a handler's exception raised meanwhile
  // wins over the call's result.
  template <typename Call>
  HRESULT Run(const Call& call) {
    HRESULT hr;
    {
      py::gil_scoped_release released;
      hr = call();
    }
    state_.pending.RethrowIfAny();
    return Check(hr);
  }

 private:
  CallState& state_;
  IProject* saved_project_;
  py::object saved_object_;
};

// A script's event object connected to a Builder.
class ScriptBuilderSink : public IBuilderEvents {
 public:
  ScriptBuilderSink(py::object target, std::shared_ptr<CallState> state, std::weak_ptr<IBuilder> builder)
      : target_(std::move(target)), state_(std::move(state)), builder_(std::move(builder)) {}
  ~ScriptBuilderSink() override {
    // The last reference may go inside the engine, without the GIL.
    try {
      py::gil_scoped_acquire gil;
      target_ = py::object();
      state_.reset();
    } catch (...) {
      // Only an interpreter that is shutting down refuses the lock; no
      // Python reference may be dropped without it, so they are left.
      target_.release();
      static_cast<void>(new std::shared_ptr<CallState>(std::move(state_)));
    }
  }

  void OnBuildStart(IProject* project) override {
    Call("OnBuildStart", [&](const py::object& h) {
      if (project != nullptr && project == state_->project) {
        h(state_->project_object);
      } else if (project != nullptr) {
        ProjectPtr lent = ProjectRef::Borrowed(project);
        state_->borrowed.push_back(lent);
        h(py::cast(lent));
      } else {
        h(py::none());
      }
    });
  }
  void OnError(const std::string& file, const std::string& message, int32_t line, int32_t column,
               int16_t severity) override {
    Call("OnError", [&](const py::object& h) { h(Text(file), Text(message), line, column, severity); });
  }
  void OnSourceStart(const std::string& file, int32_t number, int32_t total) override {
    Call("OnSourceStart", [&](const py::object& h) { h(Text(file), number, total); });
  }
  void OnParserFeedback(int32_t current_byte, int32_t total_bytes) override {
    Call("OnParserFeedback", [&](const py::object& h) { h(current_byte, total_bytes); });
  }
  void OnLayoutFeedback(const std::string& message) override {
    Call("OnLayoutFeedback", [&](const py::object& h) { h(Text(message)); });
  }
  void OnSourceDone(const std::string& file, int32_t number, int32_t total) override {
    Call("OnSourceDone", [&](const py::object& h) { h(Text(file), number, total); });
  }

 private:
  template <typename Invoke>
  void Call(const char* name, const Invoke& invoke) {
    bool stop = false;
    {
      py::gil_scoped_acquire gil;
      if (state_->pending.Has()) {
        stop = true;
      } else {
        try {
          py::object handler = vellix::script::Handler(target_, name);
          if (!handler.is_none()) invoke(handler);
        } catch (py::error_already_set& e) {
          state_->pending.Capture(e);
          stop = true;
        }
      }
    }
    // Asked at every later event too: a build that had not started when
    // the handler failed is stopped as soon as it has.
    if (stop) {
      if (std::shared_ptr<IBuilder> builder = builder_.lock()) builder->AbortBuild();
    }
  }

  py::object target_;
  std::shared_ptr<CallState> state_;
  std::weak_ptr<IBuilder> builder_;
};

class ScriptBuilder {
 public:
  explicit ScriptBuilder(std::shared_ptr<IBuilder> builder)
      : builder_(std::move(builder)), state_(std::make_shared<CallState>()) {}

  IBuilder* get() const { return builder_.get(); }
  const std::shared_ptr<IBuilder>& shared() const { return builder_; }
  CallState& state() { return *state_; }
  const std::shared_ptr<CallState>& shared_state() const { return state_; }

 private:
  std::shared_ptr<IBuilder> builder_;
  std::shared_ptr<CallState> state_;
};

// The toolkit's variant for BuildFromHTML: a str, or bytes of the text.
Variant DocumentVariant(py::handle value) {
  if (py::isinstance<py::str>(value)) return Variant::String(value.cast<std::string>());
  if (py::isinstance<py::bytes>(value) || py::isinstance<py::bytearray>(value)) {
    auto array = std::make_shared<SafeArray>();
    array->element_type = VT_UI1;
    std::string bytes = py::isinstance<py::bytes>(value) ? value.cast<std::string>()
                                                         : std::string(py::reinterpret_borrow<py::bytearray>(value));
    array->bytes.assign(bytes.begin(), bytes.end());
    return Variant::Array(std::move(array));
  }
  return Variant();  // the Builder answers E_INVALIDARG
}

// ... and for BuildFromHTMLFiles: a list or tuple of str.
Variant FileListVariant(py::handle value) {
  if (!py::isinstance<py::list>(value) && !py::isinstance<py::tuple>(value)) return Variant();
  auto array = std::make_shared<SafeArray>();
  array->element_type = VT_VARIANT;
  for (py::handle element : value) {
    array->variants.push_back(py::isinstance<py::str>(element) ? Variant::String(element.cast<std::string>())
                                                               : Variant());
  }
  return Variant::Array(std::move(array));
}

void BindBuilder(py::module_& m) {
  py::class_<ScriptBuilder, std::shared_ptr<ScriptBuilder>> cls(
      m, "Builder", "Builds a project into a device book, checks its sources, writes OEBFF containers.");
  cls.def(py::init([] {
    std::shared_ptr<IBuilder> builder;
    Check(CreateObject(kBuilderIndependentProgId, &builder));
    return std::make_shared<ScriptBuilder>(std::move(builder));
  }));
  cls.def(
      "Build",
      [](ScriptBuilder& self, const ProjectPtr& project) {
        IProject* raw = project ? project->get() : nullptr;
        CallScope scope(self.state(), project);
        return scope.Run([&] { return self.get()->Build(raw); });
      },
      py::arg("pInfo"));
  cls.def(
      "BuildFromProject",
      [](ScriptBuilder& self, const std::string& file) {
        CallScope scope(self.state(), nullptr);
        return scope.Run([&] { return self.get()->BuildFromProject(file); });
      },
      py::arg("ProjFile"));
  cls.def(
      "BuildFromHTMLFile",
      [](ScriptBuilder& self, const std::string& file) {
        CallScope scope(self.state(), nullptr);
        return scope.Run([&] { return self.get()->BuildFromHTMLFile(file); });
      },
      py::arg("htmlFile"));
  cls.def(
      "BuildFromHTMLFiles",
      [](ScriptBuilder& self, py::handle files) {
        Variant list = FileListVariant(files);
        CallScope scope(self.state(), nullptr);
        return scope.Run([&] { return self.get()->BuildFromHTMLFiles(&list); });
      },
      py::arg("pFileList"), "Builds one book from a list of document paths.");
  cls.def(
      "BuildFromHTML",
      [](ScriptBuilder& self, py::handle document) {
        Variant text = DocumentVariant(document);
        CallScope scope(self.state(), nullptr);
        return scope.Run([&] { return self.get()->BuildFromHTML(&text); });
      },
      py::arg("pVar"), "Builds one book from the text of a document (str or bytes).");
  cls.def("AbortBuild", [](ScriptBuilder& self) { return Check(self.get()->AbortBuild()); });
  cls.def_property(
      "FeedbackThreshold",
      [](const ScriptBuilder& self) {
        int32_t value = 0;
        Check(self.get()->FeedbackThreshold(&value));
        return value;
      },
      [](ScriptBuilder& self, int64_t value) { Check(self.get()->SetFeedbackThreshold(Narrow<int32_t>(value))); });
  cls.def(
      "HTCheck",
      [](ScriptBuilder& self, const ProjectPtr& project, int64_t index) {
        IProject* raw = project ? project->get() : nullptr;
        int16_t narrow = Narrow<int16_t>(index);
        CallScope scope(self.state(), project);
        return scope.Run([&] { return self.get()->HTCheck(raw, narrow); });
      },
      py::arg("pInfo"), py::arg("index"));
  cls.def_property(
      "Preview",
      [](const ScriptBuilder& self) {
        int32_t value = 0;
        Check(self.get()->Preview(&value));
        return value;
      },
      [](ScriptBuilder& self, int64_t value) { Check(self.get()->SetPreview(Narrow<int32_t>(value))); });
  cls.def(
      "GenerateOEBFF",
      [](ScriptBuilder& self, const ProjectPtr& project, int64_t needs_validation) {
        IProject* raw = project ? project->get() : nullptr;
        int32_t narrow = Narrow<int32_t>(needs_validation);
        CallScope scope(self.state(), project);
        return scope.Run([&] { return self.get()->GenerateOEBFF(raw, narrow); });
      },
      py::arg("pInfo"), py::arg("needsValidation"));
  cls.def(
      "BuildFromOEBFF",
      [](ScriptBuilder& self, const std::string& oeb_file, const std::string& dest_dir, const std::string& log_dir,
         int64_t preview) {
        int32_t narrow = Narrow<int32_t>(preview);
        CallScope scope(self.state(), nullptr);
        return scope.Run([&] { return self.get()->BuildFromOEBFF(oeb_file, dest_dir, log_dir, narrow); });
      },
      py::arg("oebFile"), py::arg("destDir"), py::arg("logDir"), py::arg("Preview") = 0);
  cls.def(
      "Advise",
      [](ScriptBuilder& self, py::object sink) {
        if (sink.is_none()) throw ComFailure(E_POINTER);
        auto events = std::make_shared<ScriptBuilderSink>(std::move(sink), self.shared_state(), self.shared());
        uint32_t cookie = 0;
        Check(self.get()->Advise(std::move(events), &cookie));
        return cookie;
      },
      py::arg("sink"),
      "Connects an object with some of OnBuildStart, OnError, OnSourceStart, OnParserFeedback, "
      "OnLayoutFeedback and OnSourceDone; returns the cookie for Unadvise.");
  cls.def(
      "Unadvise",
      [](ScriptBuilder& self, int64_t cookie) { return Check(self.get()->Unadvise(Narrow<uint32_t>(cookie))); },
      py::arg("cookie"));
}

// --- Viewer ---

// What one Viewer's sinks share with its calls: a handler's exception
// waiting to be raised from the call that fired the event.
struct ViewerState {
  PendingError pending;
};

class ScriptViewerSink : public IViewerEvents {
 public:
  ScriptViewerSink(py::object target, std::shared_ptr<ViewerState> state)
      : target_(std::move(target)), state_(std::move(state)) {}
  ~ScriptViewerSink() override {
    try {
      py::gil_scoped_acquire gil;
      target_ = py::object();
      state_.reset();
    } catch (...) {
      // As in ScriptBuilderSink: without the lock the references are left.
      target_.release();
      static_cast<void>(new std::shared_ptr<ViewerState>(std::move(state_)));
    }
  }

  void OnNewPage(int32_t page) override {
    Call("OnNewPage", [&](const py::object& h) { h(page); });
  }
  void OnZoomChange() override {
    Call("OnZoomChange", [&](const py::object& h) { h(); });
  }

 private:
  template <typename Invoke>
  void Call(const char* name, const Invoke& invoke) {
    py::gil_scoped_acquire gil;
    if (state_->pending.Has()) return;
    try {
      py::object handler = vellix::script::Handler(target_, name);
      if (!handler.is_none()) invoke(handler);
    } catch (py::error_already_set& e) {
      state_->pending.Capture(e);
    }
  }

  py::object target_;
  std::shared_ptr<ViewerState> state_;
};

class ScriptViewer {
 public:
  explicit ScriptViewer(std::shared_ptr<IViewer> viewer)
      : viewer_(std::move(viewer)), state_(std::make_shared<ViewerState>()) {}

  IViewer* get() const { return viewer_.get(); }
  const std::shared_ptr<ViewerState>& state() const { return state_; }

  // Runs `call` without the GIL (pages are laid out and drawn meanwhile);
  // a handler's exception wins over the call's result.
  template <typename Call>
  HRESULT Run(const Call& call) {
    HRESULT hr;
    {
      py::gil_scoped_release released;
      hr = call();
    }
    state_->pending.RethrowIfAny();
    return Check(hr);
  }

 private:
  std::shared_ptr<IViewer> viewer_;
  std::shared_ptr<ViewerState> state_;
};

// A typed character: a one-character str or its code.
uint32_t CharacterCode(py::handle character) {
  if (py::isinstance<py::str>(character)) {
    py::str text = py::reinterpret_borrow<py::str>(character);
    if (py::len(text) != 1) throw ComFailure(E_INVALIDARG);
    return static_cast<uint32_t>(PyUnicode_ReadChar(text.ptr(), 0));
  }
  return Narrow<uint32_t>(character.cast<int64_t>());
}

void BindViewer(py::module_& m) {
  py::class_<ScriptViewer, std::shared_ptr<ScriptViewer>> cls(
      m, "Viewer", "Shows a device book page by page at the device's size and depth.");
  cls.def(py::init([] {
    std::shared_ptr<IViewer> viewer;
    Check(CreateObject(kViewerIndependentProgId, &viewer));
    return std::make_shared<ScriptViewer>(std::move(viewer));
  }));
  cls.def_property(
      "BookName",
      [](const ScriptViewer& self) {
        std::string name;
        Check(self.get()->BookName(&name));
        return Text(name);
      },
      [](ScriptViewer& self, const std::string& name) {
        try {
          self.Run([&] { return self.get()->SetBookName(name); });
        } catch (const ComFailure& e) {
          throw ComFailure(e.hr, self.get()->LastErrorMessage());  // why the book did not open
        }
      },
      "The book file shown; assigning opens it (a ComError says when it cannot be opened).");
  cls.def_property_readonly("NumPages", [](ScriptViewer& self) {
    int32_t pages = 0;
    self.Run([&] { return self.get()->NumPages(&pages); });
    return pages;
  });
  cls.def("ToggleZoom", [](ScriptViewer& self) { return self.Run([&] { return self.get()->ToggleZoom(); }); });
  cls.def("NextPage", [](ScriptViewer& self) { return self.Run([&] { return self.get()->NextPage(); }); });
  cls.def("PrevPage", [](ScriptViewer& self) { return self.Run([&] { return self.get()->PrevPage(); }); });
  cls.def_property(
      "CurPage",
      [](const ScriptViewer& self) {
        int32_t page = 0;
        Check(self.get()->CurPage(&page));
        return page;
      },
      [](ScriptViewer& self, int64_t page) {
        int32_t narrow = Narrow<int32_t>(page);
        self.Run([&] { return self.get()->SetCurPage(narrow); });
      });
  cls.def("ShowInfoTray", [](ScriptViewer& self) { return self.Run([&] { return self.get()->ShowInfoTray(); }); });
  cls.def(
      "GetPageImage",
      [](ScriptViewer& self, int64_t pageno, py::object buffer) -> py::object {
        int32_t page = Narrow<int32_t>(pageno);
        if (!buffer.is_none() && !py::isinstance<py::bytearray>(buffer)) throw ComFailure(E_INVALIDARG);
        ikutil::PageImage image;
        self.Run([&] { return self.get()->GetPageImage(page, &image); });
        const char* pixels = reinterpret_cast<const char*>(image.pixels.data());
        const auto size = static_cast<Py_ssize_t>(image.pixels.size());
        if (buffer.is_none()) return py::make_tuple(py::bytes(pixels, size), image.width, image.height, image.depth);
        if (PyByteArray_Resize(buffer.ptr(), size) != 0) throw py::error_already_set();
        std::copy(pixels, pixels + size, PyByteArray_AsString(buffer.ptr()));
        return py::make_tuple(image.width, image.height, image.depth);
      },
      py::arg("pageno"), py::arg("buffer") = py::none(),
      "Draws a page: one byte per pixel, row by row from the top left, 0 black to (1 << depth) - 1 white. "
      "Returns (pixels, width, height, depth), or fills the given bytearray and returns (width, height, depth).");
  cls.def(
      "ChangeDeviceSettings",
      [](ScriptViewer& self, int64_t width, int64_t height, int64_t depth) {
        int32_t w = Narrow<int32_t>(width), h = Narrow<int32_t>(height);
        int16_t d = Narrow<int16_t>(depth);
        return self.Run([&] { return self.get()->ChangeDeviceSettings(w, h, d); });
      },
      py::arg("width"), py::arg("height"), py::arg("depth"));
  cls.def(
      "HandleChar",
      [](ScriptViewer& self, py::handle character) {
        uint32_t code = CharacterCode(character);
        return self.Run([&] { return self.get()->HandleChar(code); });
      },
      py::arg("character"), "A key typed into the page window: \"n\" or \" \" next, \"p\" previous, \"q\" close.");
  cls.def_property_readonly("HasBook", [](const ScriptViewer& self) { return self.get()->HasBook(); });
  cls.def_property_readonly("IsZoomed", [](const ScriptViewer& self) { return self.get()->IsZoomed(); });
  cls.def_property_readonly("LastError", [](const ScriptViewer& self) { return self.get()->LastError(); });
  cls.def_property_readonly("LastErrorMessage",
                            [](const ScriptViewer& self) { return Text(self.get()->LastErrorMessage()); });
  cls.def(
      "Advise",
      [](ScriptViewer& self, py::object sink) {
        if (sink.is_none()) throw ComFailure(E_POINTER);
        uint32_t cookie = 0;
        Check(self.get()->Advise(std::make_shared<ScriptViewerSink>(std::move(sink), self.state()), &cookie));
        return cookie;
      },
      py::arg("sink"), "Connects an object with OnNewPage(page) and/or OnZoomChange(); returns the cookie.");
  cls.def(
      "Unadvise",
      [](ScriptViewer& self, int64_t cookie) { return Check(self.get()->Unadvise(Narrow<uint32_t>(cookie))); },
      py::arg("cookie"));

  // Proofing.
  auto rect = [](const ikutil::PageRect& r) { return py::make_tuple(r.x, r.y, r.width, r.height); };
  cls.def(
      "GetPageText",
      [rect](ScriptViewer& self, int64_t pageno) {
        int32_t page = Narrow<int32_t>(pageno);
        std::vector<ikutil::TextLine> lines;
        self.Run([&] { return self.get()->GetPageText(page, &lines); });
        py::list out;
        for (const ikutil::TextLine& line : lines) {
          py::dict d;
          d["text"] = Text(line.text);
          d["rect"] = rect(line.rect);
          d["heading"] = line.heading;
          d["image"] = line.image;
          out.append(d);
        }
        return out;
      },
      py::arg("pageno"), "The laid-out lines of a page: dicts of text, rect (x, y, width, height), heading, image.");
  cls.def_property_readonly(
      "Contents",
      [](ScriptViewer& self) {
        std::vector<ikutil::ContentsEntry> entries;
        self.Run([&] { return self.get()->GetContents(&entries); });
        py::list out;
        for (const ikutil::ContentsEntry& entry : entries) {
          py::dict d;
          d["label"] = Text(entry.label);
          d["level"] = entry.level;
          d["page"] = entry.page;
          out.append(d);
        }
        return out;
      },
      "The table of contents: dicts of label, level and page at the current size and zoom.");
  cls.def_property_readonly(
      "PageLinks",
      [rect](ScriptViewer& self) {
        std::vector<ikutil::PageLink> links;
        self.Run([&] { return self.get()->GetPageLinks(&links); });
        py::list out;
        for (const ikutil::PageLink& link : links) {
          py::dict d;
          d["text"] = Text(link.text);
          py::list rects;
          for (const ikutil::PageRect& r : link.rects) rects.append(rect(r));
          d["rects"] = rects;
          const bool in_book = link.kind == ikutil::LinkTarget::kPage;
          d["target_page"] = in_book ? py::object(py::int_(link.target_page)) : py::object(py::none());
          d["href"] = in_book ? py::object(py::none()) : py::object(Text(link.href));
          d["broken"] = link.kind == ikutil::LinkTarget::kBroken;
          out.append(d);
        }
        return out;
      },
      "The links on the page shown: dicts of text, rects, target_page (None unless it leads into the book), "
      "href (None when it does) and broken.");
  cls.def(
      "FollowLink",
      [](ScriptViewer& self, int64_t index) {
        int32_t i = Narrow<int32_t>(index);
        return self.Run([&] { return self.get()->FollowLink(i); }) == S_OK;
      },
      py::arg("index"),
      "Follows a link of PageLinks: True when its page is shown, False when it leads outside the book or nowhere.");
  cls.def(
      "GoBack", [](ScriptViewer& self) { return self.Run([&] { return self.get()->GoBack(); }) == S_OK; },
      "Back to the page the last followed link left; False when there is none.");
  cls.def(
      "Find",
      [rect](ScriptViewer& self, const std::string& text, int64_t from_page, int64_t direction) {
        int32_t from = Narrow<int32_t>(from_page);
        const int32_t way = direction > 0 ? 1 : direction < 0 ? -1 : 0;
        ikutil::FindResult result;
        self.Run([&] { return self.get()->Find(text, from, way, &result); });
        py::list hits;
        for (const std::vector<ikutil::PageRect>& hit : result.hits) {
          py::list rects;
          for (const ikutil::PageRect& r : hit) rects.append(rect(r));
          hits.append(rects);
        }
        return py::make_tuple(result.page, hits);
      },
      py::arg("text"), py::arg("from_page") = 1, py::arg("direction") = 1,
      "The next page at or after from_page holding text, ignoring case (direction < 0: the last page at or "
      "before it; 0: from_page alone): (page, hits), each hit a list of rects, one per line; page 0 when none.");
}

// --- The container reader ---

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

// --- The class registry ---

py::object Create(const std::string& name) {
  std::shared_ptr<ComObject> object;
  Check(CreateObject(name, &object));
  if (auto builder = std::dynamic_pointer_cast<IBuilder>(object))
    return py::cast(std::make_shared<ScriptBuilder>(std::move(builder)));
  if (auto project = std::dynamic_pointer_cast<IProject>(object))
    return py::cast(std::make_shared<ProjectRef>(std::move(project)));
  if (auto viewer = std::dynamic_pointer_cast<IViewer>(object))
    return py::cast(std::make_shared<ScriptViewer>(std::move(viewer)));
  throw ComFailure(E_NOINTERFACE);
}

}  // namespace
}  // namespace ikpubx

PYBIND11_MODULE(ikpubx, m) {
  namespace py = pybind11;
  using namespace ikpubx;
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
