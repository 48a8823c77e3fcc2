// One build of a device book: the sources compiled in order into an
// edition, written as a book file, with a build log. Shared by the builder
// (sources in a folder) and the container reader (sources in a container).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compiler.h"
#include "ikutil/builder.h"
#include "ikutil/callbacks.h"
#include "ikutil/params.h"
#include "ikutil/status.h"
#include "source_files.h"

namespace ikutil {

struct BuildSource {
  CSourceFile* entry = nullptr;
  std::string href;   // where `files` finds it
  uint64_t size = 0;  // its bytes, for the progress counts
};

struct BuildRequest {
  const CBookParams* params = nullptr;
  SourceFiles* files = nullptr;
  std::vector<BuildSource> sources;  // the included ones, in order
  std::string dest_dir;              // absolute or relative to the current directory
  std::string book_name;             // the book file's base name
  std::string log_dir;               // empty: no log
  bool preview = false;
  std::function<bool()> cancelled;
  // An EPUB book's own table of contents (null: the headings make it), its
  // sheets read as foreign ones, and what its reading left out.
  const std::vector<ContentsTarget>* contents = nullptr;
  bool foreign_css = false;
  std::vector<std::string> notes;
};

// Success with the book file written, kCancelled or kFailed (its problems
// reported through `callbacks`, the first of them in the status); on
// failure nothing is left at the destination (a book that was there before
// stays).
TaskOutcome RunBuild(const BuildRequest& request, const EngineCallbacks& callbacks);

// The number the builders' OutputBook answers for `outcome`: 0 success, 2
// cancelled, 1 any other failure.
inline int BuildResultCode(const TaskOutcome& outcome) {
  if (outcome.ok()) return 0;
  return outcome.status.code() == Status::Code::kCancelled ? 2 : 1;
}

// True for a name that stays in its folder: not empty, no '/', no NUL,
// not "." or "..".
bool IsPlainFileName(const std::string& name);

// `path` when absolute; else `base` joined with it (`base` empty: as is).
std::string ResolveAgainst(const std::string& base, const std::string& path);

}  // namespace ikutil
