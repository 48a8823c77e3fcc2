#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

void PrintBook(const Book& book, bool json) {
  nlohmann::ordered_json j = BookToJson(book);
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

int FinishStandardOutput(int exit_code) {
  std::cout.flush();
  errno = 0;
  bool flushed = std::fflush(stdout) == 0;
  int err = errno;
  if (flushed && !std::ferror(stdout) && std::cout.good()) return exit_code;
  std::cerr << "vellix: cannot write to standard output"
            << (err != 0 ? std::string(": ") + std::strerror(err) : std::string()) << "\n";
  return kExitError;
}

std::string CleanPath(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace vellix::cli
