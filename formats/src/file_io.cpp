#include "vellix/formats/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <utility>

#include "vellix/formats/error.h"

namespace vellix::formats {
namespace {

bool UpperLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = a[i], cb = b[i];
    if (ca >= 'a' && ca <= 'z') ca -= 32;
    if (cb >= 'a' && cb <= 'z') cb -= 32;
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// Failures name `path`, the file the caller asked for (not a temporary one).
void WriteAll(int fd, const char* data, size_t length, const std::string& path) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFromErrno(errno, path);
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

FolderListing ListFolderAll(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) RaiseFromErrno(errno, folder, true);
  FolderListing listing;
  while (dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat st;
      if (::fstatat(::dirfd(dir.get()), name, &st, 0) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_REG)
      listing.files.emplace_back(name);
    else if (type == DT_DIR)
      listing.folders.emplace_back(name);
  }
  std::sort(listing.files.begin(), listing.files.end(), UpperLess);
  std::sort(listing.folders.begin(), listing.folders.end(), UpperLess);
  return listing;
}

std::vector<std::string> ListFolder(const std::string& folder, EntryKind kind) {
  FolderListing listing = ListFolderAll(folder);
  return kind == EntryKind::kFile ? std::move(listing.files) : std::move(listing.folders);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RaiseMissing(const std::string& path, bool is_folder) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) RaiseFromErrno(errno, path, is_folder);
  Raise(is_folder ? kPathNotFound : kFileNotFound, path);
}

InputFile::InputFile(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) RaiseFromErrno(errno, path);
  struct stat st;
  bool stated = ::fstat(fd_, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    int err = !stated ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd_);
    fd_ = -1;
    RaiseFromErrno(err, path);
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

std::unique_ptr<InputFile> InputFile::OpenIfFile(const std::string& path, bool& is_folder) {
  is_folder = false;
  if (path.empty()) return nullptr;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    int err = errno;
    // A folder we may not read is still a folder; its listing reports the
    // problem. A file we may not read is an error, not an absent file.
    is_folder = IsFolder(path);
    if (!is_folder && (err == EACCES || err == EPERM)) RaiseFromErrno(err, path);
    return nullptr;
  }
  struct stat st;
  bool stated = ::fstat(fd, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    is_folder = stated && S_ISDIR(st.st_mode);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<InputFile>(new InputFile(fd, static_cast<uint64_t>(st.st_size), path));
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string InputFile::ReadUpTo(uint64_t offset, size_t length) const {
  if (offset >= size_) return {};
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  std::string out(length, '\0');
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFromErrno(errno, path_);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  return out;
}

std::string InputFile::ReadAt(uint64_t offset, size_t length) const {
  if (offset > size_ || length > size_ - offset) Raise(kInvalidArgument, path_);
  std::string out = ReadUpTo(offset, length);
  if (out.size() != length) Raise(kInvalidArgument, path_);
  return out;
}

std::string ReadWholeFile(const std::string& path) {
  InputFile file(path);
  return file.ReadUpTo(0, static_cast<size_t>(file.size()));
}

namespace {

// The folder part of `path`; "." when it has none.
std::string FolderOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

// The file `path` names once symbolic links in its last part are followed;
// a dangling link names the file it would point to.
std::string ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    ssize_t n = ::readlink(current.c_str(), target, sizeof target);
    if (n < 0) RaiseFromErrno(errno, current);
    if (static_cast<size_t>(n) == sizeof target) Raise(kBadFileName, current);
    std::string next(target, static_cast<size_t>(n));
    current = next[0] == '/' ? next : (std::filesystem::path(FolderOf(current)) / next).string();
  }
  Raise(kPathFileAccess, path + " (too many symbolic links)");
}

// What may not be written at all, whatever the kind of writer.
void CheckExisting(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) Raise(kPathFileAccess, path + " is a folder");
  // A rename would ignore what an ordinary delete refuses: a file without
  // any write bit stays, even for root, and so does one the caller may not
  // write.
  if (S_ISREG(st.st_mode) && ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0))
    Raise(kPermissionDenied, path + " is read-only");
}

// `stat` of `path`; false when nothing is there.
bool StatIfThere(const std::string& path, struct stat& st) {
  if (::stat(path.c_str(), &st) == 0) return true;
  if (errno != ENOENT) RaiseFromErrno(errno, path);
  return false;
}

constexpr char kNameLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kRandomLength = 6;

