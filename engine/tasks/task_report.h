// What every engine task tells its caller while it works: problems,
// progress and layout messages, through the five callback slots, and the
// lines of the build log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler.h"
#include "ikutil/callbacks.h"
#include "ikutil/params.h"
#include "ikutil/status.h"
#include "vellix/formats/error.h"

namespace ikutil {

// What names a task's problems that belong to no file: the project file
// when the project was loaded from one, else `book_name` ("book" when
// empty). The project's default book name is no file a user would know.
std::string ProblemLabel(const CBookParams& params, const std::string& book_name);

class TaskReport {
 public:
  // `label` names the task's problems that belong to no file (the book).
  TaskReport(const EngineCallbacks& callbacks, std::string label);

  // The entry a problem of `href` belongs to; `current` is the source being
  // worked on, for problems that name no file.
  void SetSources(const std::vector<std::pair<std::string, CSourceFile*>>& sources);
  void SetCurrent(CSourceFile* current) { current_ = current; }

  // Calls the error callback with "<file>: <text> (Line <n>, Col <m>)".
  void Problem(const ikutil::Problem& problem);
  void Error(const std::string& text) { Problem({label_, text, -1, -1, kSeverityError}); }
  void Warning(const std::string& text) { Problem({label_, text, -1, -1, kSeverityWarning}); }
  void Layout(const std::string& message);
  void SourceStart(const std::string& file, int32_t number, int32_t total);
  void SourceDone(const std::string& file, int32_t number, int32_t total);
  // Keeps the count monotone and within the total.
  void Progress(uint64_t parsed, uint64_t total);
  // Whether the caller can tell which characters the device's faces show,
  // and whether they show `c` (true when it cannot tell).
  bool ChecksGlyphs() const { return callbacks_.glyph_coverage_callback != nullptr; }
  bool Shows(uint32_t c) const {
    return !ChecksGlyphs() || callbacks_.glyph_coverage_callback(c, callbacks_.glyph_coverage_context);
  }

  int errors() const { return errors_; }
  const std::vector<std::string>& log() const { return log_; }
  // The task's failure as its caller hears it: the first error reported
  // (its file and words), else `fallback` about the task's label.
  Status Failure(const std::string& fallback, Status::Code code = Status::Code::kFailed) const;

 private:
  EngineCallbacks callbacks_;
  std::string label_;
  std::unordered_map<std::string, CSourceFile*> sources_;  // the last entry of each href
  CSourceFile* current_ = nullptr;
  uint32_t last_progress_ = 0;
  int errors_ = 0;
  std::optional<ikutil::Problem> first_error_;
  std::vector<std::string> log_;
};

// A failure of the formats module in words for the user, without its
// number: "Path not found: <path>"; the detail alone where the standard
// description tells nothing of the cause.
std::string WordsOf(const vellix::formats::AutomationError& error);

// "<file>: <text>", with " (Line <n>, Col <m>)" when the problem has a place.
std::string ProblemMessage(const ikutil::Problem& problem);

}  // namespace ikutil
