#include <string>
#include <unordered_set>
#include <vector>

#include "compiler.h"
#include "ikutil/builder.h"
#include "project_sources.h"
#include "task_report.h"

namespace ikutil {

int CheckSources(const CBookParams& params, int32_t index, const EngineCallbacks& callbacks, Status* failure) {
  ProjectSources project(params);
  std::vector<BuildSource> sources = project.Select(index);
  TaskReport report(callbacks, ProblemLabel(params, params.book_file_name));
  std::vector<std::pair<std::string, CSourceFile*>> entries;
  for (const BuildSource& source : sources) entries.emplace_back(source.href, source.entry);
  report.SetSources(std::move(entries));
  // Made once for every document: a check of many sources costs in
  // proportion to their number.
  const std::vector<std::string> hrefs = project.KnownHrefs();
  const std::unordered_set<std::string> known(hrefs.begin(), hrefs.end());
  const auto count = static_cast<int32_t>(sources.size());
  uint64_t total = 0, done = 0;
  for (const BuildSource& source : sources) total += source.size;
  for (int32_t i = 0; i < count; ++i) {
    report.SetCurrent(sources[i].entry);
    report.SourceStart(sources[i].href, i + 1, count);
    try {
      CheckDocument(project.files(), sources[i].href, known, [&](const Problem& p) { report.Problem(p); });
    } catch (const std::bad_alloc&) {
      report.Problem({sources[i].href, "out of memory while checking", -1, -1, kSeverityError});
    }
    done += sources[i].size;
    report.Progress(done, total);
    report.SourceDone(sources[i].href, i + 1, count);
  }
  if (failure) *failure = report.errors() == 0 ? Status::Ok() : report.Failure("the check found an error");
  return report.errors();
}

CValidatorThread::CValidatorThread(CBookParams* params, void* /*window*/) : params_(params) {}

TaskOutcome CValidatorThread::Check(int32_t index) {
  TaskOutcome outcome;
  CheckSources(*params_, index, *this, &outcome.status);
  return outcome;
}

}  // namespace ikutil
