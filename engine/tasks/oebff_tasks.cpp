// The two container tasks: writing a project as an OEBFF container, and
// building a device book from one.
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "build_run.h"
#include "ikutil/builder.h"
#include "ikutil/ui_helper.h"
#include "project_file.h"
#include "project_sources.h"
#include "task_report.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/oebff_error.h"
#include "vellix/formats/oebff_node.h"
#include "vellix/formats/oebff_package.h"
#include "vellix/formats/oebff_writer.h"

namespace ikutil {
namespace {

std::string LabelOf(const std::string& name) { return name.empty() ? "book" : name; }

// Why the reader refused a container, on one line: the reason its code
// gives, else the first line of its diagnostic.
std::string UnreadableContainerText(const OEBFFContainerView& container) {
  std::string why = vellix::formats::ContainerFailureReason(container.error_code);
  if (why.empty()) why = container.diagnostic.substr(0, container.diagnostic.find_first_of("\r\n"));
  if (why.empty()) return "not a readable OEBFF container";
  return "not a readable OEBFF container (" + vellix::formats::LowerAscii(why.substr(0, 1)) + why.substr(1) + ")";
}

// Problems of loading the container's package, as error callbacks.
class ReportingHelper : public COEBPackageUIHelper {
 public:
  explicit ReportingHelper(TaskReport& report) : report_(report) {}
  int Display(const std::string& message, const std::string& detail, int line, int) override {
    report_.Problem({detail, message, line, line >= 0 ? 1 : -1, kSeverityError});
    return 0;
  }

 private:
  TaskReport& report_;
};

// The bodies of a container's file parts, by href, read from the file
// between their recorded offsets.
class ContainerFiles : public SourceFiles {
 public:
  ContainerFiles(const std::string& path, const std::vector<const vellix::formats::OEBFFNode*>& parts) : path_(path) {
    for (const vellix::formats::OEBFFNode* part : parts) {
      std::string type, href;
      for (int32_t i = 0; i < part->ChildCount(); ++i) {
        const vellix::formats::OEBFFNode* field = part->Child(i);
        if (field->Kind() != vellix::formats::OEBFFNodeKind::kHeaderField) continue;
        std::string name = vellix::formats::LowerAscii(field->Name());
        if (name == "content-type") type = vellix::formats::LowerAscii(field->Value());
        if (name != "content-disposition") continue;
        for (int32_t a = 0; a < field->AttributeCount(); ++a) {
          std::string key, value;
          if (field->Attribute(a, &key, &value) && vellix::formats::LowerAscii(key) == "href") href = value;
        }
      }
      Range range{part->BodyStart(), part->BodyEnd() - 1 - part->BodyStart()};
      if (type == "text/xml" && href.empty()) {
        if (!package_) package_ = range;
      } else if (!href.empty() && type != "application/x-gzip") {
        bodies_.emplace(vellix::formats::OEBFFDecodeHref(href), range);
      }
    }
  }

  // The package document's bytes; nullopt when the container holds none.
  std::optional<Status> Package(std::string& bytes) {
    if (!package_) return std::nullopt;
    return ReadRange(*package_, path_, bytes);
  }
  Status Read(const std::string& href, std::string& bytes) override {
    auto it = bodies_.find(href);
    if (it == bodies_.end()) return {Status::Code::kNotFound, "not found", href};
    return ReadRange(it->second, href, bytes);
  }
  uint64_t SizeOf(const std::string& href) const {
    auto it = bodies_.find(href);
    return it == bodies_.end() ? 0 : static_cast<uint64_t>(it->second.length);
  }

 private:
  struct Range {
    int64_t start;
    int64_t length;
  };
  Status ReadRange(const Range& range, const std::string& href, std::string& bytes) {
    if (range.start < 0 || range.length < 0) return Truncated(href, range);
    if (static_cast<uint64_t>(range.length) > kMaxSourceFileBytes) return TooLarge(href);
    try {
      vellix::formats::InputFile file(path_);
      bytes = file.ReadUpTo(static_cast<uint64_t>(range.start), static_cast<size_t>(range.length));
      // The container was cut short after it was parsed.
      if (bytes.size() != static_cast<size_t>(range.length)) return Truncated(href, range);
      return {};
    } catch (const vellix::formats::AutomationError& e) {
      if (e.number() == vellix::formats::kPermissionDenied)
        return {Status::Code::kPermissionDenied, "cannot be read: permission denied (" + path_ + ")", href};
      return {Status::Code::kIOError, "cannot be read: " + e.description() + " (" + path_ + ")", href};
    }
  }
  Status Truncated(const std::string& href, const Range& range) const {
    return {Status::Code::kTruncated, "is cut short: the container \"" + path_ + "\" ends inside this part", href,
            range.start};
  }

