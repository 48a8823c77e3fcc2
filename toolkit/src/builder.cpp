// CBuilder, the coclass "Builder": prepares the engine's inputs, runs one
// engine task per call on the caller's thread, turns the engine's callbacks
// into _IBuilderEvents, and removes the temporary files it made.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "connection_point.h"
#include "ikpubx/builder.h"

#include "build_engine.h"
#include "ikpubx/module.h"
#include "ikpubx/oebff_reader.h"
#include "ikutil/glyph_coverage.h"
#include "page_intrinsics.h"

namespace ikpubx {
namespace {

// A failure the Builder finds itself, before or around the engine's task.
ikutil::TaskOutcome Failure(std::string message, std::string file = {}) {
  return {ikutil::Status(ikutil::Status::Code::kFailed, std::move(message), std::move(file)), {}};
}

// The automation members answer an outcome as S_OK or E_FAIL.
HRESULT ResultOf(const ikutil::TaskOutcome& outcome) { return outcome.ok() ? S_OK : E_FAIL; }

// No exception leaves a member of the interface: whatever the engine threw
// has reached the sinks as an error already, and the caller gets E_FAIL.
template <typename Call>
HRESULT Guarded(ikutil::TaskOutcome& outcome, Call&& call) {
  try {
    return call();
  } catch (...) {
    outcome = Failure("the task stopped on an unexpected error");
    return E_FAIL;
  }
}

// The engine's message "<file>: <text> (Line <n>, Col <m>)" as the events
// give it: without the file before the first colon and without the place.
std::string CleanEngineMessage(const char* message) {
  std::string text = message ? message : "";
  if (size_t colon = text.find(':'); colon != std::string::npos) text.erase(0, colon + 1);
  if (size_t place = text.find("(Line"); place != std::string::npos) text.erase(place);
  return text;
}

// Reserves a new empty file "<folder><prefix>XXXXXX" and gives its name;
// nothing when the folder cannot take one. `folder` ends in '/'.
std::optional<std::string> ReserveTempFile(const std::string& folder, const char* prefix) {
  std::string name = folder + prefix + "XXXXXX";
  int fd = mkstemp(name.data());
  if (fd < 0) return std::nullopt;
  close(fd);
  return name;
}

std::string FullPath(const std::string& name) { return std::filesystem::absolute(name).lexically_normal().string(); }

// The current directory with a '/' after it: as a project file name it makes
// relative sources resolve against the current directory.
std::string CurrentDirectoryProjectFile() { return std::filesystem::current_path().string() + "/"; }

void RemoveQuietly(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(name, ignored);
}

// The engine parameters a project lends out (it keeps owning them).
ikutil::CBookParams* ParamsOf(IProject* project) {
  Variant params;
  if (Failed(project->GetBookParams(&params)) || params.vt != (VT_BYREF | VT_UI1)) return nullptr;
  return static_cast<ikutil::CBookParams*>(params.byref);
}

// A project saved to a temporary project file because it had none; on
// leaving the scope the file goes and the project again has no file.
class TemporaryProjectFile {
 public:
  TemporaryProjectFile() = default;
  TemporaryProjectFile(const TemporaryProjectFile&) = delete;
  TemporaryProjectFile& operator=(const TemporaryProjectFile&) = delete;
  ~TemporaryProjectFile() {
    if (!project_) return;
    RemoveQuietly(path_);
    try {
      project_->SetProjectFile("");
    } catch (...) {
      // The file is already gone; a project that cannot forget its name
      // only keeps pointing at nothing. A destructor may not throw.
    }
  }

  // Saves `project` to a new "opf" file in the current directory unless it
  // already names a project file. False when no file could be reserved.
  bool SaveIfUnnamed(IProject* project) {
    std::string project_file;
    if (Failed(project->ProjectFile(&project_file))) return false;
    if (!project_file.empty()) return true;
    std::optional<std::string> reserved = ReserveTempFile("./", "opf");
    if (!reserved) return false;
    path_ = std::move(*reserved);
    project_ = project;
    path_ = FullPath(path_);
    // A failed save leaves the project building from its folder as before.
    project->Save(path_);
    return true;
  }

