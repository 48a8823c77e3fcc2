// The three outside descriptions of a bookshelf:
//  - the bookshelf text (Bookshelf::BookshelfText): one record per book
//    file, LF line ends, for a remote bookshelf service;
//  - the book list text: one Book::BookshelfItem line per book, CR LF;
//  - the book list document (Bookshelf::CreateBooklist): an OEB page
//    listing the books under category headings, CR LF.
// All three are single-byte text; characters the code page lacks become "?".
// Files are written beside their target and renamed over it when complete.
#pragma once

#include <string>
#include <string_view>

#include "vellix/bookshelf.h"

namespace vellix {

// Every "-" becomes "%2D" and every "_" becomes "%5F"; nothing else changes.
std::string EscapeUrl(std::string_view address);

// The book list text of `books` in collection order.
std::string BookListText(const Books& books, const std::string& base_url);
void WriteBookListText(const Books& books, const std::string& base_url, const std::string& path);

// Where the book list text goes: the "Sites\RemoteBookShelfUrl" setting up
// to and including its last "/" is the base address, the rest the proposed
// file name. Both "" when the setting is missing.
struct RemoteBookShelf {
  std::string base_url;
  std::string file_name;
};
RemoteBookShelf RemoteBookShelfLocation();
RemoteBookShelf SplitRemoteBookShelfUrl(const std::string& url);

}  // namespace vellix
