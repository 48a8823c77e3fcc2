// How the command-line tool prints books and reports failures.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "vellix/book.h"

namespace vellix::cli {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotFound = 3;

nlohmann::ordered_json BookToJson(const Book& book);
// One "Key: value" line per readable property, or the JSON object.
void PrintBook(const Book& book, bool json);
// The same for properties already gathered by BookToJson.
void PrintBook(const nlohmann::ordered_json& book, bool json);
void PrintJson(const nlohmann::ordered_json& value);

// Prints a JSON array one element at a time, byte for byte as PrintJson
// prints the whole array, so a long list is never held in memory whole.
class JsonArrayPrinter {
 public:
  void Add(const nlohmann::ordered_json& element);
  void Finish();

 private:
  bool any_ = false;
};

// Sends std::cout through a buffer that checks every write to standard
// output. FinishStandardOutput flushes it; a full disk, a closed pipe or a
// short write then prints "vellix: ..." on stderr and turns `exit_code`
// into kExitError. SIGPIPE must be ignored (main does), so a closed pipe is
// reported instead of killing the tool silently.
void CheckStandardOutput();
int FinishStandardOutput(int exit_code);

// "dir/" -> "dir": a trailing slash from shell completion must not hide a
// book folder's name.
std::string CleanPath(std::string path);

}  // namespace vellix::cli
