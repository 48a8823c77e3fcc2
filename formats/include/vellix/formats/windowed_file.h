// A read-only view of a file through a window of at most 102400 bytes.
//
// The container parser walks files of any size with this fixed amount of
// memory. Reading moves a position forward through the window; a seek that
// lands inside the window (both ends included) only moves the position,
// one outside it reloads the window at the target. A file whose reading
// fails part-way is treated as ending where the last read ended.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace vellix::formats {

class WindowedFile {
 public:
  static constexpr int64_t kWindowSize = 102400;

  // Smaller windows only serve tests that push every read across an edge.
  explicit WindowedFile(int64_t window_size = kWindowSize)
      : window_size_(std::clamp<int64_t>(window_size, 1, kWindowSize)) {}
  ~WindowedFile() { Close(); }
  WindowedFile(const WindowedFile&) = delete;
  WindowedFile& operator=(const WindowedFile&) = delete;

  // Opens a regular file and loads its first window at position 0. False
  // when a file is already open or `path` names no readable regular file.
  // Throws only std::bad_alloc (and what the load observer throws).
  bool Open(const std::string& path);
  // Closes the file and frees the window.
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // The byte at the position, which then moves on by one. At the end of
  // the file: 0, nothing moves and AtEnd() turns true.
  uint8_t ReadByte() {
    if (position_ < window_end_) {
      at_end_ = false;
      return window_[position_++ - window_begin_];
    }
    return ReadByteSlow();
  }
  // Undoes one ReadByte: one byte back (none at offset 0), except after a
  // read that met the end of the file, which consumed nothing; then it only
  // clears AtEnd().
  void StepBack() {
    if (at_end_)
      at_end_ = false;
    else if (position_ > window_begin_)
      --position_;
    else if (position_ > 0)
      Seek(position_ - 1);
  }
  // The byte at the position without moving; 0 at the end of the file.
  uint8_t Peek() {
    if (position_ < window_end_) return window_[position_ - window_begin_];
    return PeekSlow();
  }
  // Moves to `offset`; false (and no move) unless 0 <= offset <= Size().
  bool Seek(int64_t offset);

  int64_t Position() const { return position_; }
  int64_t Size() const { return size_; }
  // Whether the last read met the end of the file.
  bool AtEnd() const { return at_end_; }

  // The bytes from the position to the end of the window, after loading
  // the next window when the position has reached the end of this one.
  // Empty only at the end of the file. Valid until the position moves.
  std::span<const uint8_t> Ahead();
  // Moves forward over the first `count` bytes of Ahead().
  void Advance(size_t count) { position_ += static_cast<int64_t>(count); }

  // Called with (offset, size) before each window load after the first.
  void SetLoadObserver(std::function<void(int64_t, int64_t)> observer) { observer_ = std::move(observer); }

 private:
  uint8_t ReadByteSlow();
  uint8_t PeekSlow();
  void Load(int64_t offset);

  std::FILE* file_ = nullptr;
  bool at_end_ = false;
  int64_t size_ = 0;
  int64_t window_begin_ = 0;  // file offset of window_[0]
  int64_t window_end_ = 0;    // file offset just past the loaded bytes
  int64_t position_ = 0;
  int64_t file_offset_ = 0;  // where the next fread would start
  int64_t window_size_;
  int64_t capacity_ = 0;
  std::unique_ptr<uint8_t[]> window_;
  std::function<void(int64_t, int64_t)> observer_;
};

}  // namespace vellix::formats
