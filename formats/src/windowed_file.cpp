#include "vellix/formats/windowed_file.h"

#include <sys/stat.h>

#include <algorithm>

namespace vellix::formats {

bool WindowedFile::Open(const std::string& path) {
  if (file_) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  // fopen happily opens a folder; only a regular file has a size to walk.
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  // Window loads read straight into the window; a stdio buffer would only
  // copy every byte once more.
  std::setvbuf(f, nullptr, _IONBF, 0);
  size_ = st.st_size;
  capacity_ = std::min(size_, window_size_);
  try {
    window_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity_));
  } catch (...) {
    std::fclose(f);
    throw;
  }
  file_ = f;
  file_offset_ = 0;
  at_end_ = false;
  window_begin_ = window_end_ = position_ = 0;
  auto observer = std::move(observer_);  // the first load is no progress
  observer_ = nullptr;
  Load(0);
  observer_ = std::move(observer);
  return true;
}

void WindowedFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  window_.reset();
  capacity_ = size_ = 0;
  window_begin_ = window_end_ = position_ = 0;
  at_end_ = false;
}

uint8_t WindowedFile::ReadByteSlow() {
  if (position_ >= size_) {
    at_end_ = true;
    return 0;
  }
  Load(position_);
  if (position_ >= window_end_) {  // the file ended early
    at_end_ = true;
    return 0;
  }
  at_end_ = false;
  return window_[position_++ - window_begin_];
}

uint8_t WindowedFile::PeekSlow() {
  if (position_ >= size_) return 0;
  Load(position_);
  return position_ < window_end_ ? window_[0] : 0;
}

bool WindowedFile::Seek(int64_t offset) {
  if (offset < 0 || offset > size_) return false;
  at_end_ = false;
  if (offset >= window_begin_ && offset <= window_end_)
    position_ = offset;
  else
    Load(offset);
  return true;
}

std::span<const uint8_t> WindowedFile::Ahead() {
  if (position_ >= window_end_ && position_ < size_) Load(position_);
  if (position_ >= window_end_) return {};
  return {window_.get() + (position_ - window_begin_), static_cast<size_t>(window_end_ - position_)};
}

void WindowedFile::Load(int64_t offset) {
  if (observer_) observer_(offset, size_);
  window_begin_ = window_end_ = position_ = offset;
  int64_t wanted = std::min(capacity_, size_ - offset);
  if (wanted <= 0) return;
  size_t got = 0;
  // Reading straight on needs no seek; most loads do.
  if (offset == file_offset_ || ::fseeko(file_, offset, SEEK_SET) == 0)
    got = std::fread(window_.get(), 1, static_cast<size_t>(wanted), file_);
  window_end_ = offset + static_cast<int64_t>(got);
  file_offset_ = static_cast<int64_t>(got) == wanted ? window_end_ : -1;  // unknown after a failure
  // A short read means the file shrank or cannot be read further: from
  // here on it ends where the read ended.
  if (static_cast<int64_t>(got) < wanted) size_ = window_end_;
}

}  // namespace vellix::formats
