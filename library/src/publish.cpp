// Publishing: a package (or the package made from a document) handed to the
// toolkit's Builder as a project, with the build's events passed on and its
// failures turned into errors.
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>

#include "ikpubx/builder.h"
#include "ikpubx/epub_export.h"
#include "ikpubx/module.h"
#include "ikpubx/oebff_reader.h"
#include "ikpubx/project.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/ocf_container.h"
#include "vellix/package.h"

namespace vellix {
namespace {

namespace fs = std::filesystem;

constexpr char kStoppedMessage[] = "Publishing was stopped; no book was written";

template <typename I>
std::shared_ptr<I> CreateToolkitObject(const char* prog_id) {
  std::shared_ptr<I> object;
  ikpubx::HRESULT hr = ikpubx::CreateObject(prog_id, &object);
  if (ikpubx::Failed(hr)) formats::Raise(hr, std::string("The publishing toolkit cannot create ") + prog_id);
  return object;
}

// The words of a failed task for the user, naming the file at fault: the
// one the engine names, else `source`, the user's.
// `stand_in` is a companion the user never gave, named as `source`.
std::string FailureText(const ikutil::Status& status, const std::string& source, const std::string& stand_in) {
  std::string message = formats::TrimSpaces(status.message());
  if (message.empty()) return source + ": no book could be built from it";
  const bool own_file = !status.file().empty() && status.file() != stand_in;
  return (own_file ? status.file() : source) + ": " + message;
}

// Hears the Builder for one Save: passes its events on, and stops the build
// when the caller answers false to keep_going or one of its handlers throws
// (the exception is kept and rethrown once Build has returned, since
// nothing may be thrown through the toolkit).
class PublishSink : public ikpubx::IBuilderEvents {
 public:
  PublishSink(ikpubx::IBuilder* builder, const PublishEvents* events) : builder_(builder), events_(events) {}

  void OnError(const std::string& file, const std::string& message, int32_t line, int32_t column,
               int16_t severity) override {
    Pass([&] {
      if (events_->error) events_->error(file, message, line, column, severity);
    });
  }
  void OnSourceStart(const std::string& file, int32_t number, int32_t total) override {
    Pass([&] {
      if (events_->source_start) events_->source_start(file, number, total);
    });
  }
  void OnParserFeedback(int32_t current, int32_t total) override {
    Pass([&] {
      if (events_->progress) events_->progress(current, total);
    });
  }
  void OnLayoutFeedback(const std::string&) override {
    Pass([] {});
  }
  void OnSourceDone(const std::string&, int32_t, int32_t) override {
    Pass([] {});
  }

  // Asks the caller whether to go on; false stops the build.
  bool KeepGoing() {
    Pass([] {});
    return !stopped_;
  }

  bool stopped() const { return stopped_; }
  std::exception_ptr failure() const { return failure_; }

 private:
  template <typename F>
  void Pass(F&& forward) {
    if (!events_ || stopped_) return;
    try {
      forward();
      if (events_->keep_going && !events_->keep_going()) Stop();
    } catch (...) {
      failure_ = std::current_exception();
      Stop();
    }
  }
  void Stop() {
    stopped_ = true;
    builder_->AbortBuild();
  }