 private:
  IProject* project_ = nullptr;
  std::string path_;
};

// A file removed when the scope ends.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { RemoveQuietly(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The array a variant holds directly or through its reference; null when
// there is none to be had.
const SafeArray* ArrayOf(const Variant& variant) {
  if (variant.vt & VT_BYREF) return variant.ref ? variant.ref->array.get() : nullptr;
  return variant.array.get();
}

// Element `i` of a string array, or of a variant array whose element holds
// a string.
std::optional<std::string> StringElement(const SafeArray& array, size_t i) {
  if (array.element_type == VT_BSTR) {
    if (i < array.strings.size()) return array.strings[i];
  } else if (array.element_type == VT_VARIANT && i < array.variants.size()) {
    const Variant& element = array.variants[i];
    if (element.vt == VT_BSTR) return element.string;
    if (element.vt == (VT_BYREF | VT_BSTR) && element.ref) return element.ref->string;
  }
  return std::nullopt;
}

// Narrow text ends at its first zero, as the engine reads it.
std::string_view UpToFirstZero(std::string_view text) { return text.substr(0, text.find('\0')); }

// Why a task could not start, as its outcome says it.
constexpr char kNoProject[] = "the publishing toolkit could not make a project";
constexpr char kNoTemporaryProject[] = "the project could not be saved for the build: the current folder takes no file";
constexpr char kNoTemporaryDocument[] =
    "the document could not be saved for the build: the current folder takes no file";
constexpr char kNotAFileList[] = "the list of documents holds something that is not a file name";
constexpr char kNotADocument[] = "the document is neither text nor bytes";

class CBuilder : public IBuilder {
 public:
  explicit CBuilder(std::shared_ptr<BuildEngine> engine) : engine_(std::move(engine)) {}

  HRESULT OnStartPage(ComObject* unknown) override;
  HRESULT OnEndPage() override;
  HRESULT Build(IProject* project) override;
  HRESULT BuildFromProject(const std::string& project_file) override;
  HRESULT BuildFromHTMLFile(const std::string& html_file) override;
  HRESULT BuildFromHTMLFiles(Variant* file_list) override;
  HRESULT BuildFromHTML(Variant* document) override;
  HRESULT AbortBuild() override;
  HRESULT FeedbackThreshold(int32_t* out) override;
  HRESULT SetFeedbackThreshold(int32_t value) override;
  HRESULT HTCheck(IProject* project, int16_t index) override;
  HRESULT Preview(int32_t* out) override;
  HRESULT SetPreview(int32_t value) override;
  HRESULT GenerateOEBFF(IProject* project, int32_t needs_validation) override;
  HRESULT BuildFromOEBFF(const std::string& oeb_file, const std::string& dest_dir, const std::string& log_dir,
                         int32_t preview) override;
  HRESULT Advise(std::shared_ptr<IBuilderEvents> sink, uint32_t* cookie) override {
    std::lock_guard lock(mutex_);
    return builder_events_.Advise(std::move(sink), cookie);
  }
  HRESULT Unadvise(uint32_t cookie) override {
    std::lock_guard lock(mutex_);
    return builder_events_.Unadvise(cookie);
  }
  HRESULT AdviseViewerEvents(std::shared_ptr<IViewerEvents> sink, uint32_t* cookie) override {
    std::lock_guard lock(mutex_);
    return viewer_events_.Advise(std::move(sink), cookie);
  }
  HRESULT UnadviseViewerEvents(uint32_t cookie) override {
    std::lock_guard lock(mutex_);
    return viewer_events_.Unadvise(cookie);
  }

  ikutil::TaskOutcome LastOutcome() override {
    std::lock_guard lock(mutex_);
    return outcome_;
  }

 private:
  // What the engine is doing for this Builder, set for the length of one
  // engine call: AbortBuild reaches the build through it. A build started
  // from an event handler puts back the outer one when it ends.
  class Running {
   public:
    Running(CBuilder* builder, EngineBuild* build, bool validating, IProject* project)
        : builder_(builder),
          build_(builder->current_build_),
          validating_(builder->validating_),
          project_(builder->current_project_) {
      {
        std::lock_guard lock(builder_->running_mutex_);
        builder_->current_build_ = build;
      }
      builder_->validating_ = validating;
      builder_->current_project_ = project;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    ~Running() {
      {
        std::lock_guard lock(builder_->running_mutex_);
        builder_->current_build_ = build_;
      }
      builder_->validating_ = validating_;
      builder_->current_project_ = project_;
    }

   private:
    CBuilder* builder_;
    EngineBuild* build_;
    bool validating_;
    IProject* project_;
  };

