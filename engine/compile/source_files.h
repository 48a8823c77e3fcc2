// Where a build reads its sources and resources from: a package's folder,
// or the bodies of an OEBFF container.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ikutil {

class SourceFiles {
 public:
  virtual ~SourceFiles() = default;
  // The bytes of `href` (relative to the package document, '/'-separated,
  // %XX escapes already decoded, no fragment); nullopt when there is no
  // such file or the href would leave the package's folder.
  virtual std::optional<std::string> Read(const std::string& href) = 0;
  // A name for messages ("story.htm").
  virtual std::string DisplayName(const std::string& href) const { return href; }
};

// Files under one folder. Absolute hrefs, and relative ones that climb
// above the folder (after resolving symbolic links), are refused.
class FolderSourceFiles : public SourceFiles {
 public:
  explicit FolderSourceFiles(std::string folder);
  std::optional<std::string> Read(const std::string& href) override;

 private:
  std::string folder_;
};

// Files held in memory, by href: documents built by a program (and tests).
class MemorySourceFiles : public SourceFiles {
 public:
  std::map<std::string, std::string> files;
  std::optional<std::string> Read(const std::string& href) override {
    auto it = files.find(href);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
};

// True when `href` starts with a URI scheme ("http:", "mailto:").
bool HasScheme(std::string_view href);

// Resolves `href` found in the document `from_href` (both package-relative)
// into a package-relative href: "../" and "./" folded, fragment and query
// dropped, %XX decoded. nullopt for an address with a scheme, or one that
// climbs above the package.
std::optional<std::string> ResolveHref(const std::string& from_href, const std::string& href);

}  // namespace ikutil
