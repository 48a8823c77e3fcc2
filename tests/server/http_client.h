// A test's side of HTTP: raw requests over a loopback socket, so the
// target goes out byte for byte as written (no client tidies a "..").
#pragma once

#include <map>
#include <memory>
#include <string>
#include <thread>

#include "vellix/server/shelf_server.h"

namespace vellix::testing {

struct HttpAnswer {
  int status = 0;
  std::map<std::string, std::string> headers;  // names lower-cased
  std::string body;
  bool closed_early = false;  // no complete answer came
  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
  }
};

// Sends `method target` with `extra` header lines (each ending in CR LF)
// and `body`, reads the whole answer (the connection is closed after it).
HttpAnswer Request(int port, const std::string& method, const std::string& target, const std::string& extra = "",
                   const std::string& body = "");
inline HttpAnswer Get(int port, const std::string& target, const std::string& extra = "") {
  return Request(port, "GET", target, extra);
}

// A connected socket to 127.0.0.1:port (-1 on failure).
int Connect(int port);

// A server on a free loopback port, run on a thread of its own for the
// life of this object; its log lines are kept.
class RunningServer {
 public:
  explicit RunningServer(vellix::server::ServeOptions options);
  ~RunningServer();
  int port() const { return port_; }
  std::string Log();

 private:
  std::unique_ptr<vellix::server::ShelfServer> server_;
  std::thread thread_;
  int port_ = 0;
  std::shared_ptr<std::pair<std::mutex, std::string>> log_;
};

}  // namespace vellix::testing
