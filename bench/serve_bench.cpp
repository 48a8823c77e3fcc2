// serve-bench: the shelf server's speed, measured in one run.
//
//  - Book downloads and /list.txt at 64 connections, by wrk, against nginx
//    serving the same bytes as static files (goal: at least half its
//    requests per second), with p99 latency for both and the server's
//    memory before and after.
//  - The catalogue page of a 10,000-book shelf: time to first byte of the
//    first request and of the ones after it (goal: under 100 ms after the
//    first; the shelf is read once and kept).
//  - Page images of a 1 MB book once it is open (goal: under 50 ms each).
//
// wrk and nginx (Debian's wrk and nginx-light) are installed only for this
// benchmark; without them the first part is skipped. Everything listens
// on 127.0.0.1 only, and every run is bounded in time.
//
//   serve-bench            full size
//   serve-bench --small    tiny sizes and 1-second runs: does it run?
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "book_maker.h"
#include "harness.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/server/shelf_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vellix::bench::Clock;
using vellix::bench::MillisecondsSince;
using vellix::bench::ScratchFolder;
using vellix::fixtures::Info;
using vellix::fixtures::SimpleBookFile;
using vellix::fixtures::WriteFile;

// One GET over a fresh connection: the time to the answer's first byte and
// to its end, and the whole answer.
struct Fetch {
  double first_byte_ms = -1, total_ms = -1;
  std::string raw;
};
Fetch Get(int port, const std::string& target) {
  Fetch f;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto start = Clock::now();
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return f;
  }
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    ::close(fd);
    return f;
  }
  char buffer[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    if (f.raw.empty()) f.first_byte_ms = MillisecondsSince(start);
    f.raw.append(buffer, static_cast<size_t>(n));
  }
  f.total_ms = MillisecondsSince(start);
  ::close(fd);
  return f;
}

std::string Body(const std::string& raw) {
  size_t at = raw.find("\r\n\r\n");
  return at == std::string::npos ? "" : raw.substr(at + 4);
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  ::close(fd);
  return bound ? ntohs(addr.sin_port) : 0;
}

