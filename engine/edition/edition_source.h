// A device edition read as far as it is asked for. The viewer shows the
// first page of a long book without inflating and parsing all of it: opening
// reads the book file's directory, the information, the content's settings
// and styles and its block count; each block is inflated and parsed when it
// is first asked for, each image when it is first shown. Reading the last
// block reads the rest of the content (links, contents, images) and makes
// every check the whole reader makes, so a book read to its end has passed
// the same checks as ReadDeviceEdition.
//
// Damage found late (a block that does not parse, text that is not UTF-8,
// a link table that does not fit) throws EditionReadError, and every later
// read throws it again: the source never hands out a block past the damage.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ikutil/device_edition.h"

namespace ikutil {

class EditionReadError : public std::runtime_error {
 public:
  EditionReadError(EditionError error, const std::string& message) : std::runtime_error(message), error_(error) {}
  EditionError error() const { return error_; }

 private:
  EditionError error_;
};

class EditionSource {
 public:
  // Opens the book file at `path`. Throws EditionReadError, with the
  // message and code ReadDeviceEdition would give.
  static std::unique_ptr<EditionSource> Open(const std::string& path);
  // The same over a book file's bytes, which must outlive the source.
  static std::unique_ptr<EditionSource> OverBytes(std::string_view bytes, std::string name);
  // A whole edition in memory (tests, tools): complete from the start.
  // `edition` must outlive the source.
  explicit EditionSource(const DeviceEdition& edition);
  ~EditionSource();
  EditionSource(const EditionSource&) = delete;
  EditionSource& operator=(const EditionSource&) = delete;

  // What has been read: settings, language and styles from the start;
  // blocks up to the furthest asked for; links and contents once complete.
  // `images` has ImageCount() entries, each empty until ImageAt loaded it.
  const DeviceEdition& edition() const { return *edition_; }
  const BookInformation& info() const { return info_; }

  uint32_t BlockCount() const;
  // Block `index` (< BlockCount()), reading on to it. The reference stays
  // valid as long as the source.
  const Block& BlockAt(uint32_t index);
  uint32_t ImageCount() const;
  // Image `index` (< ImageCount()), read when first asked for.
  const GreyImage& ImageAt(uint32_t index);
  // Reads whatever is left and makes every check; after it, edition() is
  // the whole edition.
  void ReadAll();
  bool complete() const;

  // The whole edition, read to its end, moved out of the source (which is
  // left empty).
  DeviceEdition TakeEdition();

  struct Lazy;

 private:
  EditionSource();
  static std::unique_ptr<EditionSource> Start(std::unique_ptr<Lazy> lazy);

  std::unique_ptr<Lazy> lazy_;  // null for a whole edition in memory
  DeviceEdition own_;
  const DeviceEdition* edition_ = &own_;
  BookInformation info_;
};

}  // namespace ikutil
