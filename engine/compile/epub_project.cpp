// A project read from an EPUB book: the book's metadata as the fields, its
// spine as the sources and the rest of its manifest as resources.
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "epub_book.h"
#include "ikutil/params.h"
#include "ikutil/ui_helper.h"

namespace ikutil {

void CBookParams::TakeEpubMetadata(const std::string& path, const EpubBook& book) {
  // A fresh book's settings, with the book's own metadata.
  CBookParams defaults;
  book_file_name = std::filesystem::path(path).stem().string();
  book_id = book.identifier;
  book_title = book.title;
  category = book.category;
  sub_category.clear();
  author_first_name = book.author_first;
  author_middle_name = book.author_middle;
  author_last_name = book.author_last;
  language = book.language;
  encrypt = defaults.encrypt;
  compress = defaults.compress;
  underline_links = defaults.underline_links;
  zoom = defaults.zoom;
  css = defaults.css;
  widow_lines = defaults.widow_lines;
  orphan_lines = defaults.orphan_lines;
  build_target = defaults.build_target;
  logging = defaults.logging;
  rle_trigger = defaults.rle_trigger;
  content_feed_id.clear();
  current_issue.clear();
  is_periodical = 0;
  DestDir("");
  LogDir("");
}

bool CBookParams::LoadEpubMetadata(const std::string& path, std::string& error) {
  EpubReadResult read = ReadEpubBook(path, true);
  if (!read.book) {
    error = read.error;
    return false;
  }
  TakeEpubMetadata(path, *read.book);
  return true;
}

bool CBookParams::LoadEpub(const std::string& path, bool feedback) {
  EpubReadResult read = ReadEpubBook(path);
  if (!read.book) {
    if (ui_helper_) ui_helper_->Display(read.error, path, -1, feedback ? 1 : 0);
    return false;
  }
  const EpubBook& book = *read.book;
  TakeEpubMetadata(path, book);

  sources_.clear();
  resources_.clear();
  // Looked up by href rather than scanned: a book may name many thousands
  // of items, and a scan per spine entry grows with their square.
  std::unordered_map<std::string_view, const EpubManifestItem*> item_by_href;
  for (const EpubManifestItem& item : book.manifest) item_by_href[item.href] = &item;  // the last one wins
  std::unordered_set<std::string_view> spine_hrefs(book.spine.begin(), book.spine.end());
  for (const std::string& href : book.spine) {
    auto entry = std::make_unique<CWinSourceFile>(href, 0);
    if (auto it = item_by_href.find(href); it != item_by_href.end()) {
      entry->item_id = it->second->id;
      entry->media_type = it->second->media_type;
    }
    sources_.push_back(std::move(entry));
  }
  for (const EpubManifestItem& item : book.manifest)
    if (!spine_hrefs.count(item.href)) resources_.push_back({item.id, item.href, item.media_type});
  loaded_package_.clear();
  epub_ = read.book;
  project_format_ = 1;
  project_file_path = path;
  return true;
}

}  // namespace ikutil
