// Where a word may be broken with a hyphen, from the hyphenation patterns
// of its language (libhyphen's .dic files, as Debian installs them in
// /usr/share/hyphen).
//
// A dictionary is loaded once per process and shared, and kept compiled in
// the cache folder for the next process (compiled_patterns.h); Points may
// be called from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ikutil::typeset {

// Fewest letters before and after a hyphen, and in a word that is broken.
inline constexpr int kHyphenMinLeft = 2;
inline constexpr int kHyphenMinRight = 3;
inline constexpr int kHyphenMinWord = 5;

// The folder of the patterns: $VELLIX_HYPHEN_DIR when set, else
// /usr/share/hyphen.
std::string HyphenationFolder();

// The pattern file for a language tag ("en-US" -> hyph_en_US.dic, else
// hyph_<primary>.dic), or "" when the folder holds none for it.
std::string HyphenationFile(std::string_view language);

class Hyphenator {
 public:
  // The hyphenator of `language`, or null when there are no patterns for
  // it (then nothing is hyphenated).
  static std::shared_ptr<const Hyphenator> ForLanguage(std::string_view language);
  // Loads a pattern file; null when it cannot be read.
  static std::shared_ptr<const Hyphenator> Load(const std::string& path);
  ~Hyphenator();
  Hyphenator(const Hyphenator&) = delete;
  Hyphenator& operator=(const Hyphenator&) = delete;

  // Appends to `points` the byte offsets into `word` (UTF-8 letters, any
  // case) after which it may be hyphenated, ascending, honouring the
  // minimum lengths above.
  void Points(std::string_view word, std::vector<uint32_t>* points) const;

 private:
  struct Patterns;  // the loaded pattern file; libhyphen's type stays in the .cpp
  explicit Hyphenator(std::unique_ptr<Patterns> patterns);
  std::unique_ptr<Patterns> patterns_;
};

}  // namespace ikutil::typeset
