#include "compiled_patterns.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <system_error>

#include "vellix/formats/file_io.h"

namespace ikutil::typeset {
namespace {

constexpr std::string_view kMagic = "VXHYPHC1";
// libhyphen makes two levels for compound patterns; more is not ours.
constexpr int kMaxLevels = 4;

class Writer {
 public:
  void U8(uint8_t v) { out_ += static_cast<char>(v); }
  void I32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) U8(static_cast<uint8_t>(u >> shift));
  }
  void Bytes(std::string_view s) {
    I32(static_cast<int32_t>(s.size()));
    out_ += s;
  }
  // A C string, or none (length -1).
  void CString(const char* s) {
    if (s == nullptr)
      I32(-1);
    else
      Bytes(s);
  }
  std::string& str() { return out_; }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool U8(uint8_t& v) {
    if (at_ >= in_.size()) return false;
    v = static_cast<uint8_t>(in_[at_++]);
    return true;
  }
  bool I32(int32_t& v) {
    if (in_.size() - at_ < 4) return false;
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u = (u << 8) | static_cast<uint8_t>(in_[at_++]);
    v = static_cast<int32_t>(u);
    return true;
  }
  bool Bytes(std::string_view& s) {
    int32_t n = 0;
    if (!I32(n) || n < 0 || static_cast<size_t>(n) > in_.size() - at_) return false;
    s = in_.substr(at_, static_cast<size_t>(n));
    at_ += static_cast<size_t>(n);
    return true;
  }
  // A C string without NULs inside, malloc'd as libhyphen frees it; `s`
  // stays null for none.
  bool CString(char*& s) {
    int32_t n = 0;
    if (!I32(n)) return false;
    if (n == -1) return true;
    if (n < 0 || static_cast<size_t>(n) > in_.size() - at_) return false;
    std::string_view text = in_.substr(at_, static_cast<size_t>(n));
    if (text.find('\0') != std::string_view::npos) return false;
    at_ += static_cast<size_t>(n);
    s = static_cast<char*>(std::malloc(text.size() + 1));
    if (s == nullptr) return false;
    std::memcpy(s, text.data(), text.size());
    s[text.size()] = '\0';
    return true;
  }
  size_t left() const { return in_.size() - at_; }

 private:
  std::string_view in_;
  size_t at_ = 0;
};

// The length of `count` NUL-terminated strings back to back at `s`. (A
// dictionary's nohyphen holds one string more than its nohyphenl says.)
size_t JoinedLength(const char* s, int count) {
  size_t length = 0;
  for (int i = 0; i < count; ++i) length += std::strlen(s + length) + 1;
  return length;
}

void WriteLevel(Writer& w, const HyphenDict& d) {
  for (char c : {d.lhmin, d.rhmin, d.clhmin, d.crhmin}) w.U8(static_cast<uint8_t>(c));
  w.I32(d.nohyphenl);
  if (d.nohyphen == nullptr)
    w.I32(-1);
  else
    w.Bytes(std::string_view(d.nohyphen, JoinedLength(d.nohyphen, d.nohyphenl + 1)));
  w.Bytes(std::string_view(d.cset, strnlen(d.cset, MAX_NAME)));
  w.U8(d.utf8 != 0 ? 1 : 0);
  w.I32(d.num_states);
  for (int i = 0; i < d.num_states; ++i) {
    const HyphenState& s = d.states[i];
    w.CString(s.match);
    w.CString(s.repl);
    // libhyphen leaves the replacement's place unset for a state without one.
    w.U8(s.repl != nullptr ? static_cast<uint8_t>(s.replindex) : 0);
    w.U8(s.repl != nullptr ? static_cast<uint8_t>(s.replcut) : 0);
    w.I32(s.fallback_state);
    w.I32(s.num_trans);
    for (int t = 0; t < s.num_trans; ++t) {
      w.U8(static_cast<uint8_t>(s.trans[t].ch));
      w.I32(s.trans[t].new_state);
    }
  }
}

