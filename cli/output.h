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

// "dir/" -> "dir": a trailing slash from shell completion must not hide a
// book folder's name.
std::string CleanPath(std::string path);

}  // namespace vellix::cli
