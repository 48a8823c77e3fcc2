#include "output.h"

#include <iostream>

namespace vellix::cli {

nlohmann::ordered_json BookToJson(const Book& book) {
  nlohmann::ordered_json j;
  j["Path"] = book.Path();
  j["FileName"] = book.FileName();
  j["Extension"] = book.Extension();
  j["Title"] = book.Title();
  j["Author"] = book.Author();
  j["Category"] = book.Category();
  j["BookId"] = book.BookId();
  j["Size"] = book.Size();
  j["Pages"] = book.Pages();
  j["Encrypted"] = book.Encrypted();
  j["SourceId"] = book.SourceId();
  j["SourceType"] = book.SourceType();
  j["ContentFeedId"] = book.ContentFeedId();
  j["IssueNumber"] = book.IssueNumber();
  j["IsPeriodical"] = book.IsPeriodical();
  return j;
}

void PrintJson(const nlohmann::ordered_json& value) {
  std::cout << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

void PrintBook(const Book& book, bool json) { PrintBook(BookToJson(book), json); }

void PrintBook(const nlohmann::ordered_json& j, bool json) {
  if (json) {
    PrintJson(j);
    return;
  }
  for (const auto& [key, value] : j.items()) {
    std::cout << key << ": ";
    if (value.is_string())
      std::cout << value.get<std::string>();
    else
      std::cout << value.dump();
    std::cout << "\n";
  }
}

std::string CleanPath(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace vellix::cli
