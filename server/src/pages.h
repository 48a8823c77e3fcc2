// The pages people see: the catalogue, a book's page with its reader, the
// publication page, and the style sheet and script they load. Rendered on
// the server and complete without script; the script only adds filtering
// as one types, paging by arrow keys and upload progress. Every stored
// string goes in as text, never as markup.
#pragma once

#include <string>

#include "shelf_index.h"

namespace vellix::server {

struct CatalogueQuery {
  std::string search;          // "" shows every book
  std::string sort = "title";  // title, author, category or size
  bool descending = false;
};

struct ReaderView {
  int page = 1;
  int page_count = 0;
  std::string layout_error;  // why the book cannot be shown
  std::string image_query;   // "?width=...&..." passed on to the page images
  std::string reader_query;  // the same for the page links, without "page"
};

std::string CataloguePage(const ShelfSnapshot& shelf, const CatalogueQuery& query, bool upload_enabled);
std::string BookPage(const BookEntry& book, const ReaderView& view);
std::string PublishStatusPage(const std::string& job_id, const std::string& file_name);
std::string NotFoundPage();

// "12 KB", "3.4 MB".
std::string ReadableSize(uint64_t bytes);

extern const char kStyleSheet[];
extern const char kScript[];

}  // namespace vellix::server
