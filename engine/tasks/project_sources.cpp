#include "project_sources.h"

#include <filesystem>
#include <system_error>

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
  for (size_t i = 0; i < params.NumSources(); ++i) {
    const CSourceFile& entry = *params.Source(i);
    if (!entry.item_id.empty()) continue;  // a package's own item: it must lie inside
    fs::path file = (base / entry.file_name).lexically_normal();
    if (!Contains(root, file)) root = CommonFolder(root, file.parent_path());
  }
  base_ = base.string();
  root_ = root.string();
  files_ = std::make_unique<FolderSourceFiles>(root_);
}

std::string ProjectSources::HrefOf(const CSourceFile& entry) const {
  fs::path file = (fs::path(base_) / entry.file_name).lexically_normal();
  // A package's item outside the package folder stays refused, as an
  // absolute href, even when the folder grew for another source.
  if (!entry.item_id.empty() && (fs::path(entry.file_name).is_absolute() || !Contains(fs::path(base_), file)))
    return file.string();
  return file.lexically_relative(root_).generic_string();
}

std::vector<BuildSource> ProjectSources::Included() const {
  std::vector<BuildSource> sources;
  for (size_t i = 0; i < params_.NumSources(); ++i) {
    CSourceFile* entry = params_.Source(i);
    if (entry->IsIncluded()) sources.push_back({entry, HrefOf(*entry), entry->FileSize(base_)});
  }
  return sources;
}

std::vector<BuildSource> ProjectSources::Select(int index) const {
  std::vector<BuildSource> sources;
  for (size_t i = 0; i < params_.NumSources(); ++i) {
    CSourceFile* entry = params_.Source(i);
    if (index < 0 || static_cast<size_t>(index) == i)
      sources.push_back({entry, HrefOf(*entry), entry->FileSize(base_)});
  }
  return sources;
}

std::vector<std::string> ProjectSources::KnownHrefs() const {
  std::vector<std::string> hrefs;
  for (size_t i = 0; i < params_.NumSources(); ++i) hrefs.push_back(HrefOf(*params_.Source(i)));
  for (const ProjectResource& resource : params_.Resources()) hrefs.push_back(resource.href);
  return hrefs;
}

std::string ProjectSources::Resolve(const std::string& folder) const { return ResolveAgainst(base_, folder); }

}  // namespace ikutil
