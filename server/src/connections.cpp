#include "connections.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vellix::server {
namespace {

using Clock = std::chrono::steady_clock;

std::string AddressText(const sockaddr_storage& addr, int* port) {
  char host[NI_MAXHOST] = "";
  char serv[NI_MAXSERV] = "";
  getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host, sizeof host, serv, sizeof serv,
              NI_NUMERICHOST | NI_NUMERICSERV);
  *port = 0;
  std::from_chars(serv, serv + std::strlen(serv), *port);  // left 0 when the service is no number
  return host;
}

// A socket stream whose reads share one deadline per request, and whose
// reads and writes each give up after the idle time without progress.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int sock, int idle_ms) : sock_(sock), idle_ms_(idle_ms) {}

  void SetReadDeadline(Clock::time_point deadline) { deadline_ = deadline; }

  bool is_readable() const override { return Wait(POLLIN, true); }
  // Writes wait for room themselves; asking first would cost a call each.
  bool is_writable() const override { return true; }

  // Each read and write is tried at once and waits only when it must.
  ssize_t read(char* ptr, size_t size) override {
    if (Clock::now() >= deadline_) return -1;
    for (;;) {
      ssize_t n = ::recv(sock_, ptr, size, MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, true)) return -1;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    for (;;) {
      ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLOUT, false)) return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) ip = AddressText(addr, &port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) ip = AddressText(addr, &port);
  }
  socket_t socket() const override { return sock_; }

 private:
  bool Wait(short events, bool reading) const {
    int timeout = idle_ms_;
    if (reading) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      if (left <= 0) return false;
      timeout = static_cast<int>(std::min<long long>(timeout, left));
    }
    pollfd p{sock_, events, 0};
    int r;
    do r = ::poll(&p, 1, timeout);
    while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (events | POLLHUP)) != 0;
  }

  int sock_;
  int idle_ms_;
  Clock::time_point deadline_ = Clock::now();
};

struct CurrentRequest {
  DeadlineStream* stream = nullptr;
  const ConnectionLimits* limits = nullptr;
};
thread_local CurrentRequest current_request;

}  // namespace

// The library streams response bodies only while it holds a listening
// socket of its own (its listen() would have opened one); the loop here
// listens instead, so the library is told it has one. It never uses it:
// its accept loop and stop() are not called.
HttpCore::HttpCore() { svr_sock_ = 0; }

ConnectionLoop::~ConnectionLoop() {
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool ConnectionLoop::Bind(const std::string& host, int port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    *error = "cannot listen on " + host + ": " + gai_strerror(rc) + " (give a numeric address)";
    return false;
  }
  int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  int yes = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
    *error = "cannot listen on " + host + " port " + service + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    freeaddrinfo(found);
    return false;
  }
  freeaddrinfo(found);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  AddressText(addr, &port_);
  listen_fd_ = fd;
  return true;
}

void ConnectionLoop::HeadersDone(uint64_t content_length) {
  if (!current_request.stream) return;
  const auto allowance = std::chrono::milliseconds(current_request.limits->idle_timeout_ms) +
                         std::chrono::seconds(content_length / current_request.limits->min_body_rate);
  current_request.stream->SetReadDeadline(Clock::now() + allowance);
}

void ConnectionLoop::Run() {
  while (!stopping_) {
    {
      std::unique_lock lock(mutex_);
      // Beyond the limit, connections wait in the listen queue.
      changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return active_ < limits_.max_connections; });
      if (active_ >= limits_.max_connections) continue;
    }
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    int sock = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (sock < 0) continue;
    int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    {
      std::lock_guard lock(mutex_);
      ++active_;
    }
    std::thread([this, sock] { Serve(sock); }).detach();
  }
  ::close(listen_fd_);
  listen_fd_ = -1;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return active_ == 0; });
}

void ConnectionLoop::Serve(int sock) {
  DeadlineStream stream(sock, limits_.idle_timeout_ms);
  current_request = {&stream, &limits_};
  for (int served = 0; served < limits_.max_requests_per_connection && !stopping_; ++served) {
    if (served > 0) {
      // Between requests: wait for the next one, or for a stop.
      bool ready = false;
      for (int waited = 0; waited < limits_.keep_alive_ms && !stopping_; waited += 100) {
        pollfd p{sock, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
          ready = true;
          break;
        }
      }
      if (!ready) break;
    }
    stream.SetReadDeadline(Clock::now() + std::chrono::milliseconds(limits_.header_timeout_ms));
    bool closed = false;
    const bool last = stopping_ || served + 1 == limits_.max_requests_per_connection;
    if (!core_.process_request(stream, last, closed, nullptr) || closed) break;
  }
  current_request = {};
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  std::lock_guard lock(mutex_);
  --active_;
  changed_.notify_all();
}

}  // namespace vellix::server
