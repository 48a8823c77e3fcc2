// An EPUB book as the engine reads it: the package document of EPUB 2
// (OPF 2.0 with an NCX) or EPUB 3 (OPF 3.0 with a navigation document),
// read from its container (vellix/formats/ocf_container.h).
//
// What it gives: the title, the author (the first creator whose role is
// "aut", else the first creator without a role, else the first creator)
// with the name parts taken from its file-as form when there is one, the
// language, the unique identifier, the first subject as the category, the
// manifest, the spine (items marked linear="no" after the linear ones) and
// the table of contents with its labels and levels (the navigation
// document's when there is one, else the NCX's).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "compiler.h"
#include "source_files.h"
#include "vellix/formats/ocf_container.h"

namespace ikutil {

struct EpubManifestItem {
  std::string id;
  std::string href;  // relative to the package document, decoded
  std::string media_type;
  std::string properties;
};

using EpubContentsEntry = ContentsTarget;

// A book file holds at most this many resources, so a package whose
// manifest or spine names more is refused before any of it is compiled.
inline constexpr size_t kMaxEpubItems = 65535;

struct EpubBook {
  int version = 2;
  std::string path;  // the book file, for messages
  std::string title;
  std::string author;  // as the book shows it
  std::string author_first, author_middle, author_last;
  std::string language;
  std::string identifier;
  std::string category;
  std::vector<EpubManifestItem> manifest;
  std::vector<std::string> spine;  // hrefs of the documents, in reading order
  std::vector<EpubContentsEntry> contents;
  std::vector<std::string> warnings;  // what was left out, for the log
  std::shared_ptr<const vellix::formats::OcfContainer> container;
};

struct EpubReadResult {
  std::shared_ptr<const EpubBook> book;  // null when refused
  std::string error;
};

// Opens the container at `path` and reads its package. Never throws.
// With `package_only`, only the package document is inflated: the book's
// metadata and spine are read, its contents and documents are not.
EpubReadResult ReadEpubBook(const std::string& path, bool package_only = false);
// Reads the package of a container already open; `path` names it.
EpubReadResult ReadEpubPackage(std::shared_ptr<const vellix::formats::OcfContainer> container, const std::string& path);

// The files of an EPUB book, by href relative to its package document.
class EpubSourceFiles : public SourceFiles {
 public:
  explicit EpubSourceFiles(std::shared_ptr<const vellix::formats::OcfContainer> container);
  Status Read(const std::string& href, std::string& bytes) override;
  size_t MayClimb() const override;
  uint64_t SizeOf(const std::string& href) const;

 private:
  std::shared_ptr<const vellix::formats::OcfContainer> container_;
  std::string folder_;
};

// True for the media types of documents the compiler reads.
bool IsEpubDocumentType(const std::string& media_type);

}  // namespace ikutil
