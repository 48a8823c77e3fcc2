#include "test_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vellix::fixtures {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vellix-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  ExpectSourcesUntouched();
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  fs::create_directories(fs::path(*this / name).parent_path());
  WriteFile(*this / name, bytes);
  sources_.erase(*this / name);
  return *this / name;
}

std::string TempDir::Source(const std::string& name, const std::string& bytes) const {
  Write(name, bytes);
  sources_[*this / name] = bytes;
  return *this / name;
}

void TempDir::ExpectSourcesUntouched() const {
  for (const auto& [path, bytes] : sources_) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) continue;  // removed or moved by the test itself
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;  // made unreadable by the test
    std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now, bytes) << "the source " << path << " was changed";
  }
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

ToolOutcome RunTool(const std::string& program, const std::vector<std::string>& args, const std::string& locale) {
  TempDir streams;  // the two output streams go to files: no pipe to deadlock on
  std::string out = streams / "stdout", err = streams / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  // posix_spawn takes NULL-ended arrays of C strings.
  auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> list;
    for (std::string& s : strings) list.push_back(s.data());
    list.push_back(nullptr);
    return list;
  };
  std::vector<std::string> all = {program}, env;
  all.insert(all.end(), args.begin(), args.end());
  for (char** e = environ; *e; ++e) {
    std::string var = *e;
    if (locale.empty() || (var.rfind("LC_", 0) != 0 && var.rfind("LANG=", 0) != 0)) env.push_back(var);
  }
  if (!locale.empty()) env.push_back("LC_ALL=" + locale);
  std::vector<char*> argv = pointers(all), envp = pointers(env);

  ToolOutcome r;
  pid_t pid = 0;
  int status = 0;
  if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0 &&
      ::waitpid(pid, &status, 0) == pid)
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

void ExpectCli(const std::string& tool, const std::string& folder, const CliCase& c) {
  auto at = [&](std::string s) {
    for (size_t i = 0; (i = s.find('@', i)) != std::string::npos; i += folder.size()) s.replace(i, 1, folder);
    return s;
  };
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(at(a));
  SCOPED_TRACE("vellix " + ::testing::PrintToString(c.args));
  ToolOutcome r = RunTool(tool, args, c.locale);
  EXPECT_EQ(r.code, c.code) << r.err;
  EXPECT_TRUE(std::regex_match(r.err, std::regex(at(c.err)))) << r.err;
  if (c.out) {
    EXPECT_EQ(r.out, at(*c.out));
  }
  if (c.check) c.check(r);
}

bool XmlWellFormed(const std::string& path) {
  ToolOutcome r = RunTool("xmllint", {"--noout", "--nonet", path});
  EXPECT_EQ(r.err, "") << path;
  return r.code == 0;
}

std::string DefaultPackageText() { return ReadFile(VELLIX_DEFAULT_PACKAGE); }

void ExpectGolden(const std::string& name, std::string actual, const Placeholders& placeholders) {
  for (const auto& [text, placeholder] : placeholders)
    for (size_t at = 0; !text.empty() && (at = actual.find(text, at)) != std::string::npos; at += placeholder.size())
      actual.replace(at, text.size(), placeholder);
  std::string path = std::string(VELLIX_TEST_DATA) + "/" + name;
  if (std::getenv("VELLIX_UPDATE_GOLDEN")) {
    WriteFile(path, actual);
    return;
  }
  if (!fs::exists(path))
    ADD_FAILURE() << "no golden file " << path;
  else
    EXPECT_EQ(actual, ReadFile(path)) << "differs from " << path;
}

namespace {  // the OEBFF containers' line end and delimiter
const std::string kCrLf = "\r\n";
const std::string kDelimiter = std::string("--") + kBoundary;
}  // namespace

std::string ContainerHeader() {
  return "MIME-Version: 1.0" + kCrLf + "Content-Type: multipart/related;" + kCrLf + "\ttype=\"application/x-oeb1\";" +
         kCrLf + "\tstart=\"" + kStartId + "\";" + kCrLf + "\tboundary=\"" + kBoundary + "\"" + kCrLf;
}

std::string PackageHeader() {
  return kCrLf + kDelimiter + kCrLf + "Content-Type: text/xml" + kCrLf + "Content-ID: " + kStartId + kCrLf + kCrLf;
}

std::string FileHeader(const std::string& media_type, const std::string& id, const std::string& href) {
  return kCrLf + kDelimiter + kCrLf + "Content-Type: " + media_type + kCrLf + "Content-OEB-ID: " + id + kCrLf +
         "Content-Disposition: href=\"" + href + "\"" + kCrLf + "Content-Transfer-Encoding: binary" + kCrLf + kCrLf;
}

std::string Footer() { return kCrLf + kDelimiter + "--" + kCrLf; }

Container MakeContainer(const std::string& package, const std::vector<Item>& items) {
  Container c;
  c.bytes = ContainerHeader() + PackageHeader();
  c.content_offsets.push_back(static_cast<int64_t>(c.bytes.size()));
  c.bytes += package;
  for (const Item& item : items) {
    c.bytes += FileHeader(item.media_type, item.id, item.href);
    c.content_offsets.push_back(static_cast<int64_t>(c.bytes.size()));
    c.bytes += item.content;
  }
  c.bytes += Footer();
  return c;
}

std::pair<int64_t, int64_t> ExpectedBodyRange(int64_t offset, const std::string& content) {
  int64_t length = static_cast<int64_t>(content.size());
  if (content.size() >= 2 && content.compare(content.size() - 2, 2, kCrLf) == 0) length -= 2;
  return {offset, offset + length + 1};
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<std::string> JoinedWords(const std::vector<std::string>& lines) {
  std::vector<std::string> words;
  bool join = false;
  for (const std::string& line : lines) {
    std::vector<std::string> ws = SplitWords(line);
    for (size_t i = 0; i < ws.size(); ++i) {
      if (join && i == 0 && !words.empty())
        words.back() += ws[i];
      else
        words.push_back(ws[i]);
    }
    join = !ws.empty() && line.back() == '-' && ws.back().size() > 1;
    if (join) words.back().pop_back();
  }
  return words;
}

}  // namespace vellix::fixtures
