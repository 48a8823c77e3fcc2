#include "build_run.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "compiler.h"
#include "ikutil/device_edition.h"
#include "task_report.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"

namespace ikutil {
namespace {

BookInformation InformationOf(const CBookParams& params, const std::string& book_name, TaskReport& report) {
  BookInformation info;
  info.book_id = params.book_id;
  info.category = params.category;
  info.sub_category = params.sub_category;
  info.title = params.book_title;
  info.author_last_name = params.author_last_name;
  info.author_middle_name = params.author_middle_name;
  info.author_first_name = params.author_first_name;
  info.folder_name = book_name + ".RES";
  if (params.is_periodical) {
    const std::string& issue = params.current_issue;
    std::optional<uint64_t> number = issue.size() <= 9 ? vellix::formats::DecimalNumber(issue) : std::nullopt;
    if (!number || *number == 0) {
      report.Warning("the current issue \"" + issue +
                     "\" is not a positive number; the book is not marked as a periodical");
    } else {
      info.periodical = true;
      info.issue = static_cast<uint32_t>(*number);
      info.content_feed_id = params.content_feed_id;
    }
  }
  return info;
}

EditionSettings SettingsOf(const CBookParams& params, bool preview) {
  EditionSettings settings;
  settings.widow_lines = static_cast<uint8_t>(std::clamp<int32_t>(params.widow_lines & 0xFFFF, 0, 255));
  settings.orphan_lines = static_cast<uint8_t>(std::clamp<int32_t>(params.orphan_lines & 0xFFFF, 0, 255));
  settings.zoom_states = static_cast<uint8_t>(std::clamp<int32_t>(params.zoom, 0, 2));
  settings.underline_links = params.underline_links != 0;
  settings.preview = preview;
  return settings;
}

void WriteLog(const std::string& path, const std::vector<std::string>& lines, TaskReport& report) {
  try {
    // The log can be made again by building again: not synced.
    vellix::formats::AtomicFileWriter out(path, vellix::formats::Durability::kUnsynced);
    for (const std::string& line : lines) out.Write(line + "\n");
    out.Commit();
  } catch (const vellix::formats::AutomationError& e) {
    report.Warning("the build log could not be written: " + WordsOf(e));
  }
}

// Names, once for the book, the characters no face of the device has:
// where the source has them the page would show nothing a reader can read.
void WarnOfMissingGlyphs(const DeviceEdition& edition, TaskReport& report) {
  if (!report.ChecksGlyphs()) return;
  std::vector<bool> seen(0x10000);
  std::set<UChar32> seen_beyond;
  std::vector<UChar32> missing;
  auto check = [&](std::string_view text) {
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
      if (static_cast<unsigned char>(text[static_cast<size_t>(i)]) < 0x80) {  // the faces have ASCII
        ++i;
        continue;
      }
      UChar32 c;
      U8_NEXT(text.data(), i, length, c);
      if (c < 0) continue;
      if (c < 0x10000 ? seen[static_cast<size_t>(c)] : !seen_beyond.insert(c).second) continue;
      if (c < 0x10000) seen[static_cast<size_t>(c)] = true;
      const int8_t type = u_charType(c);
      if (type == U_CONTROL_CHAR || type == U_FORMAT_CHAR || type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR ||
          type == U_PARAGRAPH_SEPARATOR)
        continue;  // nothing to draw
      if (!report.Shows(static_cast<uint32_t>(c))) missing.push_back(c);
    }
  };
  for (const Block& block : edition.blocks) {
    check(block.marker);
    for (const Run& run : block.runs) check(run.text);
  }
  if (missing.empty()) return;
  std::sort(missing.begin(), missing.end());
  constexpr size_t kNamed = 12;
  std::string names;
  for (size_t i = 0; i < missing.size() && i < kNamed; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(missing[i]));
    std::string character;
    if (u_isgraph(missing[i])) {
      char bytes[4];
      int32_t n = 0;
      U8_APPEND_UNSAFE(bytes, n, missing[i]);
      character = " \"" + std::string(bytes, static_cast<size_t>(n)) + "\"";
    }
    names += (i > 0 ? ", " : "") + std::string(code) + character;
  }
  if (missing.size() > kNamed) names += " and " + std::to_string(missing.size() - kNamed) + " more";
  report.Warning("no font of the device has " +
                 (missing.size() == 1 ? std::string("a character") : std::to_string(missing.size()) + " characters") +
                 " of the book, which the pages cannot show: " + names);
}

