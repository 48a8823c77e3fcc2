#include "vellix/formats/error.h"

#include <cerrno>

namespace vellix::formats {
namespace {

std::string StandardDescription(int number) {
  std::string_view known = DescriptionOf(number);
  return known.empty() ? "Application-defined or object-defined error" : std::string(known);
}

std::string Printed(int number, const std::string& description, const std::string& detail) {
  std::string text = description;
  if (!detail.empty()) text += ": " + detail;
  return text + " (" + std::to_string(number) + ")";
}

}  // namespace

std::string_view DescriptionOf(int number) {
  switch (number) {
    case kInvalidArgument:
      return "Invalid procedure call or argument";
    case kOverflow:
      return "Overflow";
    case kOutOfMemory:
      return "Out of memory";
    case kSubscriptOutOfRange:
      return "Subscript out of range";
    case kTypeMismatch:
      return "Type mismatch";
    case kBadFileName:
      return "Bad file name or number";
    case kFileNotFound:
      return "File not found";
    case kBadFileMode:
      return "Bad file mode";
    case kDeviceIOError:
      return "Device I/O error";
    case kFileAlreadyExists:
      return "File already exists";
    case kDiskFull:
      return "Disk full";
    case kInputPastEndOfFile:
      return "Input past end of file";
    case kTooManyFiles:
      return "Too many files";
    case kPermissionDenied:
      return "Permission denied";
    case kPathFileAccess:
      return "Path/File access error";
    case kPathNotFound:
      return "Path not found";
    case kObjectNotSet:
      return "Object variable or With block variable not set";
    case kInvalidUseOfNull:
      return "Invalid use of Null";
    case kNotSupported:
      return "Object doesn't support this action";
    default:
      return "";
  }
}

AutomationError::AutomationError(int number, std::string detail)
    : std::runtime_error(Printed(number, StandardDescription(number), detail)),
      number_(number),
      description_(StandardDescription(number)),
      detail_(std::move(detail)) {}

std::string PlainMessage(const AutomationError& error) {
  // A detail that is only a path says no more than the description.
  const bool explains = error.detail().find(": ") != std::string::npos;
  return !DescriptionTellsCause(error.number()) && explains ? error.detail() : error.ToString();
}

bool DescriptionTellsCause(int number) { return number != kObjectNotSet && !DescriptionOf(number).empty(); }

void Raise(int number, std::string detail) { throw AutomationError(number, std::move(detail)); }

void RaiseFromErrno(int err, const std::string& path, bool is_folder) {
  switch (err) {
    case ENOENT:
      Raise(is_folder ? kPathNotFound : kFileNotFound, path);
    case ENOTDIR:
      Raise(kPathNotFound, path);
    case EACCES:
    case EPERM:
    case EROFS:
      Raise(kPermissionDenied, path);
    case ENOSPC:
    case EDQUOT:
      Raise(kDiskFull, path);
    case EMFILE:
    case ENFILE:
      Raise(kTooManyFiles, path);
    case EIO:
      Raise(kDeviceIOError, path);
    case EEXIST:
      Raise(kFileAlreadyExists, path);
    case ENAMETOOLONG:
      Raise(kBadFileName, path);
    case ENOMEM:
      Raise(kOutOfMemory, path);
    default:
      Raise(kPathFileAccess, path);
  }
}

}  // namespace vellix::formats
