#include "task_report.h"

#include <algorithm>
#include <limits>

#include "vellix/formats/file_io.h"

namespace ikutil {

std::string ProblemLabel(const CBookParams& params, const std::string& book_name) {
  const std::string& project = params.project_file_path;
  if (!project.empty() && project.back() != '/' && vellix::formats::IsFile(project)) return project;
  return book_name.empty() ? "book" : book_name;
}

TaskReport::TaskReport(const EngineCallbacks& callbacks, std::string label)
    : callbacks_(callbacks), label_(std::move(label)) {}

std::string ProblemMessage(const ikutil::Problem& problem) {
  std::string message = problem.file + ": " + problem.message;
  if (problem.line >= 0)
    message += " (Line " + std::to_string(problem.line) + ", Col " + std::to_string(problem.column) + ")";
  return message;
}

void TaskReport::Problem(const ikutil::Problem& problem) {
  static const char* const kSeverityNames[] = {"information", "warning", "error"};
  if (problem.severity >= kSeverityError && ++errors_ == 1) first_error_ = problem;
  std::string message = ProblemMessage(problem);
  log_.push_back(std::string(kSeverityNames[std::clamp<int>(problem.severity, 0, 2)]) + ": " + message);
  if (!callbacks_.error_callback) return;
  // Every problem names its own file: a source by its entry, anything else
  // (a style sheet, an image, the book being written) by an entry of its
  // own name, so a sheet's line is never read as a line of the document
  // that links it.
  auto found = sources_.find(problem.file);
  CSourceFile* entry = found != sources_.end() ? found->second : nullptr;
  CSourceFile named(problem.file.empty() ? label_ : problem.file);
  if (entry == nullptr) entry = problem.file.empty() && current_ != nullptr ? current_ : &named;
  callbacks_.error_callback(entry, message.c_str(), problem.line, problem.column, problem.severity,
                            callbacks_.error_context);
}

std::string WordsOf(const vellix::formats::AutomationError& error) {
  if (!vellix::formats::DescriptionTellsCause(error.number()))
    return error.detail().empty() ? error.description() : error.detail();
  return error.detail().empty() ? error.description() : error.description() + ": " + error.detail();
}

Status TaskReport::Failure(const std::string& fallback, Status::Code code) const {
  if (!first_error_) return {code, fallback, label_};
  return {code, first_error_->message, first_error_->file.empty() ? label_ : first_error_->file};
}

void TaskReport::SetSources(const std::vector<std::pair<std::string, CSourceFile*>>& sources) {
  sources_.clear();
  sources_.reserve(sources.size());
  for (const auto& [href, entry] : sources) sources_[href] = entry;
}

void TaskReport::Layout(const std::string& message) {
  log_.push_back(message);
  if (callbacks_.layout_message_callback)
    callbacks_.layout_message_callback(message.c_str(), callbacks_.layout_message_context);
}

void TaskReport::SourceStart(const std::string& file, int32_t number, int32_t total) {
  log_.push_back("Source " + std::to_string(number) + " of " + std::to_string(total) + ": " + file);
  if (callbacks_.source_start_callback)
    callbacks_.source_start_callback(file.c_str(), number, total, callbacks_.source_start_context);
}

void TaskReport::SourceDone(const std::string& file, int32_t number, int32_t total) {
  if (callbacks_.source_done_callback)
    callbacks_.source_done_callback(file.c_str(), number, total, callbacks_.source_done_context);
}

void TaskReport::Progress(uint64_t parsed, uint64_t total) {
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  const auto total32 = static_cast<uint32_t>(std::min(total, kMax));
  auto now = static_cast<uint32_t>(std::min({parsed, total, kMax}));
  if (now <= last_progress_) return;  // nothing new
  last_progress_ = now;
  if (callbacks_.parser_progress_callback)
    callbacks_.parser_progress_callback(now, total32, callbacks_.parser_progress_context);
}

}  // namespace ikutil
