// vellix build, vellix check and vellix project show: the toolkit's Project
// and Builder driven as any automation client drives them, with the build
// events shown as they arrive.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "build_display.h"
#include "commands.h"
#include "ikpubx/builder.h"
#include "ikpubx/module.h"
#include "ikpubx/project.h"
#include "output.h"
#include "vellix/error.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/file_io.h"

namespace vellix::cli {
namespace {

namespace fs = std::filesystem;

// The build events as the tool shows them: problems on stderr as they
// arrive, progress as a bar when standard output is a terminal, and an
// abort when the user pressed Ctrl-C.
class BuildSink : public ikpubx::IBuilderEvents {
 public:
  explicit BuildSink(ikpubx::IBuilder* builder) : builder_(builder) {}

  void OnError(const std::string& file, const std::string& message, int32_t line, int32_t column,
               int16_t severity) override {
    bar_.Clear();
    std::cerr << EventLine(file, message, line, column, severity) << "\n";
    if (severity >= 2) ++errors_;
    CheckInterrupt();
  }
  void OnSourceStart(const std::string& file, int32_t number, int32_t total) override {
    bar_.SourceStart(file, number, total);
    CheckInterrupt();
  }
  void OnParserFeedback(int32_t current, int32_t total) override {
    bar_.Progress(current, total);
    CheckInterrupt();
  }
  void OnLayoutFeedback(const std::string&) override { CheckInterrupt(); }
  void OnSourceDone(const std::string&, int32_t, int32_t) override {
    bar_.Draw();
    CheckInterrupt();
  }

  bool aborted() const { return aborted_; }
  int errors() const { return errors_; }
  void ClearBar() { bar_.Clear(); }

 private:
  void CheckInterrupt() {
    if (!InterruptToAbort::Interrupted() || aborted_) return;
    aborted_ = true;
    builder_->AbortBuild();
  }

