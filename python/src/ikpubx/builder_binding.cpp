// The class ikpubx.Builder and its events. builder.Advise(sink) connects
// any object with some of the On... methods (missing ones are skipped) and
// returns a cookie. Handlers run nested inside the call that fires them; an
// exception in a handler stops the build, and is raised from that call once
// the engine has stopped.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ikpubx/bindings.h"
#include "ikpubx/builder.h"
#include "ikpubx/events.h"
#include "ikpubx/module.h"

namespace ikpubx::bindings {
namespace {

using vellix::script::PendingError;
using vellix::script::Text;

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

  template <typename Call>
  HRESULT Run(const Call& call) {
    return RunWithoutGil(state_.pending, call);
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
  ~ScriptBuilderSink() override { DropSinkReferences(target_, state_); }

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
      stop = !vellix::script::CallHandler(target_, name, state_->pending, invoke);
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

}  // namespace

void BindBuilder(py::module_& m) {
  py::class_<ScriptBuilder, std::shared_ptr<ScriptBuilder>> cls(
      m, "Builder", "Builds a project into a device book, checks its sources, writes OEBFF containers.");
  cls.def(py::init([] { return NewWrapped<ScriptBuilder, IBuilder>(kBuilderIndependentProgId); }));
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

py::object WrapBuilder(std::shared_ptr<IBuilder> builder) {
  return py::cast(std::make_shared<ScriptBuilder>(std::move(builder)));
}

}  // namespace ikpubx::bindings
