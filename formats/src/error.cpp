#include "vellix/formats/error.h"

#include <cerrno>

namespace vellix {

std::string_view DescriptionOf(int number) {
  switch (number) {
    case 5: return "Invalid procedure call or argument";
    case 6: return "Overflow";
    case 7: return "Out of memory";
    case 9: return "Subscript out of range";
    case 13: return "Type mismatch";
    case 52: return "Bad file name or number";
    case 53: return "File not found";
    case 54: return "Bad file mode";
    case 57: return "Device I/O error";
    case 58: return "File already exists";
    case 61: return "Disk full";
    case 62: return "Input past end of file";
    case 67: return "Too many files";
    case 70: return "Permission denied";
    case 75: return "Path/File access error";
    case 76: return "Path not found";
    case 91: return "Object variable or With block variable not set";
    case 94: return "Invalid use of Null";
    case 445: return "Object doesn't support this action";
    default: return "";
  }
}

AutomationError::AutomationError(int number)
    : AutomationError(number, std::string(DescriptionOf(number))) {}

AutomationError::AutomationError(int number, std::string description)
    : std::runtime_error(description.empty() ? "Application-defined or object-defined error"
                                             : std::move(description)),
      number_(number) {}

void Raise(int number) { throw AutomationError(number); }

void Raise(int number, std::string description) {
  throw AutomationError(number, std::move(description));
}

void RaiseFromErrno(int err, bool is_folder) {
  switch (err) {
    case ENOENT: Raise(is_folder ? kPathNotFound : kFileNotFound);
    case ENOTDIR: Raise(kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS: Raise(kPermissionDenied);
    case ENOSPC:
    case EDQUOT: Raise(61);
    case EMFILE:
    case ENFILE: Raise(67);
    case EIO: Raise(57);
    case EEXIST: Raise(58);
    case ENAMETOOLONG: Raise(52);
    case ENOMEM: Raise(7);
    default: Raise(kPathFileAccess);
  }
}

}  // namespace vellix
