#include "log_writer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

namespace vellix::server {

LogWriter::LogWriter(int fd) : fd_(fd) {
  struct stat st;
  socket_ = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool LogWriter::WriteNow(std::string_view bytes) {
  if (socket_) {
    ssize_t n;
    do {
      n = ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(bytes.size());
  }
  // A pipe that polls writable has room for PIPE_BUF bytes, so a write of
  // no more does not wait; files and terminals always poll writable.
  pollfd p{fd_, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready != 1 || (p.revents & POLLOUT) == 0) return false;
  ssize_t n;
  do {
    n = ::write(fd_, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(bytes.size());
}

void LogWriter::Line(std::string_view line) {
  std::string text;
  if (dropped_ > 0) text = "vellix: " + std::to_string(dropped_) + " log lines dropped: the log was not being read\n";
  text.append(line.substr(0, PIPE_BUF - 1 - text.size())).push_back('\n');
  if (WriteNow(text))
    dropped_ = 0;
  else
    ++dropped_;
}

}  // namespace vellix::server
