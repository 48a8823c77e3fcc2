// Arbitrary book folders converted into book files. The input is cut into a
// folder:
//
//   flags      1 byte: bits 0-1 number of resource files, bit 2 leaves out
//              RSRC.INF, bit 3 leaves out DATA.FRK
//   chunk      u16 length (big-endian) + that many bytes (fewer at the end)
//   RSRC.INF   chunk
//   DATA.FRK   chunk
//   resource   name selector (1 byte): below 0xF0 four more bytes give the
//              name in [A-Z0-9]; from 0xF0 up one of the names a folder
//              must not hold. Then a chunk.
//
// A folder that is saved must give a book file laid out exactly as the
// format describes, which reads back without error; a refused save must
// change nothing; neither may leave temporary files behind.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/codepage.h"

namespace fs = std::filesystem;

namespace {

std::string g_work;    // made once per process, removed at exit
std::string g_folder;  // "<work>/BOOK.RES"
std::string g_output;  // "<work>/out.imp"

constexpr char kFolderName[] = "BOOK.RES";
constexpr size_t kMaxSourceRecord = 223;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_book_folder: %s\n", what.c_str());
  std::abort();
}

void RemoveWork() {
  std::error_code ec;
  fs::remove_all(g_work, ec);
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string Chunk() {
    size_t length = size_t{Byte()} << 8;
    length |= Byte();
    length = std::min(length, size_ - pos_);
    std::string out(reinterpret_cast<const char*>(data_) + pos_, length);
    pos_ += length;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

std::string ResourceName(Input& in) {
  static constexpr const char* kInvalid[] = {"PIC", "PICT1", "DATA.frk", "rsrc.inf"};
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  uint8_t selector = in.Byte();
  if (selector >= 0xF0) return kInvalid[selector & 3];
  std::string name;
  for (int i = 0; i < 4; ++i) name += kAlphabet[in.Byte() % 36];
  return name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) || std::fclose(f) != 0)
    Fail("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) Fail("cannot read " + path);
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  return files;
}

std::string U16(size_t v) { return {char(v >> 8 & 0xFF), char(v & 0xFF)}; }
std::string U32(size_t v) { return U16(v >> 16) + U16(v); }

// RSRC.INF split into the book file's information area and the source
// record, as the format describes it. `s` (from offset 36) holds at least
// seven NULs.
struct Split {
  std::string information;
  std::string record;
};
Split SplitRsrcInf(const std::string& inf) {
  std::string head = inf.substr(12, 24);
  std::string s = inf.substr(36);
  size_t p0 = s.find('\0');
  size_t c1 = s.find(':');
  size_t c2 = c1 == std::string::npos ? c1 : s.find(':', c1 + 1);
  if (c1 == std::string::npos || c2 == std::string::npos || c1 >= p0 || c2 >= p0) return {head + s, ""};
  size_t p7 = p0;
  for (int k = 1; k < 7; ++k) p7 = s.find('\0', p7 + 1);
  if (p7 == s.size() - 1) return {head + s.substr(c2 + 1), s.substr(0, c2 + 1)};
  return {head + s.substr(c2 + 1, p7 - c2), s.substr(0, c2 + 1) + s.substr(p7 + 1)};
}

std::string StringResource(const std::string& text) {
  return U16(1) + "RSRC" + std::string(4, '\0') + U32(32 + text.size()) + std::string(18, '\0') + text + U16(128) +
         U32(text.size()) + U32(32) + std::string(2, '\0');
}

std::string TagOf(const std::string& bytes) {
  std::string tag = bytes.size() > 2 ? bytes.substr(2, 4) : "";
  tag.resize(4, '\0');
  return tag;
}

// The book file the folder's files (string resource included) must give.
std::string ExpectedBookFile(const std::string& information, std::map<std::string, std::string> files) {
  files.erase("RSRC.INF");
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  auto upper = [](std::string s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
  };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    std::string ua = upper(a), ub = upper(b);
    return ua != ub ? ua < ub : a < b;
  });
  std::string directory, blocks;
  for (const std::string& name : names) {
    const std::string& bytes = files[name];
    bool fork = name == "DATA.FRK";
    std::string entry = (fork ? "    " : name) + std::string(4, '\0') + U32(bytes.size()) +
                        (fork ? "    " : TagOf(bytes)) + std::string(4, '\0');
    directory += entry;
    blocks += entry + bytes;
  }
  return U16(2) + "BOOKVREN" + std::string(8, '\0') + U16(names.size()) + U16(sizeof kFolderName - 1) +
         U16(information.size()) + information + kFolderName + directory + blocks;
}

