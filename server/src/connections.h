// The server's own accept loop and connection handling around the HTTP
// library's request processing, so that every connection has a deadline
// for its request line and headers (no client that trickles bytes holds a
// thread), the number of connections at once is bounded, and a stop lets
// the requests in flight finish.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace vellix::server {

struct ConnectionLimits {
  int header_timeout_ms = 10000;
  int idle_timeout_ms = 10000;
  int keep_alive_ms = 5000;
  int max_connections = 128;
  int max_requests_per_connection = 1000;
  // Bytes a second an upload must at least keep up, on average, once its
  // headers are in.
  uint64_t min_body_rate = uint64_t{32} * 1024;
};

// Exposes the library's processing of one request on a stream.
class HttpCore : public httplib::Server {
 public:
  HttpCore();
  using httplib::Server::process_request;
};

class ConnectionLoop {
 public:
  ConnectionLoop(HttpCore& core, ConnectionLimits limits) : core_(core), limits_(limits) {}
  ~ConnectionLoop();

  bool Bind(const std::string& host, int port, std::string* error);
  int Port() const { return port_; }
  // Accepts until Stop(), then waits for every connection to finish.
  void Run();
  void Stop() { stopping_ = true; }
  bool Stopping() const { return stopping_; }

  // Called once the headers of the current request on this thread are in:
  // the body then has until its size at the least rate allows.
  static void HeadersDone(uint64_t content_length);

 private:
  void Serve(int sock);

  HttpCore& core_;
  ConnectionLimits limits_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  int active_ = 0;
};

}  // namespace vellix::server