  ikpubx::IBuilder* builder_;
  ProgressBar bar_;
  bool aborted_ = false;
  int errors_ = 0;
};

// Collects every event of a check, in order.
class CheckSink : public ikpubx::IBuilderEvents {
 public:
  struct Event {
    std::string file, message;
    int32_t line, column;
    int16_t severity;
  };
  void OnError(const std::string& file, const std::string& message, int32_t line, int32_t column,
               int16_t severity) override {
    events.push_back({file, message, line, column, severity});
  }
  std::vector<Event> events;
};

template <typename I>
std::shared_ptr<I> Create(const char* prog_id) {
  std::shared_ptr<I> object;
  ikpubx::HRESULT hr = ikpubx::CreateObject(prog_id, &object);
  if (ikpubx::Failed(hr)) throw std::runtime_error(std::string("cannot create ") + prog_id);
  return object;
}

std::shared_ptr<ikpubx::IProject> LoadProject(const std::string& path) {
  if (!formats::IsFile(path))
    formats::Raise(formats::IsFolder(path) ? formats::kPathFileAccess : formats::kFileNotFound, path);
  auto project = Create<ikpubx::IProject>(ikpubx::kProjectIndependentProgId);
  // Problems of the load are shown now, on stderr.
  project->SetErrorFeedback(1);
  if (ikpubx::Failed(project->Load(path))) throw std::runtime_error("the project " + path + " could not be loaded");
  return project;
}

// A getter's result, or an error naming what could not be read: a value
// the toolkit refused is never printed as an empty one.
void Check(ikpubx::HRESULT hr, const std::string& what) {
  if (ikpubx::Failed(hr)) throw std::runtime_error("the project's " + what + " could not be read");
}

std::string Text(ikpubx::IProject& project, ikpubx::HRESULT (ikpubx::IProject::*get)(std::string*)) {
  std::string value;
  (project.*get)(&value);
  return value;
}

// Source indexes of the project interface are 16-bit: sources past the
// last index it can address exist but cannot be asked about one by one.
constexpr int32_t kAddressableSources = static_cast<int32_t>(INT16_MAX) + 1;

// Where the engine writes the project's book: the output folder (relative
// ones count from the project's folder; none is that folder) and the book
// name (none: the first source's).
std::string BookPathOf(ikpubx::IProject& project) {
  std::string project_file = Text(project, &ikpubx::IProject::ProjectFile);
  fs::path base = fs::path(project_file).parent_path();
  fs::path out = Text(project, &ikpubx::IProject::OutputDirectory);
  if (out.is_relative()) out = base / out;
  std::string name = Text(project, &ikpubx::IProject::BookFileName);
  if (name.empty()) {
    int32_t count = 0;
    project.NumSourceFiles(&count);
    for (int32_t i = 0; i < std::min(count, kAddressableSources) && name.empty(); ++i) {
      int16_t included = 0;
      std::string file;
      auto index = static_cast<int16_t>(i);
      if (ikpubx::Succeeded(project.IncludeStatus(index, &included)) && included &&
          ikpubx::Succeeded(project.SourceFile(index, &file)))
        name = fs::path(file).stem().string();
    }
  }
  return (out / (name + ".imp")).lexically_normal().string();
}

struct BuildOptions {
  std::string project;
  bool preview = false;
  bool container = false;
  int threshold = 1;
  std::vector<std::string> oebff;
  std::vector<std::string> html;
  std::string epub;
  std::string output;
  bool strict = false;
};

// The words of a failed task: the file at fault and why.
std::string FailureText(const ikutil::Status& status) {
  std::string message = formats::TrimSpaces(status.message());
  if (message.empty()) message = "the task failed";
  return status.file().empty() ? message : status.file() + ": " + message;
}

// Runs `build` with the sink connected; the exit code. `place` puts a built
// book where the user asked for it. A book written despite errors in its
// sources is printed and exits 0, or 1 when `strict`.
int RunBuild(ikpubx::IBuilder& builder, const std::function<void()>& build, const std::string& book, bool strict,
             const std::function<void()>& place = nullptr) {
  InterruptToAbort interrupt;
  // What a build killed earlier left beside the book.
  formats::RemoveStaleTemporaries(fs::absolute(book).parent_path().string());
  auto sink = std::make_shared<BuildSink>(&builder);
  uint32_t cookie = 0;
  builder.Advise(sink, &cookie);
  build();
  builder.Unadvise(cookie);
  sink->ClearBar();
  if (sink->aborted()) {
    std::cerr << "vellix: the build was stopped; no book was written\n";
    return kExitError;
  }
  const ikutil::TaskOutcome outcome = builder.LastOutcome();
  if (!outcome.ok()) {
    std::cerr << "vellix: " << FailureText(outcome.status) << "\n";
    return kExitError;
  }
  if (place) place();
  std::cout << book << "\n";
  if (strict && sink->errors() > 0) {
    std::cerr << "vellix: " << sink->errors() << (sink->errors() == 1 ? " error" : " errors")
              << " in the sources (--strict); the book was written all the same\n";
    return kExitError;
  }
  return kExitOk;
}

// BuildFromHTMLFiles writes its book in the current directory under the
// engine's default name; it is built in a fresh folder beside DEST and
// moved to DEST, so nothing else in either folder is touched.
int BuildHtml(ikpubx::IBuilder& builder, const BuildOptions& opts) {
  fs::path dest = fs::absolute(CleanPath(opts.output));
  if (!formats::IsFolder(dest.parent_path().string()))
    formats::Raise(formats::kPathNotFound, dest.parent_path().string());
  formats::CheckWritableTarget(dest.string());
  formats::RefuseOverwritingInput(dest.string(), opts.html);
  auto list = std::make_shared<ikpubx::SafeArray>();
  list->element_type = ikpubx::VT_BSTR;
  for (const std::string& file : opts.html) {
    if (!formats::IsFile(file)) formats::Raise(formats::kFileNotFound, file);
    list->strings.push_back(fs::absolute(file).lexically_normal().string());
  }
  std::string work = (dest.parent_path() / (std::string(formats::kBuildFolderPrefix) + "XXXXXX")).string();
  if (!::mkdtemp(work.data())) formats::Raise(formats::kPathFileAccess, dest.parent_path().string());
  fs::path previous = fs::current_path();
  std::error_code ec;
  int code = kExitError;
  try {
    fs::current_path(work);
    ikpubx::Variant files = ikpubx::Variant::Array(list);
    // The folder was empty: the one book in it is the one just built. It
    // reaches DEST through the safe writer, so a device or pipe there is
    // written through and a link is followed, never replaced.
    auto place = [&] {
      for (const auto& entry : fs::directory_iterator(work))
        if (entry.path().extension() == ".imp") {
          formats::InputFile built(entry.path().string());
          formats::AtomicFileWriter out(dest.string());
          out.CopyFrom(built, built.size());
          out.Commit();
        }
    };
    code = RunBuild(
        builder, [&] { builder.BuildFromHTMLFiles(&files); }, dest.string(), opts.strict, place);
  } catch (...) {
    fs::current_path(previous, ec);
    fs::remove_all(work, ec);
    throw;
  }
  fs::current_path(previous, ec);
  fs::remove_all(work, ec);
  return code;
}

// An EPUB book is read as a project; the book file is named after DEST
// (the engine adds ".imp", so another ending is put right by a rename).
int BuildEpub(ikpubx::IBuilder& builder, const BuildOptions& opts) {
  if (!formats::IsFile(opts.epub))
    formats::Raise(formats::IsFolder(opts.epub) ? formats::kPathFileAccess : formats::kFileNotFound, opts.epub);
  fs::path dest = fs::absolute(CleanPath(opts.output)).lexically_normal();
  if (!formats::IsFolder(dest.parent_path().string()))
    formats::Raise(formats::kPathNotFound, dest.parent_path().string());
  std::string name = dest.filename().string();
  bool imp = name.size() > 4 && formats::LowerAscii(name.substr(name.size() - 4)) == ".imp";
  if (imp) name.resize(name.size() - 4);
  formats::CheckWritableTarget(dest.string());
  formats::RefuseOverwritingInput(dest.string(), {opts.epub});
  // A refused book is said on stderr by the load, naming the entry at fault.
  auto project = LoadProject(opts.epub);
  project->SetBookFileName(name);
  project->SetOutputDirectory(dest.parent_path().string());
  if (opts.preview) builder.SetPreview(1);
  fs::path built = dest.parent_path() / (name + ".imp");
  // Another ending reaches DEST through the safe writer, as --html does.
  auto place = [&] {
    if (imp) return;
    {
      formats::InputFile book(built.string());
      formats::AtomicFileWriter out(dest.string());
      out.CopyFrom(book, book.size());
      out.Commit();
    }
    std::error_code ec;
    fs::remove(built, ec);
  };
  return RunBuild(
      builder, [&] { builder.Build(project.get()); }, dest.string(), opts.strict, place);
}

void PrintProject(ikpubx::IProject& project, bool json) {
  using P = ikpubx::IProject;
  nlohmann::ordered_json j;
  auto text = [&](const char* name, ikpubx::HRESULT (P::*get)(std::string*)) {
    std::string value;
    Check((project.*get)(&value), name);
    j[name] = value;
  };
  auto number32 = [&](const char* name, ikpubx::HRESULT (P::*get)(int32_t*)) {
    int32_t value = 0;
    Check((project.*get)(&value), name);
    j[name] = value;
  };
  auto number16 = [&](const char* name, ikpubx::HRESULT (P::*get)(int16_t*)) {
    int16_t value = 0;
    Check((project.*get)(&value), name);
    j[name] = value;
  };
  text("BookFileName", &P::BookFileName);
  text("OutputDirectory", &P::OutputDirectory);
  text("ErrorDirectory", &P::ErrorDirectory);
  text("BookID", &P::BookID);
  text("BookTitle", &P::BookTitle);
  text("Category", &P::Category);
  text("SubCategory", &P::SubCategory);
  text("AuthorFirstName", &P::AuthorFirstName);
  text("AuthorMiddleName", &P::AuthorMiddleName);
  text("AuthorLastName", &P::AuthorLastName);
  number32("Encrypt", &P::Encrypt);
  number32("Compress", &P::Compress);
  number32("Implode", &P::Implode);
  number32("UnderlineLinks", &P::UnderlineLinks);
  number16("Zoom", &P::Zoom);
  number16("CSS", &P::CSS);
  number16("WidowLines", &P::WidowLines);
  number16("OrphanLines", &P::OrphanLines);
  number32("BuildTarget", &P::BuildTarget);
  text("ContentFeedID", &P::ContentFeedID);
  text("CurrentIssue", &P::CurrentIssue);
  number32("DeleteFallbacks", &P::DeleteFallbacks);
  number32("IsPeriodical", &P::IsPeriodical);
  number16("ProjectFormat", &P::ProjectFormat);
  text("ProjectFile", &P::ProjectFile);
  number32("NumSourceFiles", &P::NumSourceFiles);
  nlohmann::ordered_json sources = nlohmann::ordered_json::array();
  int32_t count = j["NumSourceFiles"];
  int32_t shown = std::min(count, kAddressableSources);
  for (int32_t n = 0; n < shown; ++n) {
    auto i = static_cast<int16_t>(n);
    std::string file;
    int16_t html = 0, included = 0, dirty = 0;
    int32_t exists = 0, size = 0;
    const std::string what = "source " + std::to_string(n);
    Check(project.SourceFile(i, &file), what);
    Check(project.HtmlStatus(i, &html), what + " html status");
    Check(project.IncludeStatus(i, &included), what + " include status");
    Check(project.DirtyStatus(i, &dirty), what + " dirty status");
    Check(project.SourceExists(i, &exists), what + " existence");
    Check(project.SourceFileSize(i, &size), what + " size");
    sources.push_back({{"file", file},
                       {"html_status", html},
                       {"included", included != 0},
                       {"dirty", dirty != 0},
                       {"exists", exists != 0},
                       {"size", size}});
  }
  if (shown < count) j["UnaddressableSources"] = count - shown;
  if (json) {
    j["sources"] = sources;
    PrintJson(j);
    return;
  }
  for (const auto& [name, value] : j.items())
    std::cout << name << ": " << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
  for (size_t i = 0; i < sources.size(); ++i) {
    const auto& s = sources[i];
    std::cout << "Source " << i << ": " << s["file"].get<std::string>() << " (html status "
              << s["html_status"].get<int>() << (s["included"].get<bool>() ? ", included" : ", excluded")
              << (s["dirty"].get<bool>() ? ", dirty" : "") << ", "
              << (s["exists"].get<bool>() ? std::to_string(s["size"].get<int32_t>()) + " bytes" : "missing") << ")\n";
  }
}

}  // namespace

void AddToolkitCommands(CLI::App& app, int& exit_code) {
  auto build_opts = std::make_shared<BuildOptions>();
  CLI::App* build = app.add_subcommand("build", "Build a device book from a project, a container or documents");
  build->add_option("PROJECT", build_opts->project, "Project file (an OEB package, .opf)");
  build->add_flag("--preview", build_opts->preview, "Build a preview");
  build->add_option("--threshold", build_opts->threshold, "Bytes between progress events")->check(CLI::PositiveNumber);
  build->add_option("--oebff", build_opts->oebff, "FILE DEST LOGDIR: build the container FILE as DEST.imp")
      ->expected(3);
  build->add_flag("--container", build_opts->container,
                  "With PROJECT: write the project and its files as one OEBFF container instead of a book");
  build->add_option("--html", build_opts->html, "Documents to build into one book (with -o)")->expected(1, -1);
  build->add_option("--epub", build_opts->epub, "An EPUB 2 or 3 book to build (with -o)");
  build->add_option("-o,--output", build_opts->output, "The book file written by --html or --epub");
  build->add_flag("--strict", build_opts->strict, "Exit 1 when the sources have any error, even if a book was written");
  build->footer(
      "Exit status: 0 when the book was written. Problems in the sources (a missing image, a bad link)\n"
      "are printed as file:line:col lines; the book is still written without what they concern, and\n"
      "the exit status stays 0 unless --strict is given, which makes any error exit 1. 1 when no book\n"
      "was written (the build failed or was stopped), 2 for a usage error.");
  build->callback([build_opts, &exit_code] {
    const BuildOptions& opts = *build_opts;
    int modes = !opts.project.empty() + !opts.oebff.empty() + !opts.html.empty() + !opts.epub.empty();
    if (modes != 1) throw CLI::ValidationError("build", "give one of PROJECT, --oebff, --html or --epub");
    if (!opts.html.empty() && opts.output.empty()) throw CLI::ValidationError("--html", "needs -o DEST");
    if (opts.container && opts.project.empty()) throw CLI::ValidationError("--container", "needs PROJECT");
    if (!opts.epub.empty() && opts.output.empty()) throw CLI::ValidationError("--epub", "needs -o DEST");
    auto builder = Create<ikpubx::IBuilder>(ikpubx::kBuilderIndependentProgId);
    builder->SetFeedbackThreshold(opts.threshold);
    if (!opts.html.empty()) {
      exit_code = BuildHtml(*builder, opts);
    } else if (!opts.epub.empty()) {
      exit_code = BuildEpub(*builder, opts);
    } else if (!opts.oebff.empty()) {
      const std::string &file = opts.oebff[0], &dest = opts.oebff[1], &logs = opts.oebff[2];
      if (!formats::IsFile(file)) formats::Raise(formats::kFileNotFound, file);
      exit_code = RunBuild(
          *builder, [&] { builder->BuildFromOEBFF(file, dest, logs, opts.preview ? 1 : 0); }, dest + ".imp",
          opts.strict);
    } else {
      auto project = LoadProject(opts.project);
      if (opts.container) {
        std::string container = fs::path(BookPathOf(*project)).replace_extension(".oeb").string();
        exit_code = RunBuild(
            *builder, [&] { builder->GenerateOEBFF(project.get(), 0); }, container, opts.strict);
        return;
      }
      if (opts.preview) builder->SetPreview(1);
      exit_code = RunBuild(
          *builder, [&] { builder->Build(project.get()); }, BookPathOf(*project), opts.strict);
    }
  });

  auto check_project = std::make_shared<std::string>();
  auto check_index = std::make_shared<int>(-1);
  auto check_json = std::make_shared<bool>(false);
  CLI::App* check = app.add_subcommand("check", "Check the sources of a project; lists every problem");
  check->add_option("PROJECT", *check_project, "Project file (.opf)")->required();
  check->add_option("--index", *check_index, "Check only the source at this index (from 0)");
  check->add_flag("--json", *check_json, "Print a JSON array");
  check->footer(
      "Exit status: 0 when no error is listed (warnings may be), 1 when one is or the project cannot be\nchecked, 2 "
      "for a usage error.");
  check->callback([check_project, check_index, check_json, &exit_code] {
    auto project = LoadProject(*check_project);
    // An index past the sources would check nothing and report success.
    int32_t sources = 0;
    project->NumSourceFiles(&sources);
    if (*check_index < -1 || *check_index >= sources)
      throw CLI::ValidationError("--index", "the project has " + std::to_string(sources) +
                                                " sources: give one from 0 to " + std::to_string(sources - 1));
    auto builder = Create<ikpubx::IBuilder>(ikpubx::kBuilderIndependentProgId);
    auto sink = std::make_shared<CheckSink>();
    uint32_t cookie = 0;
    builder->Advise(sink, &cookie);
    builder->HTCheck(project.get(), static_cast<int16_t>(*check_index));
    builder->Unadvise(cookie);
    const ikutil::TaskOutcome outcome = builder->LastOutcome();
    if (*check_json) {
      JsonArrayPrinter printer;
      for (const auto& e : sink->events)
        printer.Add(
            {{"file", e.file}, {"msg", e.message}, {"line", e.line}, {"col", e.column}, {"severity", e.severity}});
      printer.Finish();
    } else {
      for (const auto& e : sink->events)
        std::cout << EventLine(e.file, e.message, e.line, e.column, e.severity) << "\n";
    }
    // A check that lists an error has failed, whatever HTCheck answered; one
    // that could not run says why.
    const bool listed_error =
        std::any_of(sink->events.begin(), sink->events.end(), [](const auto& e) { return e.severity >= 2; });
    if (!outcome.ok() && !listed_error) std::cerr << "vellix: " << FailureText(outcome.status) << "\n";
    exit_code = outcome.ok() ? kExitOk : kExitError;
  });

  auto show_project = std::make_shared<std::string>();
  auto show_json = std::make_shared<bool>(false);
  CLI::App* project_group = app.add_subcommand("project", "Read toolkit projects");
  project_group->require_subcommand(1);
  CLI::App* show = project_group->add_subcommand("show", "Print every property of a project and its sources");
  show->add_option("PROJECT", *show_project, "Project file (.opf)")->required();
  show->add_flag("--json", *show_json, "Print a JSON object");
  show->callback([show_project, show_json, &exit_code] {
    PrintProject(*LoadProject(*show_project), *show_json);
    exit_code = kExitOk;
  });
}

}  // namespace vellix::cli
