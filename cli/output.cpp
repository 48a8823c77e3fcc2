#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>

namespace vellix::cli {

nlohmann::ordered_json BookToJson(const Book& book) {
  nlohmann::ordered_json j;
  j["Path"] = book.Path();
  j["FileName"] = book.FileName();
  j["Extension"] = book.Extension();
  j["Title"] = book.PlainTitle();
  j["Author"] = book.PlainAuthor();
  j["Category"] = book.PlainCategory();
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

void JsonArrayPrinter::Add(const nlohmann::ordered_json& element) {
  // Every line of the element moves in one level, as inside the whole
  // array; line breaks in strings are escaped, so each one here is layout.
  std::string element_text = element.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string text = any_ ? ",\n  " : "[\n  ";
  text.reserve(element_text.size() + element_text.size() / 8 + 4);
  for (char c : element_text) {
    text += c;
    if (c == '\n') text += "  ";
  }
  std::cout << text;
  any_ = true;
}

void JsonArrayPrinter::Finish() { std::cout << (any_ ? "\n]\n" : "[]\n"); }

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

namespace {

// std::cout's buffer: writes straight to descriptor 1 and keeps the first
// failure (a short write counts), so the reason survives until the end.
class CheckedOutput : public std::streambuf {
 public:
  CheckedOutput() { setp(buffer_, buffer_ + sizeof buffer_); }
  int error() const { return error_; }
  bool failed() const { return failed_; }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    const char* data = pbase();
    size_t left = static_cast<size_t>(pptr() - pbase());
    while (left > 0 && !failed_) {
      ssize_t n = ::write(STDOUT_FILENO, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = true;
        error_ = n < 0 ? errno : 0;
        break;
      }
      data += n;
      left -= static_cast<size_t>(n);
    }
    setp(buffer_, buffer_ + sizeof buffer_);  // once failed, the rest is dropped
    return !failed_;
  }
  char buffer_[1 << 16];
  int error_ = 0;
  bool failed_ = false;
};

CheckedOutput& Output() {
  static CheckedOutput output;
  return output;
}

std::streambuf* standard_buffer = nullptr;

}  // namespace

void CheckStandardOutput() {
  standard_buffer = std::cout.rdbuf(&Output());
  if (::isatty(STDOUT_FILENO)) std::cout << std::unitbuf;  // a person reads along
}

int FinishStandardOutput(int exit_code) {
  std::cout.flush();
  // The checked buffer is gone before std::cout's last flush at exit.
  if (standard_buffer) std::cout.rdbuf(standard_buffer);
  if (!Output().failed()) return exit_code;
  std::cerr << "vellix: cannot write to standard output"
            << (Output().error() != 0 ? std::string(": ") + std::strerror(Output().error()) : "") << "\n";
  return kExitError;
}

std::string CleanPath(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace vellix::cli