// Frees the levels ReadLevel left half made (libhyphen's own free expects
// every state filled in).
void FreePartial(HyphenDict* d) {
  while (d != nullptr) {
    if (d->states != nullptr) {
      for (int i = 0; i < d->num_states; ++i) {
        std::free(d->states[i].match);
        std::free(d->states[i].repl);
        std::free(d->states[i].trans);
      }
    }
    std::free(d->states);
    std::free(d->nohyphen);
    HyphenDict* next = d->nextlevel;
    std::free(d);
    d = next;
  }
}

HyphenDict* ReadLevel(Reader& r) {
  auto* d = static_cast<HyphenDict*>(std::calloc(1, sizeof(HyphenDict)));
  if (d == nullptr) return nullptr;
  auto fail = [&] {
    FreePartial(d);
    return nullptr;
  };
  uint8_t minima[4];
  for (uint8_t& m : minima)
    if (!r.U8(m)) return fail();
  d->lhmin = static_cast<char>(minima[0]);
  d->rhmin = static_cast<char>(minima[1]);
  d->clhmin = static_cast<char>(minima[2]);
  d->crhmin = static_cast<char>(minima[3]);
  int32_t nohyphenl = 0, nohyphen_size = 0;
  if (!r.I32(nohyphenl) || nohyphenl < 0 || nohyphenl == std::numeric_limits<int32_t>::max()) return fail();
  std::string_view nohyphen;
  Reader peek = r;
  if (!peek.I32(nohyphen_size)) return fail();
  if (nohyphen_size == -1) {
    if (nohyphenl != 0) return fail();
    r = peek;
  } else {
    if (!r.Bytes(nohyphen)) return fail();
    // Exactly `nohyphenl` + 1 strings, each ended by its NUL.
    int32_t ends = 0;
    for (char c : nohyphen) ends += c == '\0' ? 1 : 0;
    if (ends != nohyphenl + 1 || nohyphen.empty() || nohyphen.back() != '\0') return fail();
    d->nohyphen = static_cast<char*>(std::malloc(nohyphen.size()));
    if (d->nohyphen == nullptr) return fail();
    std::memcpy(d->nohyphen, nohyphen.data(), nohyphen.size());
    d->nohyphenl = nohyphenl;
  }
  std::string_view cset;
  uint8_t utf8 = 0;
  if (!r.Bytes(cset) || cset.size() >= MAX_NAME || cset.find('\0') != std::string_view::npos || !r.U8(utf8))
    return fail();
  std::memcpy(d->cset, cset.data(), cset.size());
  d->utf8 = utf8;
  int32_t states = 0;
  // Every state takes at least 14 bytes: a count before the allocation.
  if (!r.I32(states) || states <= 0 || static_cast<size_t>(states) > r.left() / 14) return fail();
  d->states = static_cast<HyphenState*>(std::calloc(static_cast<size_t>(states), sizeof(HyphenState)));
  if (d->states == nullptr) return fail();
  d->num_states = states;
  for (int32_t i = 0; i < states; ++i) {
    HyphenState& s = d->states[i];
    uint8_t index = 0, cut = 0;
    int32_t trans = 0;
    if (!r.CString(s.match) || !r.CString(s.repl) || !r.U8(index) || !r.U8(cut) || !r.I32(s.fallback_state) ||
        !r.I32(trans))
      return fail();
    s.replindex = static_cast<signed char>(index);
    s.replcut = static_cast<signed char>(cut);
    if (s.fallback_state < -1 || s.fallback_state >= states) return fail();
    if (trans < 0 || static_cast<size_t>(trans) > r.left() / 5) return fail();
    if (trans > 0) {
      s.trans = static_cast<HyphenTrans*>(std::calloc(static_cast<size_t>(trans), sizeof(HyphenTrans)));
      if (s.trans == nullptr) return fail();
    }
    s.num_trans = trans;
    for (int32_t t = 0; t < trans; ++t) {
      uint8_t ch = 0;
      if (!r.U8(ch) || !r.I32(s.trans[t].new_state)) return fail();
      s.trans[t].ch = static_cast<char>(ch);
      if (s.trans[t].new_state < 0 || s.trans[t].new_state >= states) return fail();
    }
  }
  return d;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

std::string PatternCacheFolder() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/')
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
    base = std::filesystem::path(home) / ".cache";
  else
    return "";
  return (base / "vellix-publisher" / "hyphenation").string();
}

