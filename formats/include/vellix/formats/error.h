// Errors that leave the library.
//
// Every library operation that fails throws AutomationError: a classic
// run-time error number, its standard description and, apart from it, a
// detail such as the file the error concerns. Callers (the program, the
// command-line tool) show "Description: detail (number)", or
// "Description (number)" when there is no detail.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace vellix::formats {

// Every number the library and its clients raise.
enum ErrorNumber : int {
  kInvalidArgument = 5,      // "Invalid procedure call or argument"
  kOverflow = 6,             // "Overflow"
  kOutOfMemory = 7,          // "Out of memory"
  kSubscriptOutOfRange = 9,  // "Subscript out of range"
  kTypeMismatch = 13,        // "Type mismatch"
  kBadFileName = 52,         // "Bad file name or number"
  kFileNotFound = 53,        // "File not found"
  kBadFileMode = 54,         // "Bad file mode"
  kDeviceIOError = 57,       // "Device I/O error"
  kFileAlreadyExists = 58,   // "File already exists"
  kDiskFull = 61,            // "Disk full"
  kInputPastEndOfFile = 62,  // "Input past end of file"
  kTooManyFiles = 67,        // "Too many files"
  kPermissionDenied = 70,    // "Permission denied"
  kPathFileAccess = 75,      // "Path/File access error"
  kPathNotFound = 76,        // "Path not found"
  kObjectNotSet = 91,        // "Object variable or With block variable not set"
  kInvalidUseOfNull = 94,    // "Invalid use of Null"
  kNotSupported = 445,       // "Object doesn't support this action"
};

// The standard description of a run-time error number ("" when unknown).
std::string_view DescriptionOf(int number);

class AutomationError : public std::runtime_error {
 public:
  // `detail` says what the error concerns (a path, a name); it never
  // replaces the standard description.
  explicit AutomationError(int number, std::string detail = {});

  int number() const { return number_; }
  // The standard description; a number without one gets the classic
  // "Application-defined or object-defined error".
  const std::string& description() const { return description_; }
  const std::string& detail() const { return detail_; }
  // "Description: detail (N)", or "Description (N)" without a detail;
  // what() returns the same text.
  std::string ToString() const { return what(); }

 private:
  int number_;
  std::string description_;
  std::string detail_;
};

[[noreturn]] void Raise(int number, std::string detail = {});

// The error as a person reads it. Where the standard description tells
// nothing of the cause (a failed build, an object that is not set) and the
// detail says what went wrong ("story.htm: the document has no head
// element"), the detail alone; otherwise ToString().
std::string PlainMessage(const AutomationError& error);
// False for the numbers whose standard description tells nothing of the
// cause: 91 and those without one ("Application-defined or
// object-defined error"); their number is not shown to a person.
bool DescriptionTellsCause(int number);

// Runs `operation`; an error it raises without a detail gets `path`, the
// file the operation works on, as its detail, so that a damaged file is
// named however deep inside its reading the damage shows.
template <typename Operation>
decltype(auto) NamingFile(const std::string& path, Operation&& operation) {
  try {
    return operation();
  } catch (const AutomationError& e) {
    if (!e.detail().empty()) throw;
    throw AutomationError(e.number(), path);
  }
}

// Runs `operation` on `copy`, a private copy of the user's file
// `original`; an error whose detail names the copy names the original
// instead, since the user never gave the copy's path.
template <typename Operation>
decltype(auto) OnCopyOf(const std::string& original, const std::string& copy, Operation&& operation) {
  try {
    return operation();
  } catch (const AutomationError& e) {
    std::string detail = e.detail();
    if (copy.empty() || copy == original) throw;
    for (size_t at; (at = detail.find(copy)) != std::string::npos;) detail.replace(at, copy.size(), original);
    throw AutomationError(e.number(), detail);
  }
}

// Maps an errno value of a failed file operation on `path` to the error the
// caller sees, with `path` as its detail: ENOENT -> 53 (76 when `is_folder`),
// ENOTDIR -> 76, EACCES/EPERM/EROFS -> 70, ENOSPC -> 61, EMFILE -> 67,
// EIO -> 57, EEXIST -> 58, ENAMETOOLONG -> 52, ENOMEM -> 7, others -> 75.
[[noreturn]] void RaiseFromErrno(int err, const std::string& path, bool is_folder = false);

}  // namespace vellix::formats
