#include "shelf_index.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "http_text.h"
#include "vellix/book.h"
#include "vellix/booklist.h"
#include "vellix/error.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/markup.h"

namespace vellix::server {
namespace {

namespace fs = std::filesystem;

constexpr auto kRecheck = std::chrono::seconds(1);

int64_t MtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return "";
  std::string out = resolved;
  std::free(resolved);
  return out;
}

// A name the server will offer: a book file ("imp", exactly, as the
// bookshelf text sees them) that is not hidden.
bool IsOfferedName(const std::string& name) {
  return name.size() > 4 && name[0] != '.' && name.compare(name.size() - 4, 4, ".imp") == 0;
}

}  // namespace

const BookEntry* ShelfSnapshot::Find(const std::string& id) const {
  auto it = by_id.find(id);
  return it == by_id.end() ? nullptr : it->second.get();
}

std::shared_ptr<BookEntry> ReadBookEntry(const std::string& path) {
  auto entry = std::make_shared<BookEntry>();
  entry->path = path;
  entry->file_name = fs::path(path).filename().string();
  entry->id = entry->file_name.substr(0, entry->file_name.size() - 4);

  // The bookshelf text's record, from the file's own strings.
  {
    formats::InputFile file(path);
    auto s = formats::CutInformationStrings(formats::ReadInformationStrings(file));
    entry->raw_id = s[0];
    entry->source_id = "3";
    entry->source_type = "B";
    std::string record = formats::ReadResourceString(file, "RSRC", 128);
    if (!record.empty()) {
      formats::SourceRecord r = formats::ParseSourceRecord(record);
      if (!r.source_id.empty()) entry->source_id = r.source_id;
      if (!r.source_type.empty()) entry->source_type = r.source_type;
      entry->periodical = r.issue_number != 0 && r.issue_number != -1;
    }
    entry->record_head = entry->source_id + ":" + entry->source_type + ":" + s[0] + "\t" + s[3] + "\t" +
                         formats::AuthorOf(s) + "\t" + s[1] + "\t" + std::to_string(file.size());
    entry->record_query = "?BOOK_ID=" + s[0] + "&SOURCE_ID=" + entry->source_id + "&SOURCE_TYPE=" + entry->source_type;
    entry->record_tail = entry->periodical ? "\t1\t21" : "\t1\t17";
  }

  // The book as the library sees it.
  Book book;
  book.Load(path);
  entry->book_id = book.BookId();
  entry->title = book.Title();
  entry->author = book.Author();
  entry->category = book.Category();
  entry->pages = book.Pages();
  entry->title_text = formats::UnescapeMarkup(book.Title());
  entry->author_text = formats::UnescapeMarkup(book.Author());
  entry->category_text = formats::UnescapeMarkup(book.Category());
  auto lower = [](std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
  };
  entry->title_key = lower(entry->title_text);
  entry->author_key = lower(entry->author_text);
  entry->category_key = lower(entry->category_text);
  return entry;
}

ShelfIndex::ShelfIndex(std::string folder, Note note) : folder_(std::move(folder)), note_(std::move(note)) {
  real_folder_ = RealPath(folder_);
}

std::shared_ptr<const ShelfSnapshot> ShelfIndex::Current() {
  // The folder is looked at before the lock is taken: every request does
  // this, and the lock is only for the rare rebuild.
  struct stat st {};
  const int64_t mtime = ::stat(folder_.c_str(), &st) == 0 ? MtimeNs(st) : -1;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  if (current_ && mtime == folder_mtime_ns_ && now - last_check_ < kRecheck) return current_;
  folder_mtime_ns_ = mtime;
  last_check_ = now;
  current_ = Rebuild();
  return current_;
}

std::shared_ptr<const ShelfSnapshot> ShelfIndex::Refresh() {
  std::lock_guard lock(mutex_);
  last_check_ = std::chrono::steady_clock::now();
  current_ = Rebuild();
  return current_;
}

std::shared_ptr<const ShelfSnapshot> ShelfIndex::Rebuild() {
  auto next = std::make_shared<ShelfSnapshot>();
  next->generation = current_ ? current_->generation + 1 : 1;
  std::vector<std::string> names;
  try {
    names = formats::ListFolder(folder_, formats::EntryKind::kFile);
  } catch (const formats::AutomationError& e) {
    note_("shelf: " + e.ToString());
    return next;
  }
  const std::string inside = real_folder_ + "/";
  for (const std::string& name : names) {
    if (!IsOfferedName(name)) continue;
    const std::string path = folder_ + "/" + name;
    struct stat lst {
    }, st{};
    if (::lstat(path.c_str(), &lst) != 0 || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // A link is followed only while it stays inside the shelf.
    if (S_ISLNK(lst.st_mode) && RealPath(path).rfind(inside, 0) != 0) continue;

    std::shared_ptr<const BookEntry> entry;
    if (current_) {
      if (const BookEntry* old = current_->Find(name.substr(0, name.size() - 4));
          old && old->size == static_cast<uint64_t>(st.st_size) && old->mtime_ns == MtimeNs(st) &&
          old->inode == st.st_ino)
        entry = current_->by_id.at(old->id);
    }
    if (!entry) {
      const std::string etag = EntityTag(st.st_size, MtimeNs(st), st.st_ino);
      if (unreadable_.count(path) && unreadable_[path] == etag) continue;
      try {
        auto fresh = ReadBookEntry(path);
        fresh->size = st.st_size;
        fresh->mtime_ns = MtimeNs(st);
        fresh->inode = st.st_ino;
        fresh->etag = etag;
        fresh->last_modified = HttpDate(st.st_mtim.tv_sec);
        entry = std::move(fresh);
        unreadable_.erase(path);
      } catch (const formats::AutomationError& e) {
        // A damaged book is left out, not the whole shelf; said once.
        unreadable_[path] = etag;
        note_("shelf: left out " + path + ": " + e.ToString());
        continue;
      }
    }
    next->books.push_back(entry);
    next->by_id.emplace(entry->id, entry);
  }
  return next;
}

}  // namespace vellix::server
