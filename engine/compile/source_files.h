// Where a build reads its sources and resources from: a package's folder,
// or the bodies of an OEBFF container.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ikutil/status.h"

namespace ikutil {

// The most a source, sheet or image may hold; a bigger file is refused
// rather than read into memory.
inline constexpr uint64_t kMaxSourceFileBytes = 256ull << 20;

class SourceFiles {
 public:
  virtual ~SourceFiles() = default;
  // Reads the bytes of `href` (relative to the package document,
  // '/'-separated, %XX escapes already decoded, no fragment) into `bytes`.
  // A failure says why, naming `href`: not found, outside the package, not
  // a file, permission denied, too large, truncated or an I/O error.
  virtual Status Read(const std::string& href, std::string& bytes) = 0;
  // A name for messages ("story.htm").
  virtual std::string DisplayName(const std::string& href) const { return href; }
  // How many folders an href may climb above the package document's and
  // still name one of these files (a package kept in a folder of its
  // container reaches the container's other folders).
  virtual size_t MayClimb() const { return 0; }
};

// Files under one folder. Absolute hrefs, and relative ones that climb
// above the folder (after resolving symbolic links), are refused. With
// `readable` folders given, only files inside one of them are read: a
// project whose sources lie in several places reads from their common
// folder, but only from the places the project named.
class FolderSourceFiles : public SourceFiles {
 public:
  explicit FolderSourceFiles(std::string folder, std::vector<std::string> readable = {});
  Status Read(const std::string& href, std::string& bytes) override;

 private:
  std::string folder_;
  std::vector<std::string> readable_;
  // Canonical forms, made at the first read.
  bool resolved_ = false;
  std::filesystem::path root_;
  std::vector<std::filesystem::path> readable_roots_;
};

// Files held in memory, by href: documents built by a program (and tests).
class MemorySourceFiles : public SourceFiles {
 public:
  std::map<std::string, std::string> files;
  Status Read(const std::string& href, std::string& bytes) override {
    auto it = files.find(href);
    if (it == files.end()) return {Status::Code::kNotFound, "not found", href};
    bytes = it->second;
    return {};
  }
};

// The refusal of `href` for holding more than kMaxSourceFileBytes.
Status TooLarge(const std::string& href);

// "document not found", "image \"a.png\" cannot be read: permission
// denied": what could not be read, and why.
std::string DescribeReadFailure(std::string_view what, const Status& status);

// True when `href` starts with a URI scheme ("http:", "mailto:").
bool HasScheme(std::string_view href);

// Resolves `href` found in the document `from_href` (both package-relative)
// into a package-relative href: "../" and "./" folded, fragment and query
// dropped, %XX decoded. nullopt for an address with a scheme, or one that
// climbs above the package by more than `may_climb` folders (those it may
// climb stay as leading "../", so one file has one href).
std::optional<std::string> ResolveHref(const std::string& from_href, const std::string& href, size_t may_climb = 0);

}  // namespace ikutil