  // The five engine slots, all pointing back at this Builder.
  ikutil::EngineCallbacks Callbacks();
  static void EngineError(ikutil::CSourceFile* source, const char* message, int32_t line, int32_t column,
                          int16_t severity, void* context);
  static void EngineParserProgress(uint32_t parsed, uint32_t total, void* context);
  static void EngineLayoutMessage(const char* message, void* context);
  static void EngineSourceStart(const char* file, int32_t number, int32_t total, void* context);
  static void EngineSourceDone(const char* file, int32_t number, int32_t total, void* context);
  static bool EngineGlyphCoverage(uint32_t code_point, void* context);

  // Every task starts by telling the sinks which project it works on; then
  // the engine's parameters of that project, or null (and the outcome says
  // so) when it has none.
  ikutil::CBookParams* StartTask(IProject* project) {
    builder_events_.Fire([&](IBuilderEvents& sink) { sink.OnBuildStart(project); });
    ikutil::CBookParams* params = ParamsOf(project);
    if (!params) outcome_ = Failure("the project has no book to work on");
    return params;
  }
  // Keeps `outcome` as the last one, and answers it as a result code.
  HRESULT Finish(ikutil::TaskOutcome outcome) {
    if (std::string file = UserFileName(outcome.status.file()); file != outcome.status.file())
      outcome.status = ikutil::Status(outcome.status.code(), outcome.status.message(), std::move(file));
    outcome_ = std::move(outcome);
    return ResultOf(outcome_);
  }
  // The name the user knows for a file the engine names: the project
  // file for the temporary copy a container is packed from.
  std::string UserFileName(std::string name) const {
    return !temporary_name_.empty() && name == temporary_name_ ? user_name_ : name;
  }
  // A task that could not start: the outcome says why; E_FAIL.
  HRESULT Refuse(std::string message, std::string file = {}) {
    return Finish(Failure(std::move(message), std::move(file)));
  }
  HRESULT RunBuild(IProject* project);
  HRESULT RunCheck(IProject* project, int16_t index);
  HRESULT RunGenerateOEBFF(IProject* project, int32_t needs_validation);
  // Builds a new project of `sources`, named after the current directory
  // before or after they are added.
  HRESULT BuildSources(const std::vector<std::string>& sources, bool name_project_first);

  // Each call holds the Builder's lock, so calls from several threads take
  // turns; it is recursive because event handlers may call back. Only
  // AbortBuild goes around it (it must reach a build another thread runs),
  // through the lock of the running build alone.
  std::recursive_mutex mutex_;
  std::mutex running_mutex_;  // current_build_

  std::shared_ptr<BuildEngine> engine_;
  ConnectionPoint<IBuilderEvents> builder_events_;
  ConnectionPoint<IViewerEvents> viewer_events_;  // offered; a Builder has no pages to report

  EngineBuild* current_build_ = nullptr;
  bool validating_ = false;
  IProject* current_project_ = nullptr;
  std::string temporary_name_, user_name_;  // while a container is packed
  int32_t feedback_threshold_ = 1;
  int32_t preview_ = 0;
  ikutil::TaskOutcome outcome_ = Failure("no task has run");

