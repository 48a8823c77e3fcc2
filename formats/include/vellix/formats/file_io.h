// File access for the library: every failure becomes an AutomationError,
// and every read is checked against the file's end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

enum class EntryKind { kFile, kFolder };

// Names (not paths) of the regular files or the folders in `folder`,
// following symbolic links, sorted case-insensitively (ASCII) and then
// byte-wise, so every listing of the same folder has the same order.
// Throws 76 when `folder` is not a folder.
std::vector<std::string> ListFolder(const std::string& folder, EntryKind kind);

// Both lists in one pass over the folder.
struct FolderListing {
  std::vector<std::string> files;
  std::vector<std::string> folders;
};
FolderListing ListFolderAll(const std::string& folder);

bool IsFile(const std::string& path);
bool IsFolder(const std::string& path);

// A file opened for reading; closed when destroyed.
class InputFile {
 public:
  // Throws 53 (missing), 70 (no access) or 75 (a folder, other failures).
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` only when it is a regular file (one open, no separate
  // stat); says in `is_folder` whether it is a folder instead.
  static std::unique_ptr<InputFile> OpenIfFile(const std::string& path, bool& is_folder);

  uint64_t size() const { return size_; }
  int fd() const { return fd_; }
  // Exactly `length` bytes at `offset`; throws 5 when the file ends first.
  std::string ReadAt(uint64_t offset, size_t length) const;
  // Up to `length` bytes at `offset` (fewer at the end of the file).
  std::string ReadUpTo(uint64_t offset, size_t length) const;

 private:
  InputFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  int fd_ = -1;
  uint64_t size_ = 0;
};

std::string ReadWholeFile(const std::string& path);

// Writes a new file beside `destination` and puts it in place only on
// Commit(), so a failure never leaves a partial file where a good one was.
class AtomicFileWriter {
 public:
  // Throws 76 (missing folder), 70 (no permission) or 75.
  AtomicFileWriter(const std::string& destination, const std::string& prefix);
  ~AtomicFileWriter();  // removes the temporary file unless committed
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Write(std::string_view bytes);
  // Copies exactly `length` bytes from the start of `source`; throws 5 when
  // the source holds fewer.
  void CopyFrom(const InputFile& source, uint64_t length);
  // Flushes, closes and renames the temporary file over the destination.
  void Commit();

 private:
  void Flush();
  std::string destination_;
  std::string temp_path_;
  int fd_ = -1;
  std::string buffer_;
  bool committed_ = false;
};

}  // namespace vellix