  std::string path_;
  std::optional<Range> package_;
  std::map<std::string, Range> bodies_;
};

// The names a project's sources have inside its container: a source in
// the project's folder keeps its href there; one outside it is packed under
// its base name, made unique among the container's names ("ch1-2.htm").
struct PackedSources {
  std::vector<std::string> hrefs;              // per source
  std::map<std::string, std::string> outside;  // container href -> the file
};

PackedSources PackSources(const CBookParams& params) {
  PackedSources packed;
  std::set<std::string> taken;
  std::vector<std::string> saved;
  for (size_t i = 0; i < params.NumSources(); ++i) {
    saved.push_back(SourceHrefToSave(params.Source(i)->file_name, params.BaseDirectory()));
    if (SourceNameFromHref(saved.back()) == saved.back()) taken.insert(saved.back());
  }
  for (const ProjectResource& resource : params.Resources()) taken.insert(resource.href);
  for (const std::string& href : saved) {
    std::string path = SourceNameFromHref(href);
    if (path == href) {
      packed.hrefs.push_back(href);
      continue;
    }
    std::filesystem::path file(path);
    std::string stem = file.stem().string(), extension = file.extension().string();
    std::string name = file.filename().string();
    for (int n = 2; name.empty() || !taken.insert(name).second; ++n)
      name = (stem.empty() ? "source" : stem) + "-" + std::to_string(n) + extension;
    packed.outside.emplace(name, path);
    packed.hrefs.push_back(name);
  }
  return packed;
}

// The container's package document read into `params`; a failure names
// the container. Problems of the package document itself go to `helper`.
Status LoadPackageOf(const OEBFFContainerView& container, ContainerFiles& files, CBookParams& params,
                     COEBPackageUIHelper* helper) {
  const std::string& path = container.path;
  if (container.failed && !container.unfinished_part.empty()) {
    // No source entry exists yet to carry the part's name, so the text does.
    return {Status::Code::kTruncated,
            "the container \"" + path + "\" ends inside the part \"" + container.unfinished_part + "\"", path};
  }
  if (container.failed || !container.root) return {Status::Code::kFailed, UnreadableContainerText(container), path};
  std::string package;
  std::optional<Status> read = files.Package(package);
  if (!read) return {Status::Code::kFailed, "the container holds no package document", path};
  if (!read->ok()) return {read->code(), DescribeReadFailure("the package document", *read), path};
  params.SetUIHelper(helper);
  bool loaded = params.LoadFromText(package, path, false);
  params.SetUIHelper(nullptr);
  if (!loaded) return {Status::Code::kFailed, "the container's package document could not be read", path};
  return Status::Ok();
}

}  // namespace

Status LoadContainerPackage(const OEBFFContainerView& container, CBookParams& params) {
  ContainerFiles files(container.path, container.parts);
  return LoadPackageOf(container, files, params, nullptr);
}

COEBFFThread::COEBFFThread(CBookParams* params, void* /*window*/) : params_(params) {}

int COEBFFThread::GenerateOEBFF(bool needs_validation) { return Pack(needs_validation).ok() ? 1 : 0; }

TaskOutcome COEBFFThread::Pack(bool needs_validation) {
  TaskReport report(*this, ProblemLabel(*params_, params_->book_file_name));
  auto failed = [&](const std::string& text) {
    report.Error(text);
    return TaskOutcome{report.Failure(text), {}};
  };
  if (needs_validation) {
    int errors = CheckSources(*params_, -1, *this);
    if (errors > 0) {
      return failed("the container was not written: the check found " + std::to_string(errors) + " error(s)");
    }
  }
  if (!IsPlainFileName(params_->book_file_name)) {
    return failed("\"" + params_->book_file_name + "\" cannot name a container");
  }
  ProjectSources project(*params_);
  const std::string& opf = params_->project_file_path;
  std::string container =
      (std::filesystem::path(project.Resolve(params_->DestDir().empty() ? "." : params_->DestDir())) /
       (params_->book_file_name + ".oeb"))
          .string();
  try {
    if (!params_->Save()) {
      return failed("the package could not be saved at \"" + opf + "\"");
    }
    std::string folder = params_->BaseDirectory().empty() ? "." : params_->BaseDirectory();
    PackedSources packed = PackSources(*params_);
    std::vector<std::pair<std::string, CSourceFile*>> entries;
    for (size_t i = 0; i < params_->NumSources(); ++i) entries.emplace_back(packed.hrefs[i], params_->Source(i));
    report.SetSources(std::move(entries));
    std::optional<std::string> package = ContainerPackageText(*params_, packed.hrefs);
    if (!package) {
      return failed("the package holds text that is not valid UTF-8");
    }
    if (package->find(vellix::formats::OEBFFBodyDelimiter()) != std::string::npos) {
      return failed("the package holds the container's part delimiter and cannot be packed");
    }
    std::vector<vellix::formats::OEBFFManifestPart> parts =
        vellix::formats::ReadOEBFFManifestText(*package, opf, folder);
    std::vector<std::string> inputs{opf};
    for (const vellix::formats::OEBFFManifestPart& part : parts) {
      auto outside = packed.outside.find(part.href);
      if (outside != packed.outside.end()) {
        inputs.push_back(outside->second);
      } else if (part.inside) {
        inputs.push_back((std::filesystem::path(folder) / part.href).string());
      }
    }
    vellix::formats::RefuseOverwritingInput(container, inputs);

    vellix::formats::AtomicFileWriter out(container);
    out.Write(vellix::formats::OEBFFContainerHeader());
    out.Write(vellix::formats::OEBFFPackagePartHeader());
    out.Write(*package);
    const auto count = static_cast<int32_t>(parts.size());
    for (int32_t i = 0; i < count; ++i) {
      const vellix::formats::OEBFFManifestPart& part = parts[i];
      report.SourceStart(part.href, i + 1, count);
      out.Write(vellix::formats::OEBFFFilePartHeader(vellix::formats::Utf8ToCp1252Lossy(part.media_type),
                                                     vellix::formats::Utf8ToCp1252Lossy(part.id), part.href));
      auto outside = packed.outside.find(part.href);
      std::string file =
          outside != packed.outside.end() ? outside->second : (std::filesystem::path(folder) / part.href).string();
      if (outside != packed.outside.end()) {
        // A source the project named outside its folder is part of the
        // book: without it the container would not be whole.
        if (!vellix::formats::IsFile(file)) {
          report.Problem(
              {part.href, "\"" + file + "\" cannot be read, so the container was not written", -1, -1, kSeverityError});
          return TaskOutcome{report.Failure("the container was not written"), {}};
        }
        vellix::formats::AppendOEBFFBody(out, file);
      } else if (!part.inside) {
        report.Problem({part.href, "lies outside the package's folder and is not packed", -1, -1, kSeverityWarning});
      } else if (!vellix::formats::IsFile(file)) {
        report.Problem({part.href, "is missing and is not packed", -1, -1, kSeverityWarning});
      } else {
        vellix::formats::AppendOEBFFBody(out, file);
      }
      report.SourceDone(part.href, i + 1, count);
    }
    out.Write(vellix::formats::OEBFFContainerFooter());
    out.Commit();
  } catch (const vellix::formats::AutomationError& e) {
    return failed("the container could not be written: " + WordsOf(e));
  }
  report.Layout("Wrote " + container);
  return {Status::Ok(), std::filesystem::absolute(container).lexically_normal().string()};
}

COEBFFReaderThread::COEBFFReaderThread(const OEBFFContainerView& container, void* /*window*/) : container_(container) {}

int COEBFFReaderThread::OutputBook() { return BuildResultCode(Build()); }

TaskOutcome COEBFFReaderThread::Build() {
  TaskReport report(*this, LabelOf(dest_name));
  ContainerFiles files(container_.path, container_.parts);
  CBookParams params;
  ReportingHelper helper(report);
  if (Status loaded = LoadPackageOf(container_, files, params, &helper); !loaded.ok()) {
    // The package's own problems have been reported through the helper.
    if (report.errors() == 0) report.Problem({loaded.file(), loaded.message(), -1, -1, kSeverityError});
    return {report.Failure("the book was not written"), {}};
  }

  BuildRequest request;
  request.params = &params;
  request.files = &files;
  for (size_t i = 0; i < params.NumSources(); ++i) {
    CSourceFile* entry = params.Source(i);
    if (entry->IsIncluded()) request.sources.push_back({entry, entry->file_name, files.SizeOf(entry->file_name)});
  }
  request.dest_dir = dest_dir.empty() ? "." : dest_dir;
  request.book_name = dest_name.empty() ? params.book_file_name : dest_name;
  request.log_dir = log_dir;
  request.preview = preview;
  return RunBuild(request, *this);
}

}  // namespace ikutil
