#include "vellix/formats/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "vellix/formats/error.h"

namespace vellix {
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

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFromErrno(errno);
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

FolderListing ListFolderAll(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) RaiseFromErrno(errno, true);
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
    if (type == DT_REG) listing.files.emplace_back(name);
    else if (type == DT_DIR) listing.folders.emplace_back(name);
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

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string FileNamePart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentPart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ExtensionPart(const std::string& path) {
  std::string name = FileNamePart(path);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string BaseNamePart(const std::string& path) {
  std::string name = FileNamePart(path);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

InputFile::InputFile(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) RaiseFromErrno(errno);
  struct stat st;
  bool stated = ::fstat(fd_, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    int err = !stated ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd_);
    fd_ = -1;
    RaiseFromErrno(err);
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

std::unique_ptr<InputFile> InputFile::OpenIfFile(const std::string& path, bool& is_folder) {
  is_folder = false;
  if (path.empty()) return nullptr;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    // A folder we may not read, or nothing at all.
    is_folder = IsFolder(path);
    return nullptr;
  }
  struct stat st;
  bool stated = ::fstat(fd, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    is_folder = stated && S_ISDIR(st.st_mode);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<InputFile>(new InputFile(fd, static_cast<uint64_t>(st.st_size)));
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
      RaiseFromErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  return out;
}

std::string InputFile::ReadAt(uint64_t offset, size_t length) const {
  if (offset > size_ || length > size_ - offset) Raise(kInvalidArgument);
  std::string out = ReadUpTo(offset, length);
  if (out.size() != length) Raise(kInvalidArgument);
  return out;
}

std::string ReadWholeFile(const std::string& path) {
  InputFile file(path);
  return file.ReadUpTo(0, static_cast<size_t>(file.size()));
}

AtomicFileWriter::AtomicFileWriter(const std::string& destination, const std::string& prefix)
    : destination_(destination) {
  std::string folder = ParentPart(destination);
  if (!IsFolder(folder)) Raise(kPathNotFound);
  std::string pattern = JoinPath(folder, "." + prefix + "XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) RaiseFromErrno(errno, true);
  temp_path_.assign(name.data());
  // mkstemp makes the file private; a book is an ordinary file, and one
  // that replaces another keeps that one's permissions.
  struct stat st;
  mode_t mode = ::stat(destination.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  ::fchmod(fd_, mode);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
}

void AtomicFileWriter::Write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > (1u << 16)) Flush();
  if (bytes.size() >= (1u << 16)) {
    WriteAll(fd_, bytes.data(), bytes.size());
  } else {
    buffer_.append(bytes);
  }
}

void AtomicFileWriter::Flush() {
  WriteAll(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
}

void AtomicFileWriter::CopyFrom(const InputFile& source, uint64_t length) {
  Flush();
  if (source.size() < length) Raise(kInvalidArgument);
  off_t in_offset = 0;
  uint64_t left = length;
  while (left > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, 1u << 30));
    ssize_t n = ::copy_file_range(source.fd(), &in_offset, fd_, nullptr, chunk, 0);
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
      n = ::sendfile(fd_, source.fd(), &in_offset, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFromErrno(errno);
    }
    if (n == 0) Raise(kInvalidArgument);  // the file shrank while we copied it
    left -= static_cast<uint64_t>(n);
  }
}

void AtomicFileWriter::Commit() {
  Flush();
  if (::close(fd_) != 0) {
    fd_ = -1;
    RaiseFromErrno(errno);
  }
  fd_ = -1;
  if (::rename(temp_path_.c_str(), destination_.c_str()) != 0) RaiseFromErrno(errno);
  committed_ = true;
}

}  // namespace vellix
