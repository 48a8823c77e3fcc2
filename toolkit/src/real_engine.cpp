// BuildEngine::Real: the book engine's own tasks behind the Builder's seam.
// Each call makes the task with a null window, copies the caller's five
// callback slots into it, runs it and destroys it.
#include <memory>

#include "build_engine.h"

namespace ikpubx {
namespace {

class RealBuild : public EngineBuild {
 public:
  RealBuild(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks) : builder_(params, nullptr) {
    static_cast<ikutil::EngineCallbacks&>(builder_) = callbacks;
  }
  ikutil::TaskOutcome Build(bool preview) override { return builder_.Build(preview); }
  void RequestCancel(bool cancel) override { builder_.RequestCancel(cancel); }

 private:
  ikutil::CBookBuilder builder_;
};

class RealEngine : public BuildEngine {
 public:
  std::unique_ptr<EngineBuild> NewBuild(ikutil::CBookParams* params,
                                        const ikutil::EngineCallbacks& callbacks) override {
    return std::make_unique<RealBuild>(params, callbacks);
  }

  ikutil::TaskOutcome GenerateOEBFF(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks,
                                    bool needs_validation) override {
    ikutil::COEBFFThread packer(params, nullptr);
    static_cast<ikutil::EngineCallbacks&>(packer) = callbacks;
    return packer.Pack(needs_validation);
  }

  ikutil::TaskOutcome Validate(ikutil::CBookParams* params, const ikutil::EngineCallbacks& callbacks,
                               int32_t index) override {
    ikutil::CValidatorThread validator(params, nullptr);
    static_cast<ikutil::EngineCallbacks&>(validator) = callbacks;
    return validator.Check(index);
  }

  ikutil::TaskOutcome BuildFromContainer(const ikutil::OEBFFContainerView& container,
                                         const ikutil::EngineCallbacks& callbacks, bool preview,
                                         const std::string& dest_dir, const std::string& log_dir,
                                         const std::string& dest_name) override {
    ikutil::COEBFFReaderThread reader(container, nullptr);
    static_cast<ikutil::EngineCallbacks&>(reader) = callbacks;
    reader.preview = preview;
    reader.dest_dir = dest_dir;
    reader.log_dir = log_dir;
    reader.dest_name = dest_name;
    return reader.Build();
  }
};

}  // namespace

std::shared_ptr<BuildEngine> BuildEngine::Real() {
  // Stateless: one engine serves every Builder.
  static const std::shared_ptr<BuildEngine> engine = std::make_shared<RealEngine>();
  return engine;
}

}  // namespace ikpubx
