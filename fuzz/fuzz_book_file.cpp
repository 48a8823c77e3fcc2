// Arbitrary bytes as a book file on a bookshelf: everything that reads a
// book file must either succeed or throw AutomationError, and the readers
// must agree with each other about what they found; editing its fields
// changes nothing else.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"

namespace {

std::string g_shelf;      // made once per process, removed at exit
std::string g_book_path;  // "<shelf>/book.imp", rewritten by every input

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_book_file: %s\n", what);
  std::abort();
}

void RemoveShelf() {
  std::error_code ec;
  std::filesystem::remove_all(g_shelf, ec);
}

void WriteBookFile(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(g_book_path.c_str(), "wb");
  if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
    Fail("cannot write the book file");
}

// The type tag of one directory entry (picked by the last input byte) when
// the directory lies inside the input, so that the lookup has something to
// find; otherwise the last four bytes.
std::string TagToLookUp(const uint8_t* data, size_t size) {
  if (size >= 24) {
    size_t n = size_t{data[18]} << 8 | data[19];
    size_t folder_name = size_t{data[20]} << 8 | data[21];
    size_t info = size_t{data[22]} << 8 | data[23];
    size_t directory = 24 + info + folder_name;
    if (n > 0 && directory + 20 * n <= size) {
      size_t at = directory + 20 * (data[size - 1] % n) + 12;
      return std::string(reinterpret_cast<const char*>(data) + at, 4);
    }
  }
  if (size >= 4) return std::string(reinterpret_cast<const char*>(data) + size - 4, 4);
  return "PICT";
}

struct Parsed {
  std::string source_id, source_type, feed;
  int32_t issue = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/fuzz-book-file-XXXXXX";
  if (!::mkdtemp(pattern.data())) Fail("mkdtemp failed");
  g_shelf = pattern;
  g_book_path = g_shelf + "/book.imp";
  std::atexit(RemoveShelf);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteBookFile(data, size);

  vellix::Book book;
  bool loaded = false;
  try {
    book.Load(g_book_path);
    loaded = true;
  } catch (const vellix::formats::AutomationError&) {
  }

  // The source record as the string lookup and the record parser see it.
  bool record_failed = false;
  std::string record;
  Parsed parsed;
  try {
    book.SetPath(g_book_path);  // may fail half-way; the lookup below starts afresh
  } catch (const vellix::formats::AutomationError&) {
  }
  try {
    record = book.GetResourceString("RSRC", 128);
    if (!record.empty()) book.ParseRSRC(record, parsed.source_id, parsed.source_type, parsed.feed, parsed.issue);
  } catch (const vellix::formats::AutomationError&) {
    record_failed = true;
  }

  // A fresh book's SetPath reads the same record: it fails exactly when the
  // lookup or the parse failed, and otherwise reports what the parse found.
  vellix::Book fresh;
  bool set_path_failed = false;
  try {
    fresh.SetPath(g_book_path);
  } catch (const vellix::formats::AutomationError&) {
    set_path_failed = true;
  }
  if (set_path_failed != record_failed) Fail("SetPath and GetResourceString+ParseRSRC disagree");
  if (!set_path_failed && !record.empty() &&
      (fresh.ContentFeedId() != parsed.feed ||
       fresh.SourceId() != (parsed.source_id.empty() ? "3" : parsed.source_id) ||
       fresh.SourceType() != (parsed.source_type.empty() ? "B" : parsed.source_type) ||
       fresh.IssueNumber() != (parsed.issue == 0 ? -1 : parsed.issue)))
    Fail("SetPath stored a different source record than ParseRSRC returned");

  int16_t id = size >= 2 ? static_cast<int16_t>(data[size - 2] << 8 | data[size - 1]) : 128;
  try {
    std::string s = book.GetResourceString(vellix::formats::Cp1252ToUtf8(TagToLookUp(data, size)), id);
    if (!s.empty()) {
      Parsed p;
      book.ParseRSRC(s, p.source_id, p.source_type, p.feed, p.issue);
    }
  } catch (const vellix::formats::AutomationError&) {
  }

  try {
    int16_t length = vellix::Bookshelf::BookInformationLength(g_book_path);
    if (length < 0) Fail("negative information length");
  } catch (const vellix::formats::AutomationError&) {
    if (loaded) Fail("Load read a book file whose information length cannot be read");
  }

  // The bookshelf finds the file by its own identifier.
  vellix::Bookshelf shelf;
  shelf.SetDirectory(g_shelf);
  std::string wanted = "ID42";
  bool has_id = false;
  try {
    wanted = vellix::formats::Cp1252ToUtf8(vellix::formats::BookIdOfFile(g_book_path));
    has_id = true;
  } catch (const vellix::formats::AutomationError&) {
    if (loaded) Fail("Load read a book file whose identifier cannot be read");
  }
  try {
    auto found = shelf.Book(wanted);
    if (has_id && !found) Fail("the bookshelf did not find a book file by its identifier");
    if (found && (found->BookId() != wanted || found->Path() != g_book_path))
      Fail("the bookshelf returned a different book");
  } catch (const vellix::formats::AutomationError&) {
    if (has_id && !set_path_failed) Fail("the bookshelf lookup failed on a readable book file");
  }

  // Editing the fields either leaves the file as it was or changes only
  // them: the bytes after the information area stay, shifted by the change
  // in its length, and the book reads back with the new fields.
  const std::string before(reinterpret_cast<const char*>(data), size);
  try {
    book.Load(g_book_path);
    book.WriteInformation("Edited \u00E9", "Ann Lee", "Tests");
  } catch (const vellix::formats::AutomationError&) {
    if (vellix::formats::ReadWholeFile(g_book_path) != before) Fail("a refused edit changed the book file");
    return 0;
  }
  const std::string after = vellix::formats::ReadWholeFile(g_book_path);
  auto area_end = [](const std::string& bytes) {
    return 24 + (size_t{static_cast<unsigned char>(bytes[22])} << 8 | static_cast<unsigned char>(bytes[23]));
  };
  if (after.compare(0, 22, before, 0, 22) != 0 ||
      after.compare(area_end(after), std::string::npos, before, area_end(before)) != 0)
    Fail("an edit changed bytes outside the information strings");
  if (book.PlainTitle() != "Edited \u00E9" || book.PlainAuthor() != "Ann Lee") Fail("an edit did not read back");
  return 0;
}