Status Build(const BuildRequest& request, TaskReport& report, std::string& written) {
  auto failed_build = [&] { return report.Failure("the book was not written"); };
  const Status cancelled(Status::Code::kCancelled, "the build was cancelled", request.book_name);
  const CBookParams& params = *request.params;
  if (!IsPlainFileName(request.book_name)) {
    report.Error("\"" + request.book_name + "\" cannot name a book file");
    return failed_build();
  }
  if (!vellix::formats::IsFolder(request.dest_dir.empty() ? "." : request.dest_dir)) {
    report.Error("the destination folder \"" + request.dest_dir + "\" does not exist");
    return failed_build();
  }
  if (request.sources.empty()) {
    report.Error("the project has no sources to build");
    return failed_build();
  }
  if (params.encrypt)
    report.Warning("encryption needs the device's key, which this build does not have; the book is not encrypted");

  uint64_t total = 0;
  for (const BuildSource& source : request.sources) total += source.size;

  CompileSettings settings;
  settings.css_support = params.css;
  settings.underline_links = params.underline_links != 0;
  settings.cancelled = request.cancelled;
  uint64_t done = 0;
  settings.progress = [&](uint64_t parsed) { report.Progress(done + parsed, total); };
  settings.foreign_css = request.foreign_css;
  EditionCompiler compiler(*request.files, settings, [&](const Problem& p) { report.Problem(p); });
  if (request.contents) compiler.SetContents(*request.contents);
  for (const std::string& note : request.notes) report.Problem({request.book_name, note, -1, -1, 0});

  const auto count = static_cast<int32_t>(request.sources.size());
  bool failed = false;
  for (int32_t i = 0; i < count; ++i) {
    const BuildSource& source = request.sources[i];
    if (request.cancelled && request.cancelled()) return cancelled;
    report.SetCurrent(source.entry);
    report.SourceStart(source.href, i + 1, count);
    CompileStatus status = compiler.AddDocument(source.href);
    if (status == CompileStatus::kCancelled) return cancelled;
    if (status == CompileStatus::kFailed) failed = true;
    done += source.size;
    report.Progress(done, total);
    report.SourceDone(source.href, i + 1, count);
  }
  report.SetCurrent(nullptr);
  if (failed) {
    report.Layout("The book was not written: a source could not be read.");
    return failed_build();
  }

  report.Layout("Laying out the book");
  DeviceEdition edition = compiler.Finish();
  edition.settings = SettingsOf(params, request.preview);
  // The package's language, else its first document's; a book that names
  // none is read as the device's own, so that its pages are hyphenated as
  // English rather than not at all.
  if (!params.language.empty()) edition.language = params.language;
  if (edition.language.empty()) edition.language = "en";
  WarnOfMissingGlyphs(edition, report);
  report.Layout(std::to_string(edition.blocks.size()) + " blocks, " + std::to_string(edition.images.size()) +
                " images, " + std::to_string(edition.links.size()) + " links, " + std::to_string(edition.toc.size()) +
                " contents entries");
  if (request.cancelled && request.cancelled()) return cancelled;

  WriteOptions options;
  options.compress = params.compress != 0;
  options.rle_trigger = params.rle_trigger;
  std::string dest = (std::filesystem::path(request.dest_dir) / (request.book_name + ".imp")).string();
  try {
    WriteDeviceBook(edition, InformationOf(params, request.book_name, report), options, dest);
  } catch (const vellix::formats::AutomationError& e) {
    report.Problem({dest, "the book file could not be written: " + WordsOf(e), -1, -1, kSeverityError});
    return failed_build();
  }
  report.Layout("Wrote " + dest);
  written = std::filesystem::absolute(dest).lexically_normal().string();
  return Status::Ok();
}

}  // namespace

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string ResolveAgainst(const std::string& base, const std::string& path) {
  if (path.empty() || path[0] == '/' || base.empty()) return path;
  return (std::filesystem::path(base) / path).string();
}

TaskOutcome RunBuild(const BuildRequest& request, const EngineCallbacks& callbacks) {
  TaskReport report(callbacks, request.params != nullptr ? ProblemLabel(*request.params, request.book_name)
                                                         : (request.book_name.empty() ? "book" : request.book_name));
  std::vector<std::pair<std::string, CSourceFile*>> sources;
  for (const BuildSource& source : request.sources) sources.emplace_back(source.href, source.entry);
  report.SetSources(std::move(sources));

  Status result;
  std::string written;
  try {
    result = Build(request, report, written);
  } catch (const std::bad_alloc&) {
    report.Error("out of memory");
    result = Status(Status::Code::kFailed, "out of memory", request.book_name);
  }
  if (result.code() == Status::Code::kCancelled) report.Layout("The build was cancelled; no book was written.");
  if (!request.log_dir.empty() && IsPlainFileName(request.book_name)) {
    if (vellix::formats::IsFolder(request.log_dir)) {
      WriteLog((std::filesystem::path(request.log_dir) / (request.book_name + ".log")).string(), report.log(), report);
    } else {
      report.Warning("the log folder \"" + request.log_dir + "\" does not exist; no build log was written");
    }
  }
  if (!result.ok()) written.clear();
  return {result, written};
}

}  // namespace ikutil
