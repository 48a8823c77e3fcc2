#include "source_files.h"

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/oebff_writer.h"

namespace ikutil {
namespace {

// Folds "." and ".." and empty segments of a '/'-separated relative path;
// nullopt when it climbs more than `may_climb` folders above its start (the
// climbs it may make stay as leading "../").
std::optional<std::string> FoldSegments(std::string_view path, size_t may_climb = 0) {
  std::vector<std::string_view> kept;
  size_t climbed = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view segment = path.substr(start, slash - start);
    if (segment == "..") {
      if (kept.size() > climbed) {
        kept.pop_back();
      } else if (climbed < may_climb) {
        kept.push_back(segment);
        ++climbed;
      } else {
        return std::nullopt;
      }
    } else if (!segment.empty() && segment != ".") {
      kept.push_back(segment);
    }
    start = slash + 1;
  }
  std::string out;
  for (std::string_view segment : kept) {
    if (!out.empty()) out += '/';
    out += segment;
  }
  return out;
}

// True when `path` is `folder` or lies below it (both canonical).
bool Within(const std::filesystem::path& folder, const std::filesystem::path& path) {
  auto f = folder.begin();
  auto p = path.begin();
  for (; f != folder.end(); ++f, ++p) {
    if (f->empty() && std::next(f) == folder.end()) break;  // a trailing separator
    if (p == path.end() || *f != *p) return false;
  }
  return true;
}

}  // namespace

Status TooLarge(const std::string& href) {
  return {Status::Code::kTooLarge, "is larger than " + std::to_string(kMaxSourceFileBytes >> 20) + " MiB", href};
}

std::string DescribeReadFailure(std::string_view what, const Status& status) {
  return std::string(what) + " " + status.message();
}

bool HasScheme(std::string_view href) {
  for (size_t i = 0; i < href.size(); ++i) {
    char c = href[i];
    if (c == ':') return i > 0;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    if (!letter && !(i > 0 && (digit || c == '+' || c == '-' || c == '.'))) return false;
  }
  return false;
}

FolderSourceFiles::FolderSourceFiles(std::string folder, std::vector<std::string> readable)
    : folder_(std::move(folder)), readable_(std::move(readable)) {}

Status FolderSourceFiles::Read(const std::string& href, std::string& bytes) {
  const Status outside(Status::Code::kOutside, "lies outside the package's folder", href);
  if (href.empty() || href[0] == '/' || href.find('\0') != std::string::npos) return outside;
  std::optional<std::string> folded = FoldSegments(href);
  if (!folded || folded->empty()) return outside;
  std::error_code ec;
  if (!resolved_) {
    root_ = std::filesystem::weakly_canonical(folder_, ec);
    if (ec) return {Status::Code::kNotFound, "not found (the folder \"" + folder_ + "\" cannot be read)", href};
    for (const std::string& folder : readable_) {
      std::filesystem::path canonical = std::filesystem::weakly_canonical(folder, ec);
      if (!ec) readable_roots_.push_back(canonical);
    }
    if (readable_.empty()) readable_roots_.push_back(root_);
    resolved_ = true;
  }
  // Symbolic links are followed before the check, so one that points out
  // of the folder is refused like a "../" would be.
  std::filesystem::path target = std::filesystem::weakly_canonical(root_ / *folded, ec);
  if (ec) return {Status::Code::kNotFound, "not found", href};
  bool readable = false;
  for (const std::filesystem::path& folder : readable_roots_) readable = readable || Within(folder, target);
  if (!readable) return outside;
  try {
    bool is_folder = false;
    std::unique_ptr<vellix::formats::InputFile> file =
        vellix::formats::InputFile::OpenIfFile(target.string(), is_folder);
    if (!file && is_folder) return {Status::Code::kNotAFile, "is a folder, not a file", href};
    if (!file) {
      bool exists = std::filesystem::exists(target, ec);
      return exists ? Status(Status::Code::kNotAFile, "is not a regular file", href)
                    : Status(Status::Code::kNotFound, "not found", href);
    }
    if (file->size() > kMaxSourceFileBytes) return TooLarge(href);
    bytes = file->ReadUpTo(0, static_cast<size_t>(file->size()));
    if (bytes.size() != file->size())
      return {Status::Code::kIOError, "ended while it was read (the file changed)", href};
    return {};
  } catch (const vellix::formats::AutomationError& e) {
    if (e.number() == vellix::formats::kPermissionDenied)
      return {Status::Code::kPermissionDenied, "cannot be read: permission denied", href};
    return {Status::Code::kIOError, "cannot be read: " + e.description(), href};
  }
}

std::optional<std::string> ResolveHref(const std::string& from_href, const std::string& href, size_t may_climb) {
  std::string_view rest = href;
  size_t cut = rest.find_first_of("#?");
  if (cut != std::string_view::npos) rest = rest.substr(0, cut);
  if (HasScheme(rest)) return std::nullopt;
  std::string decoded = vellix::formats::OEBFFDecodeHref(rest);
  if (!decoded.empty() && decoded[0] == '/') return std::nullopt;
  if (decoded.empty()) return FoldSegments(from_href, may_climb);  // the referring document itself
  size_t slash = from_href.rfind('/');
  std::string base = slash == std::string::npos ? std::string() : from_href.substr(0, slash + 1);
  return FoldSegments(base + decoded, may_climb);
}

}  // namespace ikutil
