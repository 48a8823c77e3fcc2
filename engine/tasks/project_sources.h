// A project's sources as a build sees them: one folder that holds them all,
// and each included source's href in it.
//
// An EPUB book's sources are read from inside the book.
//
// The folder is the project's own (the project file's folder, or the
// current directory). A source may lie elsewhere (named by an absolute path
// or a "../" one), and then the folder grows to the nearest one that holds
// it too; files are still read only from the project's folder and from the
// folders of such sources. Resources (manifest items outside the spine)
// count only inside the project's folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "build_run.h"
#include "ikutil/callbacks.h"
#include "ikutil/params.h"
#include "ikutil/status.h"
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
  uint64_t SizeOf(const CSourceFile& entry) const;

  const CBookParams& params_;
  std::string base_;  // the project's folder, absolute
  std::string root_;  // the folder the sources are read from, absolute
  std::unique_ptr<SourceFiles> files_;
  const class EpubSourceFiles* epub_files_ = nullptr;  // set when the project is an EPUB book
};

// The checks of every source (`index` < 0) or of the one at `index`, with
// each problem through the error callback; returns the errors found, and
// sets `failure`, when given, to the first of them (success when none).
int CheckSources(const CBookParams& params, int32_t index, const EngineCallbacks& callbacks, Status* failure = nullptr);

}  // namespace ikutil
