// The engine as the Builder drives it, each task answering its outcome. The real one runs the book engine's
// tasks; a test can put a scripted one in its place to produce exact
// callback sequences. Internal: the installed headers do not offer it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ikpubx/builder.h"
#include "ikutil/builder.h"
#include "ikutil/callbacks.h"
#include "ikutil/params.h"

namespace ikpubx {

// One build in progress (the engine's CBookBuilder).
class EngineBuild {
 public:
  virtual ~EngineBuild() = default;
  virtual ikutil::TaskOutcome Build(bool preview) = 0;
  virtual void RequestCancel(bool cancel) = 0;
};

class BuildEngine {
 public:
  virtual ~BuildEngine() = default;
  virtual std::unique_ptr<EngineBuild> NewBuild(ikutil::CBookParams* params,
                                                const ikutil::EngineCallbacks& callbacks) = 0;
  virtual ikutil::TaskOutcome GenerateOEBFF(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks,
                                            bool needs_validation) = 0;
  virtual ikutil::TaskOutcome Validate(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks,
                                       int32_t index) = 0;
  virtual ikutil::TaskOutcome BuildFromContainer(const ikutil::OEBFFContainerView& container,
                                                 const ikutil::EngineCallbacks& callbacks, bool preview,
                                                 const std::string& dest_dir, const std::string& log_dir,
                                                 const std::string& dest_name) = 0;

  // The book engine itself.
  static std::shared_ptr<BuildEngine> Real();
};

// A Builder over `engine`, which tests script.
std::shared_ptr<IBuilder> NewBuilder(std::shared_ptr<BuildEngine> engine);

}  // namespace ikpubx
