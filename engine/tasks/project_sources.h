// A project's sources as a build sees them: one folder that holds them all,
// and each included source's href in it.
//
// The folder is the project's own (the project file's folder, or the
// current directory). Sources that the package lists must lie inside it;
// a source the caller named directly by path (an entry without a manifest
// item) may lie elsewhere, and then the folder grows to the nearest one
// that holds it too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "build_run.h"
#include "ikutil/callbacks.h"
#include "ikutil/params.h"
#include "source_files.h"

namespace ikutil {

class ProjectSources {
 public:
  explicit ProjectSources(const CBookParams& params);

  SourceFiles& files() { return *files_; }
  const std::string& root() const { return root_; }
  // The included sources, in list order.
  std::vector<BuildSource> Included() const;
  // Every source (`index` < 0), or the one at `index` (none past the list),
  // included or not.
  std::vector<BuildSource> Select(int index) const;
  // Every href of the package: sources and resources.
  std::vector<std::string> KnownHrefs() const;
  // A folder named in the project, relative to the project's folder.
  std::string Resolve(const std::string& folder) const;

 private:
  std::string HrefOf(const CSourceFile& entry) const;

  const CBookParams& params_;
  std::string base_;  // the project's folder, absolute
  std::string root_;  // the folder the sources are read from, absolute
  std::unique_ptr<FolderSourceFiles> files_;
};

// The checks of every source (`index` < 0) or of the one at `index`, with
// each problem through the error callback; returns the errors found.
int CheckSources(const CBookParams& params, int32_t index, const EngineCallbacks& callbacks);

}  // namespace ikutil
