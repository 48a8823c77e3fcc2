#include "project_sources.h"

#include <filesystem>
#include <system_error>

#include "epub_book.h"

namespace ikutil {
namespace {

namespace fs = std::filesystem;

fs::path Absolute(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path.empty() ? "." : path, ec);
  return (ec ? fs::path(path) : absolute).lexically_normal();
}

bool Contains(const fs::path& folder, const fs::path& path) {
  auto f = folder.begin(), p = path.begin();
  for (; f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // the trailing "" of "a/b/"
    if (p == path.end() || *f != *p) return false;
  }
  return true;
}

fs::path CommonFolder(const fs::path& a, const fs::path& b) {
  fs::path common;
  for (auto x = a.begin(), y = b.begin(); x != a.end() && y != b.end() && *x == *y; ++x, ++y) common /= *x;
  return common;
}

}  // namespace

ProjectSources::ProjectSources(const CBookParams& params) : params_(params) {
  fs::path base = Absolute(params.BaseDirectory());
  fs::path root = base;
  // The project is the user's own, like a makefile: its sources may lie
  // anywhere. What they refer to stays in the project's folder or in the
  // folder of a source that lies outside it.
  std::vector<std::string> readable{base.string()};
  for (size_t i = 0; i < params.NumSources(); ++i) {
    fs::path file = (base / params.Source(i)->file_name).lexically_normal();
    if (Contains(base, file)) continue;
    if (!Contains(root, file)) root = CommonFolder(root, file.parent_path());
    readable.push_back(file.parent_path().string());
  }
  // A picture or sheet the package lists one folder up (as the package made
  // from a document lists what its pages share) is read as that one file.
  for (const ProjectResource& resource : params.Resources()) {
    if (!resource.href.starts_with("../") || fs::path(resource.href).is_absolute()) continue;
    fs::path file = (base / resource.href).lexically_normal();
    if (!Contains(base.parent_path(), file)) continue;
    if (!Contains(root, file)) root = CommonFolder(root, file.parent_path());
    readable.push_back(file.string());
  }
  base_ = base.string();
  root_ = root.string();
  if (params.Epub()) {
    auto epub = std::make_unique<EpubSourceFiles>(params.Epub()->container);
    epub_files_ = epub.get();
    files_ = std::move(epub);
    return;
  }
  files_ = std::make_unique<FolderSourceFiles>(root_, std::move(readable));
}

uint64_t ProjectSources::SizeOf(const CSourceFile& entry) const {
  return epub_files_ ? epub_files_->SizeOf(entry.file_name) : entry.FileSize(base_);
}

std::string ProjectSources::HrefOf(const CSourceFile& entry) const {
  if (epub_files_) return entry.file_name;
  fs::path file = (fs::path(base_) / entry.file_name).lexically_normal();
  return file.lexically_relative(root_).generic_string();
}

std::vector<BuildSource> ProjectSources::Included() const {
  std::vector<BuildSource> sources;
  for (size_t i = 0; i < params_.NumSources(); ++i) {
    CSourceFile* entry = params_.Source(i);
    if (entry->IsIncluded()) sources.push_back({entry, HrefOf(*entry), SizeOf(*entry)});
  }
  return sources;
}

std::vector<BuildSource> ProjectSources::Select(int index) const {
  std::vector<BuildSource> sources;
  for (size_t i = 0; i < params_.NumSources(); ++i) {
    CSourceFile* entry = params_.Source(i);
    if (index < 0 || static_cast<size_t>(index) == i) sources.push_back({entry, HrefOf(*entry), SizeOf(*entry)});
  }
  return sources;
}

std::vector<std::string> ProjectSources::KnownHrefs() const {
  std::vector<std::string> hrefs;
  for (size_t i = 0; i < params_.NumSources(); ++i) hrefs.push_back(HrefOf(*params_.Source(i)));
  // Resources are the package's own and count only inside its folder.
  for (const ProjectResource& resource : params_.Resources()) {
    fs::path file = (fs::path(base_) / resource.href).lexically_normal();
    if (!fs::path(resource.href).is_absolute() && Contains(fs::path(base_), file))
      hrefs.push_back(file.lexically_relative(root_).generic_string());
  }
  return hrefs;
}

std::string ProjectSources::Resolve(const std::string& folder) const { return ResolveAgainst(base_, folder); }

}  // namespace ikutil
