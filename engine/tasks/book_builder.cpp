#include <filesystem>
#include <system_error>

#include "build_run.h"
#include "epub_book.h"
#include "ikutil/builder.h"
#include "project_sources.h"

namespace ikutil {

CBookBuilder::CBookBuilder(CBookParams* params, void* /*window*/) : params_(params) {}

int CBookBuilder::OutputBook(bool preview, bool /*unused*/) { return BuildResultCode(Build(preview)); }

TaskOutcome CBookBuilder::Build(bool preview) {
  cancel_requested_ = false;
  ProjectSources project(*params_);
  BuildRequest request;
  request.params = params_;
  request.files = &project.files();
  request.sources = project.Included();
  request.dest_dir = project.Resolve(params_->DestDir().empty() ? "." : params_->DestDir());
  request.book_name = params_->book_file_name;
  // A project that names no book (one made from documents alone) is named
  // after its first source.
  if (request.book_name.empty() && !request.sources.empty())
    request.book_name = std::filesystem::path(request.sources.front().href).stem().string();
  if (params_->logging && !params_->LogDir().empty()) request.log_dir = project.Resolve(params_->LogDir());
  request.preview = preview;
  request.cancelled = [this] { return cancel_requested_.load(); };
  if (const auto& epub = params_->Epub()) {
    request.contents = &epub->contents;
    request.foreign_css = true;
    request.notes = epub->warnings;
  }
  return RunBuild(request, *this);
}

}  // namespace ikutil
