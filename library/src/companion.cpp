#include "companion.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>

#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"

namespace vellix {
namespace {

namespace fs = std::filesystem;

// Enough for a folder where a user keeps "a.htm", "a-2.htm" ... by hand.
constexpr int kMaxCandidates = 100;

// By the rights the writes will have (the effective ids), not the real ones.
bool WritableByUs(const fs::path& folder) { return ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0; }

// The folder companions of a source in `folder` go to: the folder itself
// when it can be written, else one cache folder for it (named after it, so
// that two read-only folders with "a.htm" each do not meet).
fs::path CompanionFolder(const fs::path& folder) {
  if (WritableByUs(folder)) return folder;
  fs::path full = fs::absolute(folder).lexically_normal();
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(full.string()));
  fs::path cache = fs::path(SuiteCacheFolder()) / "companions" / (full.filename().string() + "-" + hash);
  std::error_code ec;
  fs::create_directories(cache, ec);
  if (ec || !WritableByUs(cache))
    formats::Raise(formats::kPermissionDenied,
                   "Neither the folder " + folder.string() + " nor the cache folder " + cache.string() +
                       " can be written, so the files made from its documents have nowhere to go");
  return cache;
}

}  // namespace

std::string SuiteCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && *xdg == '/') return (fs::path(xdg) / "vellix-publisher").string();
  const char* home = std::getenv("HOME");
  return (fs::path(home && *home ? home : "/tmp") / ".cache" / "vellix-publisher").string();
}

void MarkAsCompanion(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << "\r\n" << kCompanionMark << "\r\n";
  out.close();
  if (!out) formats::Raise(formats::kPermissionDenied, path);
}

bool IsCompanionFile(const std::string& path) {
  bool is_folder = false;
  std::unique_ptr<formats::InputFile> file;
  try {
    file = formats::InputFile::OpenIfFile(path, is_folder);
  } catch (const formats::AutomationError&) {
    return false;
  }
  if (!file) return false;
  // Trailing line ends or spaces an editor may have added are allowed.
  constexpr std::string_view kMark = kCompanionMark;
  constexpr size_t kTail = kMark.size() + 64;
  uint64_t from = file->size() > kTail ? file->size() - kTail : 0;
  std::string tail = file->ReadUpTo(from, kTail);
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' ')) tail.pop_back();
  return std::string_view(tail).ends_with(kMark);
}

CompanionLock::CompanionLock(const std::string& source) {
  // Bounded, so that the cache folder does not grow with every source ever
  // published.
  constexpr size_t kLockFiles = 256;
  std::error_code ec;
  fs::path file = fs::weakly_canonical(fs::absolute(source), ec);
  if (ec) file = fs::absolute(source).lexically_normal();
  const std::string key = (file.parent_path() / file.stem()).string();
  char name[16];
  std::snprintf(name, sizeof name, "%02zx.lock", std::hash<std::string>{}(key) % kLockFiles);
  const fs::path folder = fs::path(SuiteCacheFolder()) / "locks";
  fs::create_directories(folder, ec);
  fd_ = ::open((folder / name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

CompanionLock::~CompanionLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::string CompanionPath(const std::string& source, const std::string& extension) {
  fs::path p(source);
  fs::path folder = p.parent_path();
  if (folder.empty()) folder = ".";
  folder = CompanionFolder(folder);
  const std::string stem = p.stem().string();
  for (int n = 1; n <= kMaxCandidates; ++n) {
    fs::path candidate = folder / (n == 1 ? stem + extension : stem + "-" + std::to_string(n) + extension);
    std::error_code ec;
    if (candidate == p || fs::equivalent(candidate, p, ec)) continue;
    if (!fs::exists(fs::symlink_status(candidate, ec)) || IsCompanionFile(candidate.string()))
      return candidate.string();
  }
  formats::Raise(formats::kPermissionDenied, "Every name for the " + extension + " file made from " + source +
                                                 " is taken by a file of your own in " + folder.string());
}

}  // namespace vellix