bool OnPath(const std::string& program) {
  for (const char* dir : {"/usr/bin", "/usr/sbin", "/usr/local/bin"})
    if (::access((std::string(dir) + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Starts `args` with stdout into a pipe (when `out_fd`) and returns its pid,
// without waiting for it.
pid_t Start(const std::vector<std::string>& args, int* out_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipe_fds[2] = {-1, -1};
  if (out_fd) {
    if (::pipe(pipe_fds) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (out_fd) {
    ::close(pipe_fds[1]);
    *out_fd = pipe_fds[0];
  }
  return pid;
}

std::string RunAndRead(const std::vector<std::string>& args) {
  int fd = -1;
  pid_t pid = Start(args, &fd);
  if (pid < 0) return "";
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

struct WrkResult {
  double requests_per_second = 0;
  std::string p99;
  std::string errors;  // "" when none
};

WrkResult Wrk(const std::string& url, int seconds) {
  const std::string out =
      RunAndRead({"wrk", "-t2", "-c64", "-d" + std::to_string(seconds) + "s", "--timeout", "5s", "--latency", url});
  WrkResult r;
  std::smatch m;
  if (std::regex_search(out, m, std::regex(R"(Requests/sec:\s+([0-9.]+))"))) r.requests_per_second = std::stod(m[1]);
  if (std::regex_search(out, m, std::regex(R"(\n\s+99%\s+(\S+))"))) r.p99 = m[1];
  if (std::regex_search(out, m, std::regex(R"(Socket errors:[^\n]*)"))) r.errors += m[0].str() + " ";
  if (std::regex_search(out, m, std::regex(R"(Non-2xx or 3xx responses: \d+)"))) r.errors += m[0].str();
  if (r.requests_per_second == 0) r.errors += "wrk said: " + out;
  return r;
}

class Server {
 public:
  explicit Server(const std::string& shelf) {
    vellix::server::ServeOptions options;
    options.shelf = shelf;
    options.port = 0;
    options.log = [](const std::string&) {};
    server_ = std::make_unique<vellix::server::ShelfServer>(options);
    std::string error;
    if (!server_->Bind(&error)) throw std::runtime_error(error);
    thread_ = std::thread([this] { server_->Run(); });
  }
  ~Server() {
    server_->Stop();
    thread_.join();
  }
  int port() const { return server_->Port(); }

 private:
  std::unique_ptr<vellix::server::ShelfServer> server_;
  std::thread thread_;
};

void Downloads(const fs::path& dir, bool small) {
  std::cout << "== Book downloads and /list.txt at 64 connections, against nginx ==\n";
  const fs::path shelf = dir / "shelf";
  fs::create_directories(shelf);
  Info big;
  big.id = "BIG200";
  big.title = "A Book of 200 KB";
  WriteFile((shelf / "BIGBOOK1.imp").string(), SimpleBookFile(big, "", std::string(size_t{200} * 1024, 'b')));
  for (int i = 0; i < 50; ++i) {
    Info book;
    book.id = "ID" + std::to_string(i);
    book.title = "Book number " + std::to_string(i);
    WriteFile((shelf / ("BOOK" + std::to_string(1000 + i) + ".imp")).string(), SimpleBookFile(book));
  }
  if (!OnPath("wrk") || !OnPath("nginx")) {
    std::cout << "  skipped: wrk and nginx are not installed (apt-get install wrk nginx-light)\n\n";
    return;
  }
  Server ours(shelf.string());
  // nginx serves the same bytes: the list as our server writes it, the book.
  const fs::path root = dir / "static";
  fs::create_directories(root / "books");
  WriteFile((root / "list.txt").string(), Body(Get(ours.port(), "/list.txt").raw));
  fs::copy_file(shelf / "BIGBOOK1.imp", root / "books" / "BIGBOOK1.imp");
  const int nginx_port = FreePort();
  const fs::path conf = dir / "nginx.conf";
  std::ofstream(conf) << "worker_processes auto;\npid " << (dir / "nginx.pid").string() << ";\nerror_log "
                      << (dir / "nginx-error.log").string()
                      << ";\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n  sendfile on;\n"
                         "  client_body_temp_path "
                      << (dir / "tmp").string() << ";\n  server {\n    listen 127.0.0.1:" << nginx_port
                      << ";\n    root " << root.string() << ";\n  }\n}\n";
  fs::create_directories(dir / "tmp");
  pid_t nginx = Start({"nginx", "-p", dir.string(), "-c", conf.string(), "-g", "daemon off;"}, nullptr);
  for (int i = 0; i < 50 && Get(nginx_port, "/list.txt").raw.empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const int seconds = small ? 1 : 5;
  const long rss_before = RssKb();
  for (const auto& [name, path] :
       {std::pair{"/list.txt", "/list.txt"}, std::pair{"200 KB book", "/books/BIGBOOK1.imp"}}) {
    WrkResult a = Wrk("http://127.0.0.1:" + std::to_string(ours.port()) + path, seconds);
    WrkResult b = Wrk("http://127.0.0.1:" + std::to_string(nginx_port) + path, seconds);
    std::printf("  %-12s vellix serve %9.0f req/s (p99 %s)   nginx %9.0f req/s (p99 %s)   ratio %.2f (goal >= 0.50)\n",
                name, a.requests_per_second, a.p99.c_str(), b.requests_per_second, b.p99.c_str(),
                b.requests_per_second > 0 ? a.requests_per_second / b.requests_per_second : 0.0);
    if (!a.errors.empty()) std::printf("    vellix serve: %s\n", a.errors.c_str());
    if (!b.errors.empty()) std::printf("    nginx: %s\n", b.errors.c_str());
  }
  std::printf("  server memory: %ld KB before the runs, %ld KB after\n\n", rss_before, RssKb());
  ::kill(nginx, SIGTERM);
  int status = 0;
  ::waitpid(nginx, &status, 0);
}

void Catalogue(const fs::path& dir, bool small) {
  const int books = small ? 300 : 10000;
  std::cout << "== The catalogue of a " << books << "-book shelf ==\n";
  const fs::path shelf = dir / "big-shelf";
  fs::create_directories(shelf);
  for (int i = 0; i < books; ++i) {
    Info book;
    book.id = "C" + std::to_string(i);
    book.title = "Title " + std::to_string((i * 7919) % books);
    book.author_last = "Author" + std::to_string(i % 97);
    book.category = "Category " + std::to_string(i % 13);
    WriteFile((shelf / ("B" + std::to_string(100000 + i) + ".imp")).string(), SimpleBookFile(book));
  }
  Server server(shelf.string());
  Fetch first = Get(server.port(), "/");
  std::vector<double> after;
  for (int i = 0; i < 9; ++i) after.push_back(Get(server.port(), "/").first_byte_ms);
  std::sort(after.begin(), after.end());
  std::printf("  first request: first byte %.1f ms (the shelf read once: the server reads it on start)\n",
              first.first_byte_ms);
  std::printf("  later requests: first byte median %.1f ms, max %.1f ms (goal < 100 ms); page %zu KB\n\n",
              after[after.size() / 2], after.back(), first.raw.size() / 1024);
}

void PageImages(const fs::path& dir, bool small) {
  std::cout << "== Page images of a large book once open ==\n";
  const fs::path shelf = dir / "page-shelf";
  fs::create_directories(shelf);
  // Text of plain words in a varied order, so the book does not shrink to
  // nothing when compressed.
  static const char* kWords[] = {"river", "light", "path", "stone", "water",  "evening", "bridge", "field",
                                 "the",   "and",   "of",   "under", "slowly", "between", "old",    "morning",
                                 "walls", "green", "wind", "north", "over",   "hill",    "quiet",  "bend"};
  std::mt19937 random(42);
  std::string text;
  const size_t target = small ? 40 * 1024 : 3 * 1024 * 1024;
  while (text.size() < target) {
    for (int w = 0; w < 60; ++w) {
      text += kWords[random() % (sizeof kWords / sizeof *kWords)];
      text += w == 59 ? ".\n\n" : " ";
    }
  }
  const fs::path source = dir / "long.txt";
  WriteFile(source.string(), text);
  vellix::Bookshelf s;
  s.Load(shelf.string());
  auto book = std::make_shared<vellix::Book>();
  book->Load(source.string());
  book->SetTitle("A Long Walk");
  std::string written;
  const auto build_start = Clock::now();
  s.Add(book, nullptr, &written);
  const double build_ms = MillisecondsSince(build_start);
  const std::string id = fs::path(written).stem().string();

  Server server(shelf.string());
  Fetch open = Get(server.port(), "/books/" + id);
  std::smatch m;
  const std::string page = Body(open.raw);
  int pages = 1;
  if (std::regex_search(page, m, std::regex("Page 1 of (\\d+)"))) pages = std::stoi(m[1]);
  std::vector<double> times;
  for (int i = 0; i < 20; ++i) {
    const int n = 1 + static_cast<int>((static_cast<long long>(i) * 7919) % pages);
    times.push_back(Get(server.port(), "/books/" + id + "/pages/" + std::to_string(n) + ".png").total_ms);
  }
  std::sort(times.begin(), times.end());
  std::printf("  book: %ju KB, %d pages (published in %.0f ms); opening its page (laying it out) %.0f ms\n",
              static_cast<uintmax_t>(fs::file_size(written) / 1024), pages, build_ms, open.total_ms);
  std::printf("  20 page images across the book: median %.1f ms, max %.1f ms (goal < 50 ms)\n\n",
              times[times.size() / 2], times.back());
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const bool small = argc > 1 && std::strcmp(argv[1], "--small") == 0;
  try {
    ScratchFolder scratch("shelves");
    const fs::path dir = scratch.path();
    // nginx's workers run as an unprivileged user and must read the files.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    Downloads(dir, small);
    Catalogue(dir, small);
    PageImages(dir, small);
  } catch (const std::exception& e) {
    std::cerr << "serve-bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