  ikpubx::IBuilder* builder_;  // owns this sink while it is connected
  const PublishEvents* events_;
  bool stopped_ = false;
  std::exception_ptr failure_;
};

// Runs `build` with a Builder that passes the build's events on (messages
// name `source` where the engine names no file); throws when no book was
// written, in the words of the Builder's outcome.
void RunBuilder(const std::function<void(ikpubx::IBuilder&)>& build, const std::string& source,
                const PublishEvents* events, const std::string& stand_in = {});

void BuildProject(ikpubx::IProject* project, const std::string& source, const PublishEvents* events,
                  const std::string& stand_in = {}) {
  RunBuilder([project](ikpubx::IBuilder& builder) { builder.Build(project); }, source, events, stand_in);
}

}  // namespace

void Book::BuildPackage(const std::string& destination, const PublishEvents* events, const std::string& users_file) {
  if (!formats::IsFile(path_)) return;
  // Absolute, so that the package's destination folder does not count from
  // the package's own folder.
  fs::path dest = fs::absolute(destination).lexically_normal();
  // The log folder too: the engine would count a relative one from the
  // package's folder and look for "t/t" beside "t/book.opf".
  std::string log_folder = fs::absolute(path_).lexically_normal().parent_path().string();
  Package().CompletePackage(path_, dest.stem().string(), category_);
  Package().SetDirectory(path_, dest.parent_path().string(), log_folder);

  auto project = CreateToolkitObject<ikpubx::IProject>(ikpubx::kProjectIndependentProgId);
  ikpubx::HRESULT hr = project->Load(path_);
  if (ikpubx::Failed(hr)) formats::Raise(hr, "The package could not be read as a project: " + path_);
  if (users_file.empty())
    BuildProject(project.get(), path_, events);
  else
    BuildProject(project.get(), users_file, events, path_);
}

namespace {

void RunBuilder(const std::function<void(ikpubx::IBuilder&)>& build, const std::string& source,
                const PublishEvents* events, const std::string& stand_in) {
  auto builder = CreateToolkitObject<ikpubx::IBuilder>(ikpubx::kBuilderIndependentProgId);
  auto sink = std::make_shared<PublishSink>(builder.get(), events);
  uint32_t cookie = 0;
  builder->Advise(sink, &cookie);
  const bool started = sink->KeepGoing();
  if (started) build(*builder);
  builder->Unadvise(cookie);
  const ikutil::TaskOutcome outcome = started ? builder->LastOutcome() : ikutil::TaskOutcome{};
  const bool written = outcome.ok() && !outcome.written_path.empty();
  if (written && !sink->stopped()) return;
  // A book stopped too late to be held back goes too.
  if (written) {
    std::error_code ec;
    fs::remove(outcome.written_path, ec);
  }
  if (sink->failure()) std::rethrow_exception(sink->failure());
  if (sink->stopped()) formats::Raise(formats::kInvalidArgument, kStoppedMessage);
  formats::Raise(kBuildFailed,
                 outcome.ok() ? source + ": the build wrote no book" : FailureText(outcome.status, source, stand_in));
}

// An EPUB book the toolkit would refuse is refused here first, with the
// container's own reason (the entry at fault, or that it is encrypted).
// With `package_only`, only the package document is inflated.
void RequireReadableEpub(const std::string& epub, bool package_only = false) {
  formats::OcfLimits limits;
  limits.package_only = package_only;
  formats::OcfOpenResult opened = formats::OpenOcfContainer(epub, limits);
  if (!opened.container)
    formats::Raise(opened.encrypted ? formats::kPermissionDenied : formats::kInvalidArgument, opened.error);
}

std::shared_ptr<ikpubx::IProject> LoadEpubProject(const std::string& epub) {
  auto project = CreateToolkitObject<ikpubx::IProject>(ikpubx::kProjectIndependentProgId);
  project->SetErrorFeedback(0);
  if (ikpubx::Failed(project->Load(epub)))
    formats::Raise(formats::kInvalidArgument, epub + ": the EPUB book's package cannot be read");
  return project;
}

}  // namespace

bool Book::ReadContainerFields(std::string* why) {
  ikpubx::OEBFFReader reader(path_);
  const ikutil::OEBFFContainerView container = ikpubx::ContainerView(reader, path_);
  ikutil::CBookParams params;
  if (ikutil::Status read = ikutil::LoadContainerPackage(container, params); !read.ok()) {
    if (why) *why = FailureText(read, path_, {});
    return false;
  }
  SetFieldsFrom(params);
  return true;
}

void Book::BuildContainer(const std::string& destination, const PublishEvents* events) const {
  if (!formats::IsFile(path_)) formats::RaiseMissing(path_, false);
  fs::path dest = fs::absolute(destination).lexically_normal();
  // The Builder takes the book file's path without its ".imp", and writes
  // no log when given no log folder.
  const std::string book = (dest.parent_path() / dest.stem()).string();
  const std::string container = fs::absolute(path_).lexically_normal().string();
  RunBuilder([&](ikpubx::IBuilder& builder) { builder.BuildFromOEBFF(container, book, "", 0); }, path_, events);
}

void Book::SaveAsEpub(const std::string& epub) const {
  if (!formats::IsFile(path_)) formats::Raise(formats::kFileNotFound, path_);
  formats::RefuseOverwritingInput(epub, {path_});
  std::string error;
  bool missing = false;
  if (ikpubx::Failed(ikpubx::ExportBookAsEpub(path_, epub, &error, &missing)))
    formats::Raise(missing ? formats::kFileNotFound : formats::kInvalidArgument, error);
}

// The metadata needs the package document alone: the book's documents and
// pictures are inflated (and checked against the container's limits) when
// it is built.
void Book::LoadEpubMetadata(const std::string& epub) {
  RequireReadableEpub(epub, true);
  ikutil::CBookParams params;
  if (std::string error; !params.LoadEpubMetadata(epub, error)) formats::Raise(formats::kInvalidArgument, error);
  SetFieldsFrom(params);
}

void Book::SetFieldsFrom(const ikutil::CBookParams& params) {
  title_ = params.book_title;
  category_ = params.category;
  author_.clear();
  for (const std::string* part : {&params.author_first_name, &params.author_middle_name, &params.author_last_name}) {
    if (part->empty()) continue;
    if (!author_.empty()) author_ += ' ';
    author_ += *part;
  }
  book_id_ = params.book_id;
}

void Book::BuildEpub(const std::string& destination, const PublishEvents* events) {
  if (!formats::IsFile(path_)) return;
  // Load has read the package alone; the whole container is checked here.
  RequireReadableEpub(path_);
  auto project = LoadEpubProject(path_);
  fs::path dest = fs::absolute(destination).lexically_normal();
  // What the Book holds (typed by the user, or read by Load) wins.
  project->SetBookTitle(title_);
  project->SetCategory(category_);
  ikutil::AuthorNameParts author = ikutil::SplitAuthorName(author_);
  project->SetAuthorFirstName(author.first);
  project->SetAuthorMiddleName(author.middle);
  project->SetAuthorLastName(author.last);
  project->SetBookFileName(dest.stem().string());
  project->SetOutputDirectory(dest.parent_path().string());
  project->SetErrorDirectory("");
  BuildProject(project.get(), path_, events);
}

}  // namespace vellix