  PageIntrinsics page_;
  std::unique_ptr<ikutil::GlyphCoverage> coverage_;  // the faces, for the builds' glyph coverage
  bool coverage_tried_ = false;
};

ikutil::EngineCallbacks CBuilder::Callbacks() {
  ikutil::EngineCallbacks callbacks;
  callbacks.error_callback = &CBuilder::EngineError;
  callbacks.error_context = this;
  callbacks.parser_progress_callback = &CBuilder::EngineParserProgress;
  callbacks.parser_progress_context = this;
  callbacks.layout_message_callback = &CBuilder::EngineLayoutMessage;
  callbacks.layout_message_context = this;
  callbacks.source_start_callback = &CBuilder::EngineSourceStart;
  callbacks.source_start_context = this;
  callbacks.source_done_callback = &CBuilder::EngineSourceDone;
  callbacks.source_done_context = this;
  callbacks.glyph_coverage_callback = &CBuilder::EngineGlyphCoverage;
  callbacks.glyph_coverage_context = this;
  return callbacks;
}

void CBuilder::EngineError(ikutil::CSourceFile* source, const char* message, int32_t line, int32_t column,
                           int16_t severity, void* context) {
  auto* self = static_cast<CBuilder*>(context);
  std::string file = self->UserFileName(source ? source->Name() : std::string());
  std::string text = CleanEngineMessage(message);
  self->builder_events_.Fire([&](IBuilderEvents& sink) { sink.OnError(file, text, line, column, severity); });
}

void CBuilder::EngineParserProgress(uint32_t parsed, uint32_t total, void* context) {
  auto* self = static_cast<CBuilder*>(context);
  if (parsed == 0 || parsed % static_cast<uint32_t>(self->feedback_threshold_) != 0) return;
  self->builder_events_.Fire(
      [&](IBuilderEvents& sink) { sink.OnParserFeedback(static_cast<int32_t>(parsed), static_cast<int32_t>(total)); });
}

void CBuilder::EngineLayoutMessage(const char* message, void* context) {
  std::string text = message ? message : "";
  static_cast<CBuilder*>(context)->builder_events_.Fire([&](IBuilderEvents& sink) { sink.OnLayoutFeedback(text); });
}

void CBuilder::EngineSourceStart(const char* file, int32_t number, int32_t total, void* context) {
  std::string name = file ? file : "";
  static_cast<CBuilder*>(context)->builder_events_.Fire(
      [&](IBuilderEvents& sink) { sink.OnSourceStart(name, number, total); });
}

void CBuilder::EngineSourceDone(const char* file, int32_t number, int32_t total, void* context) {
  std::string name = file ? file : "";
  static_cast<CBuilder*>(context)->builder_events_.Fire(
      [&](IBuilderEvents& sink) { sink.OnSourceDone(name, number, total); });
}

bool CBuilder::EngineGlyphCoverage(uint32_t code_point, void* context) {
  auto* self = static_cast<CBuilder*>(context);
  // Opened for the first book that needs it and kept: a build of plain
  // ASCII never opens a font.
  if (!self->coverage_tried_) {
    self->coverage_ = ikutil::GlyphCoverage::Open();
    self->coverage_tried_ = true;
  }
  return !self->coverage_ || self->coverage_->Shows(static_cast<char32_t>(code_point));
}

HRESULT CBuilder::OnStartPage(ComObject* unknown) {
  std::lock_guard lock(mutex_);
  try {
    return page_.Start(unknown);
  } catch (...) {
    return E_FAIL;  // a context that throws has handed over nothing
  }
}

HRESULT CBuilder::OnEndPage() {
  std::lock_guard lock(mutex_);
  page_.End();
  return S_OK;
}

HRESULT CBuilder::Build(IProject* project) {
  std::lock_guard lock(mutex_);
  if (!project) {
    outcome_ = Failure("no project was given");
    return E_POINTER;
  }
  return Guarded(outcome_, [&]() -> HRESULT { return RunBuild(project); });
}

HRESULT CBuilder::RunBuild(IProject* project) {
  std::lock_guard lock(mutex_);
  ikutil::CBookParams* params = StartTask(project);
  if (!params) return E_FAIL;
  TemporaryProjectFile temporary;
  if (!temporary.SaveIfUnnamed(project)) return Refuse(kNoTemporaryProject);
  std::unique_ptr<EngineBuild> build = engine_->NewBuild(params, Callbacks());
  Running running(this, build.get(), false, project);
  return Finish(build->Build(preview_ == 1));
}

HRESULT CBuilder::BuildFromProject(const std::string& project_file) {
  std::lock_guard lock(mutex_);
  return Guarded(outcome_, [&]() -> HRESULT {
    std::shared_ptr<IProject> project;
    if (Failed(CreateObject(kProjectIndependentProgId, &project))) return Refuse(kNoProject);
    if (Failed(project->Load(project_file))) return Refuse("cannot be read as a project", project_file);
    return Build(project.get());
  });
}

HRESULT CBuilder::BuildFromHTMLFile(const std::string& html_file) {
  std::lock_guard lock(mutex_);
  return Guarded(outcome_, [&]() -> HRESULT { return BuildSources({html_file}, false); });
}

HRESULT CBuilder::BuildSources(const std::vector<std::string>& sources, bool name_project_first) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<IProject> project;
  if (Failed(CreateObject(kProjectIndependentProgId, &project))) return Refuse(kNoProject);
  if (name_project_first && Failed(project->SetProjectFile(CurrentDirectoryProjectFile()))) return Refuse(kNoProject);
  for (const std::string& source : sources)
    if (Failed(project->AddSourceFile(source))) return Refuse("cannot be added to the book", source);
  if (!name_project_first && Failed(project->SetProjectFile(CurrentDirectoryProjectFile()))) return Refuse(kNoProject);
  return Build(project.get());
}

HRESULT CBuilder::BuildFromHTMLFiles(Variant* file_list) {
  std::lock_guard lock(mutex_);
  outcome_ = Failure(kNotAFileList);
  if (!file_list) return E_POINTER;
  return Guarded(outcome_, [&]() -> HRESULT {
    if (!(file_list->vt & (VT_ARRAY | VT_BSTR))) return E_INVALIDARG;
    const SafeArray* array = ArrayOf(*file_list);
    if (!array || !(array->element_type & VT_BSTR) || array->dimensions != 1 || !array->bounds_readable)
      return E_INVALIDARG;
    std::vector<std::string> sources;
    for (size_t i = 0; i < array->Count(); ++i) {
      std::optional<std::string> source = StringElement(*array, i);
      if (!source) return Refuse(kNotAFileList);
      sources.push_back(std::move(*source));
    }
    return BuildSources(sources, false);
  });
}

HRESULT CBuilder::BuildFromHTML(Variant* document) {
  std::lock_guard lock(mutex_);
  outcome_ = Failure(kNotADocument);
  if (!document) return E_POINTER;
  return Guarded(outcome_, [&]() -> HRESULT {
    std::string_view text;
    switch (document->vt) {
      case VT_BSTR:
        text = document->string;
        break;
      case VT_BYREF | VT_BSTR:
        if (!document->ref) return E_INVALIDARG;
        text = document->ref->string;
        break;
      case VT_ARRAY | VT_UI1:
      case VT_BYREF | VT_ARRAY | VT_UI1: {
        const SafeArray* array = ArrayOf(*document);
        if (!array || !array->bounds_readable) return Refuse(kNotADocument);
        text = std::string_view(reinterpret_cast<const char*>(array->bytes.data()), array->bytes.size());
        break;
      }
      default:
        return E_INVALIDARG;
    }
    // Automation strings are UTF-8, which is the engine's narrow text too
    // (a source that is not UTF-8 it reads as the 8-bit code page), so the
    // text is written as it is.
    text = UpToFirstZero(text);

    std::optional<std::string> reserved = ReserveTempFile("./", "scv");
    if (!reserved) return Refuse(kNoTemporaryDocument);
    TemporaryFile source(std::move(*reserved));
    {
      std::ofstream out(source.path(), std::ios::binary | std::ios::trunc);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      if (!out.flush()) return Refuse(kNoTemporaryDocument);
    }
    return BuildSources({source.path()}, true);
  });
}

HRESULT CBuilder::AbortBuild() {
  ikutil::TaskOutcome ignored;
  return Guarded(ignored, [&]() -> HRESULT {
    std::lock_guard lock(running_mutex_);
    if (current_build_) current_build_->RequestCancel(true);
    return S_OK;
  });
}

HRESULT CBuilder::FeedbackThreshold(int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_POINTER;
  *out = feedback_threshold_;
  return S_OK;
}

HRESULT CBuilder::SetFeedbackThreshold(int32_t value) {
  std::lock_guard lock(mutex_);
  if (value <= 0) return E_INVALIDARG;
  feedback_threshold_ = value;
  return S_OK;
}

HRESULT CBuilder::Preview(int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_POINTER;
  *out = preview_;
  return S_OK;
}

HRESULT CBuilder::SetPreview(int32_t value) {
  std::lock_guard lock(mutex_);
  preview_ = value;
  return S_OK;
}

HRESULT CBuilder::HTCheck(IProject* project, int16_t index) {
  std::lock_guard lock(mutex_);
  if (!project) {
    outcome_ = Failure("no project was given");
    return E_POINTER;
  }
  return Guarded(outcome_, [&]() -> HRESULT { return RunCheck(project, index); });
}

HRESULT CBuilder::RunCheck(IProject* project, int16_t index) {
  std::lock_guard lock(mutex_);
  ikutil::CBookParams* params = StartTask(project);
  if (!params) return E_FAIL;
  {
    TemporaryProjectFile temporary;
    if (!temporary.SaveIfUnnamed(project)) return Refuse(kNoTemporaryProject);
    Running running(this, nullptr, true, project);
    outcome_ = engine_->Validate(params, Callbacks(), index);
  }
  std::string complete = LoadStringResource(101);
  if (complete.empty()) complete = "OEB Check Complete.";
  builder_events_.Fire([&](IBuilderEvents& sink) { sink.OnError("", complete, -1, -1, 0); });
  // A check that found errors has still done its work: its outcome says
  // what it found.
  return S_OK;
}

HRESULT CBuilder::GenerateOEBFF(IProject* project, int32_t needs_validation) {
  std::lock_guard lock(mutex_);
  if (!project) {
    outcome_ = Failure("no project was given");
    return E_POINTER;
  }
  return Guarded(outcome_, [&]() -> HRESULT { return RunGenerateOEBFF(project, needs_validation); });
}

HRESULT CBuilder::RunGenerateOEBFF(IProject* project, int32_t needs_validation) {
  std::lock_guard lock(mutex_);
  ikutil::CBookParams* params = StartTask(project);
  if (!params) return E_FAIL;
  // The engine saves the package under a temporary name beside the project
  // file, so that the project file itself is never touched.
  const std::string saved_path = params->project_file_path;
  size_t slash = saved_path.rfind('/');
  std::string folder = slash == std::string::npos ? "./" : saved_path.substr(0, slash + 1);
  std::optional<std::string> reserved = ReserveTempFile(folder, "opf");
  if (!reserved) return Refuse("the package cannot be saved in its folder", saved_path);
  TemporaryFile package(FullPath(*reserved));

  struct RestorePath {
    CBuilder* builder;
    ikutil::CBookParams* params;
    const std::string& path;
    ~RestorePath() {
      params->project_file_path = path;
      builder->temporary_name_.clear();
    }
  } restore{this, params, saved_path};
  params->project_file_path = package.path();
  // The engine names the package it saved in its problems: the user knows
  // it as the project file (or, without one, as the book).
  temporary_name_ = package.path();
  user_name_ = !saved_path.empty() && saved_path.back() != '/' ? saved_path
               : params->book_file_name.empty()                ? "book"
                                                               : params->book_file_name;
  return Finish(engine_->GenerateOEBFF(params, Callbacks(), needs_validation != 0));
}

HRESULT CBuilder::BuildFromOEBFF(const std::string& oeb_file, const std::string& dest_dir, const std::string& log_dir,
                                 int32_t preview) {
  std::lock_guard lock(mutex_);
  return Guarded(outcome_, [&]() -> HRESULT {
    OEBFFReader reader(oeb_file);
    const ikutil::OEBFFContainerView container = ContainerView(reader, oeb_file);

    size_t slash = dest_dir.rfind('/');
    std::string directory = slash == std::string::npos ? std::string() : dest_dir.substr(0, slash);
    std::string name = slash == std::string::npos ? dest_dir : dest_dir.substr(slash + 1);
    return Finish(engine_->BuildFromContainer(container, Callbacks(), preview != 0, directory, log_dir, name));
  });
}

const bool registered = [] {
  RegisterClass({kBuilderClassId, "Builder Class", kBuilderProgId, kBuilderIndependentProgId,
                 [] { return std::shared_ptr<ComObject>(NewBuilder()); }});
  return true;
}();

}  // namespace

std::shared_ptr<IBuilder> NewBuilder() { return NewBuilder(nullptr); }

ikutil::OEBFFContainerView ContainerView(const OEBFFReader& reader, const std::string& path) {
  ikutil::OEBFFContainerView view;
  view.path = path;
  view.failed = reader.Failed();
  view.error_code = reader.ErrorCode();
  view.diagnostic = reader.Diagnostic();
  view.unfinished_part = reader.UnfinishedPart();
  view.root = reader.Root();
  view.parts.assign(reader.Parts().begin(), reader.Parts().end());
  return view;
}

std::shared_ptr<IBuilder> NewBuilder(std::shared_ptr<BuildEngine> engine) {
  return std::make_shared<CBuilder>(engine ? std::move(engine) : BuildEngine::Real());
}

}  // namespace ikpubx