std::string PatternSourceStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
  return (ec ? path : canonical.string()) + "\n" + std::to_string(st.st_size) + "\n" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string CompilePatterns(const HyphenDict& dict, std::string_view stamp) {
  Writer w;
  w.str() += kMagic;
  w.Bytes(stamp);
  int levels = 0;
  for (const HyphenDict* d = &dict; d != nullptr && levels < kMaxLevels; d = d->nextlevel) ++levels;
  w.U8(static_cast<uint8_t>(levels));
  const HyphenDict* d = &dict;
  for (int i = 0; i < levels; ++i, d = d->nextlevel) WriteLevel(w, *d);
  const auto crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(w.str().data()), static_cast<uInt>(w.str().size())));
  w.I32(static_cast<int32_t>(crc));
  return std::move(w.str());
}

HyphenDict* LoadCompiledPatterns(std::string_view bytes, std::string_view stamp) {
  if (bytes.size() < kMagic.size() + 4 || !bytes.starts_with(kMagic) || bytes.size() > std::numeric_limits<uInt>::max())
    return nullptr;
  std::string_view body = bytes.substr(0, bytes.size() - 4);
  Reader tail(bytes.substr(bytes.size() - 4));
  int32_t stored = 0;
  tail.I32(stored);
  const auto crc =
      static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
  if (crc != static_cast<uint32_t>(stored)) return nullptr;
  Reader r(body.substr(kMagic.size()));
  std::string_view made_from;
  uint8_t levels = 0;
  if (!r.Bytes(made_from) || made_from != stamp || !r.U8(levels) || levels == 0 || levels > kMaxLevels) return nullptr;
  HyphenDict* first = nullptr;
  HyphenDict** next = &first;
  for (int i = 0; i < levels; ++i) {
    HyphenDict* level = ReadLevel(r);
    if (level == nullptr) {
      FreePartial(first);
      return nullptr;
    }
    *next = level;
    next = &level->nextlevel;
  }
  if (r.left() != 0) {
    FreePartial(first);
    return nullptr;
  }
  return first;
}

HyphenDict* LoadPatternsCached(const std::string& path, const std::string& cache_folder) {
  const std::string stamp = cache_folder.empty() ? "" : PatternSourceStamp(path);
  if (stamp.empty()) return hnj_hyphen_load(path.c_str());
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(stamp.substr(0, stamp.find('\n'))));
  const std::string compiled =
      (std::filesystem::path(cache_folder) / (std::filesystem::path(path).stem().string() + "-" + hash + ".bin"))
          .string();
  if (Exists(compiled)) {
    try {
      if (HyphenDict* cached = LoadCompiledPatterns(vellix::formats::ReadWholeFile(compiled), stamp)) return cached;
    } catch (const std::exception&) {  // unreadable: made again below
    }
  }
  HyphenDict* dict = hnj_hyphen_load(path.c_str());
  if (dict == nullptr) return nullptr;
  try {
    std::error_code ec;
    std::filesystem::create_directories(cache_folder, ec);
    vellix::formats::AtomicFileWriter out(compiled, vellix::formats::Durability::kUnsynced);
    out.Write(CompilePatterns(*dict, stamp));
    out.Commit();
  } catch (const std::exception&) {  // a cache that cannot be written only costs time
  }
  return dict;
}

}  // namespace ikutil::typeset
