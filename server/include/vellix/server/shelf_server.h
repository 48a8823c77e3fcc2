// The bookshelf on the network: one HTTP server that offers a shelf folder
// to devices (the bookshelf text, the book list text and the book files),
// to people (a catalogue, a page and a reader per book), to reader apps (an
// OPDS catalogue) and, when a token is set, accepts documents to publish.
//
// Only books found in the shelf folder are ever served: every address is
// looked up among the shelf's book files, never joined to the folder.
// Requests are bounded in header size, body size, time and number at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vellix::server {

struct ServeOptions {
  std::string shelf = "";  // the shelf folder
  std::string bind = "127.0.0.1";
  int port = 8080;  // 0: any free port
  // The address devices and browsers reach this server at, e.g.
  // "https://books.example.org/shelf/"; "" takes it from each request's Host.
  std::string base_url = "";
  std::string upload_token = "";  // "" turns publishing by upload off
  uint64_t max_upload = 100ull * 1024 * 1024;
  int header_timeout_ms = 10000;  // the request line and headers, in all
  int idle_timeout_ms = 10000;    // one read or write that makes no progress
  int keep_alive_ms = 5000;       // between requests on one connection
  int max_connections = 128;      // connections served at once; more wait
  size_t page_cache_books = 8;    // books kept laid out for page images
  // Receives one access log line per request (common log format) and the
  // server's own notes; null: standard error.
  std::function<void(const std::string& line)> log = nullptr;
};

class ShelfServer {
 public:
  explicit ShelfServer(ServeOptions options);
  ~ShelfServer();
  ShelfServer(const ShelfServer&) = delete;
  ShelfServer& operator=(const ShelfServer&) = delete;

  // Opens the listening socket; false with `error` filled when it cannot.
  bool Bind(std::string* error);
  // The port bound (useful with port 0).
  int Port() const;
  // Serves until Stop(); then lets the requests in flight and any running
  // publication finish before returning.
  void Run();
  // Safe from any thread; returns at once.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend struct RequestProbe;  // the fuzz target's way in (server/src/request_probe.h)
};

}  // namespace vellix::server
