#include "hyphenation.h"

#include <hyphen.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/utf8.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_map>

#include "compiled_patterns.h"
#include "vellix/formats/ascii.h"

namespace ikutil::typeset {

struct Hyphenator::Patterns {
  explicit Patterns(HyphenDict* d) : dict(d), utf8(d->utf8 != 0) {
    if (!utf8) MapCodePage();
  }
  ~Patterns() { hnj_hyphen_free(dict); }
  Patterns(const Patterns&) = delete;
  Patterns& operator=(const Patterns&) = delete;

  // The byte of `c` in the patterns' single-byte code page, 0 when it has none.
  [[nodiscard]] char ByteOf(UChar32 c) const {
    if (c > 0 && c < 128) return static_cast<char>(c);
    auto it = bytes.find(c);
    return it == bytes.end() ? '\0' : it->second;
  }

  HyphenDict* dict;
  bool utf8;
  std::unordered_map<UChar32, char> bytes;  // the upper half of the code page (KOI8-R, ISO8859-7, ...)

 private:
  // The code page the file names on its first line, through ICU; Latin-1
  // when ICU does not know the name.
  void MapCodePage() {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(dict->cset, &status);
    for (int b = 128; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      UChar32 c = b;
      if (converter != nullptr && U_SUCCESS(status)) {
        UChar unit = 0;
        UErrorCode one = U_ZERO_ERROR;
        if (ucnv_toUChars(converter, &unit, 1, &byte, 1, &one) != 1 || U_FAILURE(one) || unit == 0xFFFD) continue;
        c = unit;
      }
      bytes.emplace(c, byte);
    }
    if (converter != nullptr) ucnv_close(converter);
  }
};

namespace {

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

std::string Upper(std::string_view s) {
  std::string out;
  for (char c : s) out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return out;
}

// Loaded dictionaries by path, kept for the life of the process and shared
// by every typesetter: loading the English patterns takes tens of
// milliseconds, laying out a page one or two. Across processes the
// compiled patterns in the cache folder spare libhyphen's own loading.
std::mutex cache_mutex;
std::map<std::string, std::shared_ptr<const Hyphenator>>& Cache() {
  static std::map<std::string, std::shared_ptr<const Hyphenator>> cache;
  return cache;
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
  primary = vellix::formats::LowerAscii(language.substr(0, dash));
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
  // Some languages come only by region (hyph_es_ES.dic, hyph_ru_RU.dic):
  // the language's own country first, else the first region there is.
  path = folder + "/hyph_" + primary + "_" + Upper(primary) + ".dic";
  if (FileExists(path)) return path;
  std::string first;
  const std::string prefix = "hyph_" + primary + "_";
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(prefix) && name.ends_with(".dic") && (first.empty() || name < first)) first = name;
  }
  return first.empty() ? "" : folder + "/" + first;
}

std::shared_ptr<const Hyphenator> Hyphenator::ForLanguage(std::string_view language) {
  std::string path = HyphenationFile(language);
  if (path.empty()) return nullptr;
  return Load(path);
}

std::shared_ptr<const Hyphenator> Hyphenator::Load(const std::string& path) {
  std::lock_guard<std::mutex> lock(cache_mutex);
  auto& cache = Cache();
  if (auto it = cache.find(path); it != cache.end()) return it->second;
  HyphenDict* dict = LoadPatternsCached(path, PatternCacheFolder());
  if (dict == nullptr) return nullptr;
  std::shared_ptr<const Hyphenator> hyphenator(new Hyphenator(std::make_unique<Patterns>(dict)));
  cache[path] = hyphenator;
  return hyphenator;
}

Hyphenator::Hyphenator(std::unique_ptr<Patterns> patterns) : patterns_(std::move(patterns)) {}

Hyphenator::~Hyphenator() = default;

void Hyphenator::Points(std::string_view word, std::vector<uint32_t>* points) const {
  // The word in the dictionary's encoding and lower case, and where each of
  // its characters starts in `word`.
  std::string lowered;
  std::vector<uint32_t> starts;
  lowered.reserve(word.size() + 4);
  starts.reserve(word.size() + 1);
  int32_t i = 0;
  const auto length = static_cast<int32_t>(word.size());
  while (i < length) {
    starts.push_back(static_cast<uint32_t>(i));
    UChar32 c;
    U8_NEXT(word.data(), i, length, c);
    if (c < 0) return;
    c = u_tolower(c);
    if (patterns_->utf8) {
      char buffer[4];
      int32_t n = 0;
      UBool error = false;
      U8_APPEND(buffer, n, 4, c, error);
      if (error) return;
      lowered.append(buffer, static_cast<size_t>(n));
    } else {
      // Single-byte patterns, in the code page their file names.
      const char byte = patterns_->ByteOf(c);
      if (byte == '\0') return;
      lowered += byte;
    }
  }
  const auto letters = static_cast<int>(starts.size());
  if (letters < kHyphenMinWord) return;

  std::vector<char> hyphens(lowered.size() + 5, '0');
  char** rep = nullptr;
  int* pos = nullptr;
  int* cut = nullptr;
  const int failed = hnj_hyphen_hyphenate2(patterns_->dict, lowered.data(), static_cast<int>(lowered.size()),
                                           hyphens.data(), nullptr, &rep, &pos, &cut);
  if (failed == 0) {
    // hyphens[k] odd: a break after character k (libhyphen counts
    // characters, not bytes, of a UTF-8 word).
    for (int k = kHyphenMinLeft - 1; k + kHyphenMinRight < letters; ++k) {
      if ((hyphens[static_cast<size_t>(k)] & 1) == 0) continue;
      if (rep != nullptr && rep[k] != nullptr) continue;  // a changed spelling: not ours to make
      points->push_back(starts[static_cast<size_t>(k) + 1]);
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
