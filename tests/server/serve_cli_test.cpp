// `vellix serve` as a user runs it: the start line with the address, the
// access log on stderr, and SIGTERM ending it cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "http_client.h"
#include "test_util.h"

namespace vellix::testing {
namespace {

std::string ReadSome(int fd, const std::string& until, int timeout_ms) {
  std::string text;
  char buffer[4096];
  while (text.find(until) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) break;
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// `vellix serve DIR --port 0` with its stdout and stderr on pipes; port is
// the one its start line names, or -1 when it named none.
struct ServeRun {
  pid_t pid = -1;
  int out = -1, err = -1;
  int port = -1;
  std::string start;  // what it printed up to the upload line
};

ServeRun StartServe(const std::string& dir) {
  ServeRun run;
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return run;
  run.pid = ::fork();
  if (run.pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execl(VELLIX_TOOL, VELLIX_TOOL, "serve", dir.c_str(), "--port", "0", nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  run.out = out[0];
  run.err = err[0];
  run.start = ReadSome(run.out, "upload:", 10000);
  std::smatch m;
  if (std::regex_search(run.start, m, std::regex("at http://127\\.0\\.0\\.1:([0-9]+)/"))) run.port = std::stoi(m[1]);
  return run;
}

TEST(ServeCommand, ServesUntilSigtermLogsEachRequestAndBindsLoopbackByDefault) {
  fixtures::TempDir dir;
  fixtures::WriteFile(dir / "ONEBOOK.imp", fixtures::SimpleBookFile(fixtures::Info{}));
  ServeRun serve = StartServe(dir.path());
  ASSERT_NE(serve.port, -1) << serve.start;
  const int port = serve.port;
  EXPECT_NE(serve.start.find("upload:    off"), std::string::npos);

  HttpAnswer list = Get(port, "/list.txt");
  EXPECT_EQ(list.status, 200);
  EXPECT_NE(list.body.find("A Title"), std::string::npos);
  const std::string log = ReadSome(serve.err, "\n", 5000);
  EXPECT_TRUE(std::regex_search(
      log, std::regex(
               R"(^127\.0\.0\.1 - - \[\d\d/\w\w\w/\d{4}:\d\d:\d\d:\d\d \+0000\] "GET /list.txt HTTP/1.1" 200 \d+\n)")))
      << log;

  ::kill(serve.pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(serve.pid, &status, 0), serve.pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::close(serve.out);
  ::close(serve.err);
  EXPECT_EQ(Connect(port), -1);
}

// A log nobody reads (stderr to a pipe left full) never holds up serving:
// lines that do not fit are dropped, and counted once the log is read again.
TEST(ServeCommand, AnUnreadLogDoesNotStallServing) {
  fixtures::TempDir dir;
  fixtures::WriteFile(dir / "ONEBOOK.imp", fixtures::SimpleBookFile(fixtures::Info{}));
  ServeRun serve = StartServe(dir.path());
  ASSERT_NE(serve.port, -1) << serve.start;
  const int port = serve.port;

  // Some 300 KB of log lines, several times what a pipe holds.
  const std::string target = "/list.txt?" + std::string(250, 'p');
  int answered = 0;
  for (int i = 0; i < 1200 && answered == i; ++i) answered += Get(port, target).status == 200;
  EXPECT_EQ(answered, 1200);
  std::string log;
  for (std::string more; !(more = ReadSome(serve.err, "\n\n", 200)).empty();) log += more;  // drained
  EXPECT_EQ(Get(port, "/list.txt").status, 200);
  log = ReadSome(serve.err, "GET /list.txt HTTP", 5000);
  EXPECT_TRUE(std::regex_search(log, std::regex("^vellix: [0-9]+ log lines dropped: the log was not being read\n")))
      << log;

  ::close(serve.out);
  ::close(serve.err);  // first, so that a server stuck writing its log ends too
  ::kill(serve.pid, SIGTERM);
  ::waitpid(serve.pid, nullptr, 0);
}

}  // namespace
}  // namespace vellix::testing
