// The suite's fixtures: temporary folders, error capture, running programs,
// golden files, and OEBFF containers built byte by byte (laid out as the
// suite's container writer lays them out). Device books come from
// book_maker.h, which the benchmarks and fuzz seeds share.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "book_maker.h"
#include "vellix/error.h"

namespace vellix::fixtures {

// A fresh folder under $TMPDIR (or /tmp), removed with its content. Files
// written with Source are its user's sources: when the folder goes, each
// one still there must hold the bytes the test wrote (a test that means to
// change one says so with Changes).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to `name` in the folder, making the folders on the way,
  // and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  // Write, for a file nothing the test runs may change.
  std::string Source(const std::string& name, const std::string& bytes) const;
  // The test changes `name` on purpose (a package it asks to be completed).
  void Changes(const std::string& name) const { sources_.erase(*this / name); }
  // Fails the test for each source whose bytes are not those written.
  void ExpectSourcesUntouched() const;

 private:
  std::string path_;
  mutable std::map<std::string, std::string> sources_;  // path -> bytes written
};

// The error `f` throws, or number 0 when it returns.
template <typename F>
formats::AutomationError ErrorOf(F&& f) {
  try {
    f();
  } catch (const formats::AutomationError& e) {
    return e;
  }
  return formats::AutomationError(0, "no error");
}

// The automation error number `f` throws, or 0 when it returns.
template <typename F>
int ErrorNumberOf(F&& f) {
  return ErrorOf(std::forward<F>(f)).number();
}

// Names of the entries directly in `folder`, sorted.
std::vector<std::string> Names(const std::string& folder);

// What a program printed and returned.
struct ToolOutcome {
  int code = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs `program` (looked up on PATH without a slash) with `args`, no shell,
// stdin from /dev/null. A non-empty `locale` replaces every locale variable.
ToolOutcome RunTool(const std::string& program, const std::vector<std::string>& args, const std::string& locale = "");

// One run of a command-line tool and what it must do. "@" in the arguments
// and in the expected output stands for the test's folder.
struct CliCase {
  std::vector<std::string> args;
  int code = 0;
  std::string err = "";                           // ECMAScript pattern for all of stderr
  std::optional<std::string> out = std::nullopt;  // all of stdout, byte for byte
  std::function<void(const ToolOutcome&)> check = nullptr;
  std::string locale = "";
};
void ExpectCli(const std::string& tool, const std::string& folder, const CliCase& c);

// True when xmllint, an XML parser the library does not use, finds the
// file well-formed (no network, no DTD fetched).
bool XmlWellFormed(const std::string& path);

// `actual` against tests/data/`name`, byte for byte, after each literal
// (text, placeholder) pair is replaced. VELLIX_UPDATE_GOLDEN=1 rewrites the
// file instead.
using Placeholders = std::vector<std::pair<std::string, std::string>>;
void ExpectGolden(const std::string& name, std::string actual, const Placeholders& placeholders = {});

// The default package document a publication starts from.
std::string DefaultPackageText();

// --- OEBFF containers ---

inline constexpr char kBoundary[] = "ZEQTRVNPOLKHGDJXYIKL2000";
inline constexpr char kStartId[] = "packageIKL2000";

// MIME-Version and the multipart Content-Type.
std::string ContainerHeader();
// The empty line, the first delimiter, the package headers.
std::string PackageHeader();
// The line end that closes the previous body, a delimiter and one file's headers.
std::string FileHeader(const std::string& media_type, const std::string& id, const std::string& href);
// The end of the last body and the closing delimiter.
std::string Footer();

struct Item {
  std::string media_type, id, href, content;
};

struct Container {
  std::string bytes;
  // Where each attached content begins: the package first, then the items.
  std::vector<int64_t> content_offsets;
};

Container MakeContainer(const std::string& package, const std::vector<Item>& items);

// The range the reader records for `content` attached at `offset`: one
// past the CR that follows the content, or, when the content ends in
// CR LF, one past that CR (the pair counts as the delimiter's empty line).
std::pair<int64_t, int64_t> ExpectedBodyRange(int64_t offset, const std::string& content);

// The blank-separated words of `text`.
std::vector<std::string> SplitWords(const std::string& text);
// The words of laid-out lines, a word hyphenated at a line's end joined to
// its rest on the next line.
std::vector<std::string> JoinedWords(const std::vector<std::string>& lines);

}  // namespace vellix::fixtures
