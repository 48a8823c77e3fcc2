// The access log on a descriptor that may not be read in time (stderr to a
// pipe nobody drains, a slow journal): a line that cannot be written at
// once is dropped rather than waited for, so that logging never holds up
// a request. The next line that gets through is preceded by a count of
// those dropped.
#pragma once

#include <cstdint>
#include <string_view>

namespace vellix::server {

class LogWriter {
 public:
  explicit LogWriter(int fd);
  // Writes `line` and a line end, or drops it when the descriptor cannot
  // take it now. Not thread-safe: the caller serialises lines.
  void Line(std::string_view line);
  uint64_t dropped() const { return dropped_; }

 private:
  bool WriteNow(std::string_view bytes);

  int fd_;
  bool socket_ = false;
  uint64_t dropped_ = 0;
};

}  // namespace vellix::server
