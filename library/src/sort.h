// Ordering of the bookshelf: by category, then title, then author, where an
// author that reads as a date sorts before every other author, by date.
// Text compares case-insensitively in the user's locale.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

class Book;

// Builds byte-string keys whose plain byte order is the book order. One
// maker serves one sort: it caches the keys of texts it has seen.
class SortKeyMaker {
 public:
  SortKeyMaker();
  ~SortKeyMaker();
  std::string KeyFor(const Book& book);

  // The calendar day (days since 1970-01-01) of a text that reads as a
  // date: the whole text, or else the text after its first ",".
  std::optional<int32_t> DateOf(std::string_view text);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The order a selection sort leaves: for each position in turn, the first
// smallest key at or after it is swapped in. Equal keys may change their
// relative order; that order is kept exactly, in O(n log n).
std::vector<size_t> SelectionSortOrder(const std::vector<std::string>& keys);

}  // namespace vellix