bool EndsInRandomLetters(std::string_view name) {
  if (name.size() < kRandomLength) return false;
  return std::all_of(name.end() - kRandomLength, name.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// ".<name>.vellix-tmp-", with `name` cut (at a character's start) so that
// the whole name with its six letters fits the 255 bytes a name may have.
std::string TemporaryStem(const std::string& name) {
  constexpr size_t kNameMax = 255;
  const size_t room = kNameMax - 1 - kTemporaryMarker.size() - kRandomLength;
  size_t keep = std::min(name.size(), room);
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return "." + name.substr(0, keep) + std::string(kTemporaryMarker);
}

// A new empty file "<folder>/.<name>.vellix-tmp-XXXXXX" with the mode of any
// new file (0666 less the umask, which open applies).
int CreateTemporary(const std::string& folder, const std::string& name, std::string& path) {
  const std::string stem = TemporaryStem(name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char bits[kRandomLength];
    if (::getrandom(bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) RaiseFromErrno(errno, folder);
    std::string temporary = stem;
    for (unsigned char b : bits) temporary += kNameLetters[b % (sizeof kNameLetters - 1)];
    path = (std::filesystem::path(folder) / temporary).string();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) {
      int err = errno;
      path.clear();
      RaiseFromErrno(err, folder, true);
    }
  }
  path.clear();
  Raise(kFileAlreadyExists, folder);
}

// Whether `path`, or anything in it when it is a folder, was written at
// `limit` or later (or cannot be told). Links are not followed.
bool TouchedSince(const std::string& path, bool is_folder, time_t limit) {
  auto newer = [limit](const std::filesystem::path& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) != 0 || st.st_mtime >= limit;
  };
  if (newer(path)) return true;
  if (!is_folder) return false;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
    if (newer(it->path())) return true;
  return static_cast<bool>(ec);
}

std::atomic<uint64_t> sync_count{0};
std::mutex sync_observer_mutex;
SyncObserver sync_observer;

// fsync, counted and observed.
int Sync(int fd, const std::string& path) {
  sync_count.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(sync_observer_mutex);
    if (sync_observer) sync_observer(path);
  }
  return ::fsync(fd);
}

// Makes a rename in `folder` survive a crash.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) RaiseFromErrno(errno, folder, true);
  int result = Sync(fd, folder), err = errno;
  ::close(fd);
  if (result != 0 && err != EINVAL) RaiseFromErrno(err, folder, true);
}

}  // namespace

bool IsSuiteTemporaryName(std::string_view name) {
  const size_t tail = kTemporaryMarker.size() + kRandomLength;
  return name.size() > tail + 1 && name.front() == '.' && EndsInRandomLetters(name) &&
         name.substr(name.size() - tail, kTemporaryMarker.size()) == kTemporaryMarker;
}

bool IsSuiteBuildFolderName(std::string_view name) {
  return name.size() == kBuildFolderPrefix.size() + kRandomLength && name.starts_with(kBuildFolderPrefix) &&
         EndsInRandomLetters(name);
}

void RemoveStaleTemporaries(const std::string& folder) {
  constexpr time_t kStaleSeconds = time_t{6} * 60 * 60;
  const time_t limit = ::time(nullptr) - kStaleSeconds;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  const uid_t me = ::geteuid();
  std::vector<std::string> stale_files, stale_folders;
  while (dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    const bool temporary = IsSuiteTemporaryName(name), build = IsSuiteBuildFolderName(name);
    if (!temporary && !build) continue;
    struct stat st;
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != me) continue;
    if (temporary ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) continue;
    const std::string path = (std::filesystem::path(folder) / name).string();
    if (TouchedSince(path, build, limit)) continue;
    (temporary ? stale_files : stale_folders).emplace_back(name);
  }
  for (const std::string& name : stale_files) (void)::unlinkat(::dirfd(dir.get()), name.c_str(), 0);
  std::error_code ec;
  // remove_all takes a symbolic link inside away without following it.
  for (const std::string& name : stale_folders) std::filesystem::remove_all(std::filesystem::path(folder) / name, ec);
}

uint64_t FileSyncCount() { return sync_count.load(std::memory_order_relaxed); }

void SetSyncObserver(SyncObserver observer) {
  std::lock_guard<std::mutex> lock(sync_observer_mutex);
  sync_observer = std::move(observer);
}

void RefuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out;
  if (::stat(output.c_str(), &out) != 0) return;
  for (const std::string& input : inputs) {
    struct stat in;
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      Raise(kPathFileAccess, output + " is also an input (" + input + ")");
  }
}

void CheckWritableTarget(const std::string& destination) {
  std::string target = ResolveLinks(destination);
  struct stat st;
  if (StatIfThere(target, st))
    CheckExisting(target, st);
  else if (!IsFolder(FolderOf(target)))
    Raise(kPathNotFound, destination);
}

AtomicFileWriter::AtomicFileWriter(const std::string& destination, Durability durability)
    : destination_(ResolveLinks(destination)), durability_(durability) {
  struct stat st;
  bool exists = StatIfThere(destination_, st);
  if (exists) CheckExisting(destination_, st);
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a FIFO is the reader itself: write to it, never replace it.
    fd_ = ::open(destination_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) RaiseFromErrno(errno, destination_);
    return;
  }
  if (exists) {
    replaces_ = true;
    old_owner_ = st.st_uid;
    old_group_ = st.st_gid;
    old_mode_ = st.st_mode & 07777;
  }
  std::string folder = FolderOf(destination_);
  struct stat folder_st;
  if (::stat(folder.c_str(), &folder_st) != 0) RaiseFromErrno(errno, destination, true);
  if (!S_ISDIR(folder_st.st_mode)) Raise(kPathNotFound, destination);
  fd_ = CreateTemporary(folder, std::filesystem::path(destination_).filename().string(), temp_path_);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
}

void AtomicFileWriter::Write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > (1u << 16)) Flush();
  if (bytes.size() >= (1u << 16)) {
    WriteAll(fd_, bytes.data(), bytes.size(), destination_);
  } else {
    buffer_.append(bytes);
  }
}

void AtomicFileWriter::Flush() {
  WriteAll(fd_, buffer_.data(), buffer_.size(), destination_);
  buffer_.clear();
}

void AtomicFileWriter::CopyFrom(const InputFile& source, uint64_t length) {
  Flush();
  if (source.size() < length) Raise(kInvalidArgument, source.path());
  off_t in_offset = 0;
  uint64_t left = length;
  while (left > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, 1u << 30));
    ssize_t n = ::copy_file_range(source.fd(), &in_offset, fd_, nullptr, chunk, 0);
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
      n = ::sendfile(fd_, source.fd(), &in_offset, chunk);
    if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
      // Some devices (/dev/full) take neither: plain reads and writes.
      std::string piece = source.ReadUpTo(static_cast<uint64_t>(in_offset), std::min<size_t>(chunk, 1u << 16));
      if (piece.empty()) Raise(kInvalidArgument, source.path());
      WriteAll(fd_, piece.data(), piece.size(), destination_);
      in_offset += static_cast<off_t>(piece.size());
      n = static_cast<ssize_t>(piece.size());
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFromErrno(errno, destination_);
    }
    if (n == 0) Raise(kInvalidArgument, source.path());  // the file shrank while we copied it
    left -= static_cast<uint64_t>(n);
  }
}

void AtomicFileWriter::Commit() {
  Flush();
  int fd = std::exchange(fd_, -1);
  if (temp_path_.empty()) {
    // Written through: a block device keeps what it was given; other kinds
    // cannot be synced and say so with EINVAL.
    if (durability_ == Durability::kSynced && Sync(fd, destination_) != 0 && errno != EINVAL && errno != EROFS) {
      int err = errno;
      ::close(fd);
      RaiseFromErrno(err, destination_);
    }
    if (::close(fd) != 0) RaiseFromErrno(errno, destination_);
    committed_ = true;
    return;
  }
  if (replaces_) {
    // Owner first, since a change of owner clears the set-id bits; where
    // the owner cannot be given back, the group may still be.
    if (::fchown(fd, old_owner_, old_group_) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old_group_);
    (void)::fchmod(fd, old_mode_);
  }
  const bool synced = durability_ == Durability::kSynced;
  if (synced && Sync(fd, destination_) != 0) {
    int err = errno;
    ::close(fd);
    RaiseFromErrno(err, destination_);
  }
  if (::close(fd) != 0) RaiseFromErrno(errno, destination_);
  if (::rename(temp_path_.c_str(), destination_.c_str()) != 0) RaiseFromErrno(errno, destination_);
  committed_ = true;
  if (synced) SyncFolder(FolderOf(destination_));
}

}  // namespace vellix::formats
