// File access for the library: every failure becomes an AutomationError
// naming the file or folder it concerns, and every read is checked against
// the file's end.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellix::formats {

enum class EntryKind { kFile, kFolder };

// Names (not paths) of the regular files or the folders in `folder`,
// following symbolic links, sorted case-insensitively (ASCII) and then
// byte-wise, so every listing of the same folder has the same order.
// Throws 76 when `folder` is not a folder, 70 when it may not be read.
std::vector<std::string> ListFolder(const std::string& folder, EntryKind kind);

// Both lists in one pass over the folder.
struct FolderListing {
  std::vector<std::string> files;
  std::vector<std::string> folders;
};
FolderListing ListFolderAll(const std::string& folder);

bool IsFile(const std::string& path);
// Raises the error for a path where an operation found nothing to use:
// 70 when the path may not be looked at, 53 (76 when `is_folder`) otherwise.
[[noreturn]] void RaiseMissing(const std::string& path, bool is_folder);
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
  // stat); says in `is_folder` whether it is a folder instead. Returns null
  // for nothing at all, and throws 70 for a file it may not read.
  static std::unique_ptr<InputFile> OpenIfFile(const std::string& path, bool& is_folder);

  uint64_t size() const { return size_; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Exactly `length` bytes at `offset`; throws 5 when the file ends first.
  std::string ReadAt(uint64_t offset, size_t length) const;
  // Up to `length` bytes at `offset` (fewer at the end of the file).
  std::string ReadUpTo(uint64_t offset, size_t length) const;

 private:
  InputFile(int fd, uint64_t size, const std::string& path) : fd_(fd), size_(size), path_(path) {}
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);

// Throws 75, naming `output`, when `output` exists and is the same file as
// one of `inputs` (by device and inode, so links and other spellings are
// caught too). Writers call it before writing anything: replacing a file
// they still read would lose it.
void RefuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs);

// Throws unless AtomicFileWriter may write `destination`: 75 for a folder,
// 70 for a file without any write bit (refused even for root, as an
// ordinary delete in a file manager would be) or one the caller may not
// write, 76 for a missing folder. Lets a writer refuse before it prepares
// anything else.
void CheckWritableTarget(const std::string& destination);

// How far a safe write goes to survive a crash. The rule: what a user
// would lose is synced - the book file on the shelf and the shelf's folder,
// once per book, before the book is reported added (and any other file the
// user asked for by name: exports, containers, project files). What can be
// made again from its source (the converted page, the package's
// intermediate rewrites, the build log, page images) is still written
// through a temporary file and a rename, so it is never torn, but it is
// not synced: after a crash it is either the old file or the new one, and
// publishing again makes it anew.
enum class Durability { kSynced, kUnsynced };

// Every fsync the safe writer makes is counted, and shown to the observer
// when one is set (tests and benchmarks check the rule above with it).
uint64_t FileSyncCount();
using SyncObserver = std::function<void(const std::string& path)>;
void SetSyncObserver(SyncObserver observer);

// The safe writer's temporary file for "<folder>/<name>" is
// "<folder>/.<name>.vellix-tmp-XXXXXX" (six letters or digits; a very long
// name is cut), and a build works in "<folder>/.vellix-build-XXXXXX". Both
// are hidden and shaped as no file of a user's plausibly is, so that what a
// killed run left can later be told from the user's own files.
inline constexpr std::string_view kTemporaryMarker = ".vellix-tmp-";
inline constexpr std::string_view kBuildFolderPrefix = ".vellix-build-";
bool IsSuiteTemporaryName(std::string_view name);
bool IsSuiteBuildFolderName(std::string_view name);

// Removes, directly in `folder`, the temporary files and build folders
// named as above that a killed run left behind: only regular files (or, for
// build folders, real folders) owned by the caller that nothing has touched
// for six hours, since a running writer keeps writing to its own. Nothing
// else is ever removed; what cannot be removed stays, quietly.
void RemoveStaleTemporaries(const std::string& folder);

// Writes a new file beside `destination` and puts it in place only on
// Commit(), so a failure never leaves a partial file where a good one was.
//
// A symbolic link is followed: the file it points to is replaced and the
// link stays. A device or FIFO is written through in place (opened for
// writing and truncated, never renamed over); a folder is refused. The new
// file takes the old one's mode and owner where it can; a file that did
// not exist gets 0666 less the umask. With Durability::kSynced, Commit()
// syncs the data and the folder entry before it returns, so a crash after
// it loses nothing; with kUnsynced it only renames.
class AtomicFileWriter {
 public:
  // Throws as CheckWritableTarget, or 75 for other failures.
  explicit AtomicFileWriter(const std::string& destination, Durability durability = Durability::kSynced);
  ~AtomicFileWriter();  // removes the temporary file unless committed
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Write(std::string_view bytes);
  // Copies exactly `length` bytes from the start of `source`; throws 5 when
  // the source holds fewer.
  void CopyFrom(const InputFile& source, uint64_t length);
  // Flushes and syncs the file, renames it over the destination and syncs
  // the folder (or, written through, flushes and closes it).
  void Commit();

 private:
  void Flush();
  std::string destination_;  // symbolic links resolved
  std::string temp_path_;    // empty when written through
  int fd_ = -1;
  std::string buffer_;
  bool committed_ = false;
  Durability durability_ = Durability::kSynced;
  bool replaces_ = false;  // an old regular file is being replaced
  uid_t old_owner_ = 0;
  gid_t old_group_ = 0;
  mode_t old_mode_ = 0;
};

}  // namespace vellix::formats
