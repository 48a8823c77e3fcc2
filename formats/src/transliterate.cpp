#include "vellix/formats/transliterate.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>

#include "vellix/formats/codepage.h"

namespace vellix::formats {
namespace {

bool InCp1252(UChar32 c) {
  icu::UnicodeString one(c);
  std::string utf8;
  one.toUTF8String(utf8);
  return Utf8ToCp1252(utf8).has_value();
}

// One transliterator per thread: making one reads ICU's rules, which costs
// far more than using it.
icu::Transliterator* ToLatin() {
  thread_local std::unique_ptr<icu::Transliterator> latin = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> made(
        icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, status));
    return U_SUCCESS(status) ? std::move(made) : nullptr;
  }();
  return latin.get();
}

}  // namespace

std::string TransliteratedForCp1252(std::string_view text) {
  if (Utf8ToCp1252(text) || !IsValidUtf8(text)) return std::string(text);
  icu::Transliterator* latin = ToLatin();
  if (!latin) return std::string(text);
  icu::UnicodeString source =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  icu::UnicodeString out;
  for (int32_t at = 0; at < source.length();) {
    UChar32 c = source.char32At(at);
    int32_t end = source.moveIndex32(at, 1);
    if (InCp1252(c)) {
      out.append(c);
      at = end;
      continue;
    }
    // The whole run, so that a word is read as a word.
    while (end < source.length() && !InCp1252(source.char32At(end))) end = source.moveIndex32(end, 1);
    icu::UnicodeString run(source, at, end - at);
    latin->transliterate(run);
    out.append(run);
    at = end;
  }
  std::string result;
  out.toUTF8String(result);
  return result;
}

}  // namespace vellix::formats
