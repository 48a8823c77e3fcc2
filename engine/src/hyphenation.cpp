#include "hyphenation.h"

#include <hyphen.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

namespace ikutil::typeset {
namespace {

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

std::string Lower(std::string_view s) {
  std::string out;
  for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

std::string Upper(std::string_view s) {
  std::string out;
  for (char c : s) out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return out;
}

// Loaded dictionaries by path, shared by every typesetter of the process:
// loading the English patterns takes a few milliseconds.
std::mutex cache_mutex;
std::map<std::string, std::weak_ptr<const Hyphenator>>& Cache() {
  static auto* cache = new std::map<std::string, std::weak_ptr<const Hyphenator>>();
  return *cache;
}

}  // namespace

std::string HyphenationFolder() {
  if (const char* dir = std::getenv("VELLIX_HYPHEN_DIR"); dir != nullptr && *dir != '\0') return dir;
  return "/usr/share/hyphen";
}

std::string HyphenationFile(std::string_view language) {
  // "en-US" and "en_us" both name hyph_en_US.dic.
  std::string primary, region;
  size_t dash = language.find_first_of("-_");
  primary = Lower(language.substr(0, dash));
  if (dash != std::string_view::npos) {
    std::string_view rest = language.substr(dash + 1);
    region = Upper(rest.substr(0, rest.find_first_of("-_")));
  }
  if (primary.empty() || primary.size() > 8) return "";
  for (char c : primary + region)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return "";
  const std::string folder = HyphenationFolder();
  if (!region.empty()) {
    std::string path = folder + "/hyph_" + primary + "_" + region + ".dic";
    if (FileExists(path)) return path;
  }
  std::string path = folder + "/hyph_" + primary + ".dic";
  if (FileExists(path)) return path;
  return "";
}

std::shared_ptr<const Hyphenator> Hyphenator::ForLanguage(std::string_view language) {
  std::string path = HyphenationFile(language);
  if (path.empty()) return nullptr;
  return Load(path);
}

std::shared_ptr<const Hyphenator> Hyphenator::Load(const std::string& path) {
  std::lock_guard<std::mutex> lock(cache_mutex);
  auto& cache = Cache();
  if (auto it = cache.find(path); it != cache.end())
    if (std::shared_ptr<const Hyphenator> loaded = it->second.lock()) return loaded;
  HyphenDict* dict = hnj_hyphen_load(path.c_str());
  if (dict == nullptr) return nullptr;
  std::shared_ptr<const Hyphenator> hyphenator(new Hyphenator(dict, dict->utf8 != 0));
  cache[path] = hyphenator;
  return hyphenator;
}

Hyphenator::~Hyphenator() { hnj_hyphen_free(dict_); }

void Hyphenator::Points(std::string_view word, std::vector<uint32_t>* points) const {
  // The word in the dictionary's encoding and lower case, with the byte
  // offset in `word` of each of its characters.
  std::string lowered;
  std::vector<uint32_t> source_offset;  // per byte of `lowered`: where its character starts in `word`
  lowered.reserve(word.size() + 4);
  source_offset.reserve(word.size() + 4);
  int32_t i = 0;
  const auto length = static_cast<int32_t>(word.size());
  int letters = 0;
  while (i < length) {
    const auto start = static_cast<uint32_t>(i);
    UChar32 c;
    U8_NEXT(word.data(), i, length, c);
    if (c < 0) return;
    c = u_tolower(c);
    if (utf8_) {
      char buffer[4];
      int32_t n = 0;
      UBool error = false;
      U8_APPEND(buffer, n, 4, c, error);
      if (error) return;
      lowered.append(buffer, static_cast<size_t>(n));
      source_offset.insert(source_offset.end(), static_cast<size_t>(n), start);
    } else {
      // Single-byte patterns: ASCII is common to all of them, Latin-1 only
      // to their own.
      const bool latin1 = std::strcmp(dict_->cset, "ISO8859-1") == 0;
      if (c >= (latin1 ? 256 : 128)) return;
      lowered += static_cast<char>(c);
      source_offset.push_back(start);
    }
    ++letters;
  }
  if (letters < kHyphenMinWord) return;
  source_offset.push_back(static_cast<uint32_t>(word.size()));

  std::vector<char> hyphens(lowered.size() + 5, '0');
  char** rep = nullptr;
  int* pos = nullptr;
  int* cut = nullptr;
  const int failed = hnj_hyphen_hyphenate2(dict_, lowered.data(), static_cast<int>(lowered.size()), hyphens.data(),
                                           nullptr, &rep, &pos, &cut);
  if (failed == 0) {
    // hyphens[k] odd: a break after byte k of `lowered`.
    int before = 0;
    for (size_t k = 0; k + 1 < lowered.size(); ++k) {
      const bool char_end = (static_cast<unsigned char>(lowered[k + 1]) & 0xC0) != 0x80;
      if (!char_end) continue;
      ++before;
      if ((hyphens[k] & 1) == 0) continue;
      if (rep != nullptr && rep[k] != nullptr) continue;  // a changed spelling: not ours to make
      if (before < kHyphenMinLeft || letters - before < kHyphenMinRight) continue;
      points->push_back(source_offset[k + 1]);
    }
  }
  if (rep != nullptr) {
    for (size_t k = 0; k < lowered.size(); ++k) std::free(rep[k]);
    std::free(rep);
  }
  std::free(pos);
  std::free(cut);
}

}  // namespace ikutil::typeset
