// Fills and completes OEB package documents (".opf").
//
// CreatePackage builds the manifest, the spine and the identifiers from one
// source document; CompletePackage adds the identifiers and the build
// settings ("x-IKL-" meta elements) a build needs; SetDirectory records the
// destination and log folders. Each call loads the file, changes it and
// saves it back whole (through a temporary file), so a package on disk is
// complete after every call. Failures throw AutomationError.
#pragma once

#include <cstdint>
#include <string>

#include "vellix/variant.h"

namespace vellix {

class Package : public Object {
 public:
  const std::string& PackagePath() const { return package_path_; }
  void SetPackagePath(const std::string& path) { package_path_ = path; }
  // Recorded for the caller; the package object never reads it.
  const std::string& DefaultPackage() const { return default_package_; }
  void SetDefaultPackage(const std::string& path) { default_package_ = path; }

  // Manifest item identifiers count on from `id`: the next is "i<id+1>".
  void initialID(int16_t id) { counter_ = id; }

  // Adds the source document, its images and the documents it links to
  // (files that exist beside it) to the package at PackagePath(), and fills
  // the identifiers, title, author and existing settings. Does nothing when
  // the package does not parse. Throws 91 for a package without spine,
  // manifest, x-metadata or dc-metadata, 6 when the item counter passes
  // 32767 (the document names more pictures and pages than a book holds),
  // and 5 when the title, author or category is not valid UTF-8 or
  // the source document is too tangled to clean up.
  void CreatePackage(const std::string& source, const std::string& package_name, const std::string& title,
                     const std::string& author, const std::string& category);

  // Ensures the second (book) identifier and writes the build settings.
  // A fixed setting always overwrites; an empty category or book name never
  // erases a stored one. Does nothing when the package does not parse.
  void CompletePackage(const std::string& package, const std::string& book_name, const std::string& category);

  // Writes the destination and log folders. Throws 91 when the package
  // does not load or lacks either setting. Returns an empty variant.
  Variant SetDirectory(const std::string& package, const std::string& destination, const std::string& logging);

 private:
  std::string NextItemId();

  std::string package_path_;
  std::string default_package_;
  int16_t counter_ = 0;
};

}  // namespace vellix
