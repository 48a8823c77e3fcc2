#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>

namespace vellix::testing {

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

HttpAnswer Request(int port, const std::string& method, const std::string& target, const std::string& extra,
                   const std::string& body) {
  HttpAnswer answer;
  int fd = Connect(port);
  if (fd < 0) {
    answer.closed_early = true;
    return answer;
  }
  std::string request = method + " " + target + " HTTP/1.1\r\n";
  if (extra.find("Host:") == std::string::npos) request += "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  request += "Connection: close\r\n" + extra;
  if ((!body.empty() || method == "POST") && extra.find("Content-Length:") == std::string::npos)
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  char buffer[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  const size_t head_end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) != 0 || head_end == std::string::npos) {
    answer.closed_early = true;
    return answer;
  }
  answer.status = std::stoi(raw.substr(9, 3));
  size_t line = raw.find("\r\n") + 2;
  while (line < head_end) {
    size_t end = raw.find("\r\n", line);
    std::string header = raw.substr(line, end - line);
    size_t colon = header.find(':');
    std::string name = header.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t value = header.find_first_not_of(' ', colon + 1);
    answer.headers[name] = value == std::string::npos ? "" : header.substr(value);
    line = end + 2;
  }
  std::string rest = raw.substr(head_end + 4);
  if (answer.Header("transfer-encoding") == "chunked") {
    size_t at = 0;
    for (;;) {
      size_t end = rest.find("\r\n", at);
      if (end == std::string::npos) break;
      size_t size = std::stoul(rest.substr(at, end - at), nullptr, 16);
      if (size == 0) break;
      answer.body += rest.substr(end + 2, size);
      at = end + 2 + size + 2;
    }
  } else {
    answer.body = rest;
  }
  return answer;
}

RunningServer::RunningServer(vellix::server::ServeOptions options)
    : log_(std::make_shared<std::pair<std::mutex, std::string>>()) {
  options.bind = "127.0.0.1";
  options.port = 0;
  auto log = log_;
  options.log = [log](const std::string& line) {
    std::lock_guard lock(log->first);
    log->second += line + "\n";
  };
  server_ = std::make_unique<vellix::server::ShelfServer>(std::move(options));
  std::string error;
  if (!server_->Bind(&error)) {
    ADD_FAILURE() << error;
    return;
  }
  port_ = server_->Port();
  thread_ = std::thread([this] { server_->Run(); });
}

RunningServer::~RunningServer() {
  server_->Stop();
  if (thread_.joinable()) thread_.join();
}

std::string RunningServer::Log() {
  std::lock_guard lock(log_->first);
  return log_->second;
}

}  // namespace vellix::testing
