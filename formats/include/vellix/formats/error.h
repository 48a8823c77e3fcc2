// Errors that leave the library.
//
// Every library operation that fails throws AutomationError: a classic
// run-time error number and its description. Callers (the program, the
// command-line tool, the Python bindings) show "description (number)".
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace vellix {

enum ErrorNumber : int {
  kInvalidArgument = 5,      // "Invalid procedure call or argument"
  kOverflow = 6,             // "Overflow"
  kSubscriptOutOfRange = 9,  // "Subscript out of range"
  kFileNotFound = 53,        // "File not found"
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
  // Uses the standard description of `number`.
  explicit AutomationError(int number);
  AutomationError(int number, std::string description);

  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

[[noreturn]] void Raise(int number);
[[noreturn]] void Raise(int number, std::string description);

// Maps an errno value of a failed file operation on `path` to the error the
// caller sees (ENOENT -> 53 or 76, EACCES -> 70, ...). `is_folder` picks 76
// over 53 for a missing path.
[[noreturn]] void RaiseFromErrno(int err, bool is_folder = false);

}  // namespace vellix