void CheckNoStrayFiles(bool saved) {
  for (const auto& entry : fs::directory_iterator(g_work)) {
    std::string name = entry.path().filename().string();
    if (name != kFolderName && name != "out.imp") Fail("stray file left beside the book: " + name);
  }
  if (fs::exists(g_output) != saved)
    Fail(saved ? "Save succeeded without writing the book file" : "a refused Save left a book file");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/fuzz-book-folder-XXXXXX";
  if (!::mkdtemp(pattern.data())) Fail("mkdtemp failed");
  g_work = pattern;
  g_folder = g_work + "/" + kFolderName;
  g_output = g_work + "/out.imp";
  std::atexit(RemoveWork);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fs::remove_all(g_folder);
  fs::remove(g_output);
  fs::create_directory(g_folder);

  // Build the folder.
  Input in(data, size);
  uint8_t flags = in.Byte();
  std::map<std::string, std::string> files;
  std::string inf = in.Chunk();
  if (!(flags & 4)) files["RSRC.INF"] = inf;
  std::string fork = in.Chunk();
  if (!(flags & 8)) files["DATA.FRK"] = fork;
  for (int i = 0; i < (flags & 3); ++i) {
    std::string name = ResourceName(in);
    files[name] = in.Chunk();
  }
  for (const auto& [name, bytes] : files) WriteFile(g_folder + "/" + name, bytes);

  vellix::Book folder_book;
  bool loaded = false;
  try {
    folder_book.Load(g_folder);
    loaded = true;
  } catch (const vellix::formats::AutomationError&) {
  }
  bool saved = false;
  try {
    folder_book.Save(g_output);
    saved = true;
  } catch (const vellix::formats::AutomationError&) {
  }
  CheckNoStrayFiles(saved);

  // What the format makes the writer refuse.
  bool must_refuse = !files.count("RSRC.INF") || inf.size() < 36;
  bool has_rsrc = false;  // the folder has its own string resource
  for (const auto& [name, bytes] : files) {
    if (name == "RSRC.INF") continue;
    if (bytes.empty()) must_refuse = true;
    if (name == "DATA.FRK") continue;
    if (name.size() != 4) must_refuse = true;
    if (TagOf(bytes) == "RSRC") has_rsrc = true;
  }
  // A folder that loads has all seven strings, so it can be split.
  std::optional<Split> split;
  if (loaded && !must_refuse) {
    split = SplitRsrcInf(inf);
    if (split->information.size() > 0x7FFF || (!has_rsrc && split->record.size() > kMaxSourceRecord))
      must_refuse = true;
  }

  std::map<std::string, std::string> after = FolderFiles(g_folder);
  if (saved && must_refuse) Fail("Save converted a folder the format refuses");
  if (!saved) {
    if (after != files) Fail("a refused Save changed the book folder");
    if (split && !must_refuse) Fail("Save refused a folder it can convert");
    return 0;
  }
  if (!split) return 0;  // the folder did not load: nothing to compare with

  // The folder gains at most the string resource holding the source record.
  std::map<std::string, std::string> added;
  for (const auto& [name, bytes] : after) {
    auto old = files.find(name);
    if (old == files.end()) {
      added[name] = bytes;
    } else if (old->second != bytes) {
      Fail("Save changed " + name + " in the book folder");
    }
  }
  if (split->record.empty() || has_rsrc) {
    if (!added.empty()) Fail("Save added " + added.begin()->first + " to the book folder");
  } else {
    if (added.size() != 1) Fail("Save did not add exactly one string resource");
    const std::string& name = added.begin()->first;
    if (name.size() != 4 || !std::all_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
      Fail("the string resource has a bad name: " + name);
    if (added.begin()->second != StringResource(split->record))
      Fail("the string resource does not hold the source record");
  }
  std::string written = ReadFile(g_output);
  if (written != ExpectedBookFile(split->information, after))
    Fail("the book file is not laid out as the format describes");

  // Read it back.
  vellix::Book book;
  try {
    book.Load(g_output);
  } catch (const vellix::formats::AutomationError& e) {
    Fail(std::string("Load of the written book failed: ") + e.what());
  }
  if (book.Title() != folder_book.Title() || book.Author() != folder_book.Author() ||
      book.Category() != folder_book.Category() || (split->record.empty() && book.BookId() != folder_book.BookId()))
    Fail("the written book reads back with other information");
  if (static_cast<size_t>(book.Size()) != written.size()) Fail("wrong book size");

  if (has_rsrc) {  // the folder's own string resource decides the outcome
    try {
      book.GetResourceString("RSRC", 128);
      book.SetPath(g_output);
    } catch (const vellix::formats::AutomationError&) {
    }
    return 0;
  }
  std::string record;
  try {
    record = book.GetResourceString("RSRC", 128);
  } catch (const vellix::formats::AutomationError& e) {
    Fail(std::string("GetResourceString of the written book failed: ") + e.what());
  }
  if (record != vellix::formats::Cp1252ToUtf8(split->record)) Fail("the source record did not survive");
  // A record is copied as it stands, so one the parser rejects makes
  // SetPath fail as well; any other record must be read.
  bool parses = true;
  if (!record.empty()) {
    std::string id, type, feed;
    int32_t issue;
    try {
      book.ParseRSRC(record, id, type, feed, issue);
    } catch (const vellix::formats::AutomationError&) {
      parses = false;
    }
  }
  try {
    book.SetPath(g_output);
    if (!parses) Fail("SetPath accepted a source record ParseRSRC rejects");
  } catch (const vellix::formats::AutomationError& e) {
    if (parses) Fail(std::string("SetPath of the written book failed: ") + e.what());
  }
  return 0;
}
