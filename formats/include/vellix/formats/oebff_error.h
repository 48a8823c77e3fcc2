// Why an OEBFF container could not be read: the codes of the container
// parser and their messages.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace vellix::formats {

enum OEBFFError : int32_t {
  kOEBFFNoError = 0,
  kOEBFFUnexpectedEnd = 1,          // NUL or end of file inside a quoted string
  kOEBFFInvalidMimeTypeHeader = 2,  // not raised by the reader
  kOEBFFMissingMimeTypeAttributes = 3,
  kOEBFFNoEqualSign = 4,
  kOEBFFInvalidAttributeValue = 5,  // a value that is neither token nor quoted string
  kOEBFFIllegalCharacter = 6,       // a byte a quoted string may not hold
  kOEBFFInvalidFileInContainer = 7,
  kOEBFFInvalidMimeHeaders = 8,  // a header line without name, ":" or blank
  kOEBFFInvalidQuotedValue = 9,
  kOEBFFInvalidContainer = 10,  // bad container headers or missing delimiter
  kOEBFFInvalidPart = 11,       // a part's headers fail their check
  kOEBFFFileNotFound = 12,      // the container cannot be opened
  kOEBFFUserAborted = 13,       // the progress observer asked to stop
};

// Thrown by the container parser; the reader that drives it catches it.
class OEBFFContainerError : public std::exception {
 public:
  explicit OEBFFContainerError(int32_t code) noexcept : code_(code) {}

  int32_t Code() const noexcept { return code_; }
  // The message of the code, e.g. "Invalid OEBFF Container".
  const char* what() const noexcept override { return MessageFor(code_); }

  // The message table; codes outside it read "Unknown error".
  static const char* MessageFor(int32_t code) noexcept;

 private:
  int32_t code_;
};

// Told how far reading a container has come (bytes of `size`), about
// every 100 KiB. Answering false stops the reading with kOEBFFUserAborted.
using ContainerProgress = std::function<bool(int64_t done, int64_t size)>;

// "<message>\r\nError 0x<code as eight upper-case hex digits>\r\n".
std::string ComposeDiagnostic(const char* message, uint32_t code);

// Why a container was refused, in plain words for the user and on one
// line ("a part's headers are not valid"); "" for kOEBFFNoError and for
// codes outside the table.
const char* ContainerFailureReason(int32_t code) noexcept;

}  // namespace vellix::formats
