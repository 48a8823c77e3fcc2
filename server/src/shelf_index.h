// What the server knows of the shelf folder: its book files with the
// fields every page needs, read once per file version and kept.
//
// The folder is looked at again when its modification time changes (a book
// added, removed or renamed over) and at least once a second otherwise (a
// file rewritten in place), so a change on disk shows without a restart.
// Readers take a snapshot and keep it as long as they need: a refresh
// builds a new one and never changes one handed out.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vellix::server {

struct BookEntry {
  std::string file_name;  // "NAME.imp"
  std::string id;         // NAME: the book's address under /books/
  std::string path;
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  ino_t inode = 0;
  std::string etag;           // quoted, changes with any rewrite
  std::string last_modified;  // HTTP date

  // As stored in the book file (single-byte text, markup-escaped).
  std::string raw_id;  // the first information string
  std::string source_id, source_type;
  bool periodical = false;
  // The book list text's fields (UTF-8, as the library reads them).
  std::string book_id, title, author, category;
  int pages = 0;

  // The bookshelf text record without its address, and the address's query.
  std::string record_head;   // columns 1 to 5
  std::string record_query;  // "?BOOK_ID=...&SOURCE_ID=...&SOURCE_TYPE=..."
  std::string record_tail;   // columns 7 and 8

  // For people: the stored strings with their markup escaping undone.
  std::string title_text, author_text, category_text;
  // The same in ASCII lower case, for searching and sorting.
  std::string title_key, author_key, category_key;
};

struct ShelfSnapshot {
  uint64_t generation = 0;
  std::vector<std::shared_ptr<const BookEntry>> books;  // folder order
  std::map<std::string, std::shared_ptr<const BookEntry>> by_id;
  const BookEntry* Find(const std::string& id) const;
};

class ShelfIndex {
 public:
  using Note = std::function<void(const std::string&)>;
  ShelfIndex(std::string folder, Note note);
  // The shelf as it is now (refreshed when due).
  std::shared_ptr<const ShelfSnapshot> Current();
  // Looks at the folder again now.
  std::shared_ptr<const ShelfSnapshot> Refresh();
  const std::string& Folder() const { return folder_; }

 private:
  std::shared_ptr<const ShelfSnapshot> Rebuild();

  std::string folder_;
  std::string real_folder_;
  Note note_;
  std::mutex mutex_;
  std::shared_ptr<const ShelfSnapshot> current_;
  int64_t folder_mtime_ns_ = -1;
  std::chrono::steady_clock::time_point last_check_{};
  std::map<std::string, std::string> unreadable_;  // path -> etag noted
};

// Reads one book file; throws vellix::formats::AutomationError when it cannot.
std::shared_ptr<BookEntry> ReadBookEntry(const std::string& path);

}  // namespace vellix::server
