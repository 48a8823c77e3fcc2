#include "sort.h"

#include <unicode/calendar.h>
#include <unicode/coll.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "vellix/book.h"
#include "vellix/formats/ascii.h"

namespace vellix {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int32_t DaysFromCivil(int32_t y, int32_t m, int32_t d) {
  y -= m <= 2;
  const int32_t era = (y >= 0 ? y : y - 399) / 400;
  const int32_t yoe = y - era * 400;
  const int32_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string_view TrimBlanks(std::string_view s) { return vellix::formats::TrimAscii(s, " \t"); }

// A "YYYY-MM-DD" date, checked by hand: it is the one form every locale
// reads the same way.
std::optional<int32_t> IsoDate(std::string_view s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
  int v[3] = {0, 0, 0};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int k = 0; k < 3; ++k)
    for (size_t i = starts[k]; i < starts[k] + lengths[k]; ++i) {
      if (s[i] < '0' || s[i] > '9') return std::nullopt;
      v[k] = v[k] * 10 + (s[i] - '0');
    }
  static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > kDays[v[1] - 1]) return std::nullopt;
  bool leap = (v[0] % 4 == 0 && v[0] % 100 != 0) || v[0] % 400 == 0;
  if (v[1] == 2 && v[2] == 29 && !leap) return std::nullopt;
  return DaysFromCivil(v[0], v[1], v[2]);
}

void AppendBigEndian(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

}  // namespace

struct SortKeyMaker::Impl {
  std::unique_ptr<icu::Collator> collator;
  std::vector<std::unique_ptr<icu::DateFormat>> date_formats;
  std::unique_ptr<icu::Calendar> calendar;
  std::unordered_map<std::string, std::string> text_keys;
  std::unordered_map<std::string, std::optional<int32_t>> dates;

  const std::string& TextKey(const std::string& text) {
    auto [it, inserted] = text_keys.try_emplace(text);
    if (!inserted) return it->second;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    if (!collator) {  // no collation data: compare the UTF-8 bytes
      it->second = text;
      it->second += '\0';
      return it->second;
    }
    uint8_t small[256];
    int32_t n = collator->getSortKey(u, small, sizeof small);
    if (n <= static_cast<int32_t>(sizeof small)) {
      it->second.assign(reinterpret_cast<char*>(small), static_cast<size_t>(n));
    } else {
      std::string big(static_cast<size_t>(n), '\0');
      collator->getSortKey(u, reinterpret_cast<uint8_t*>(big.data()), n);
      it->second = std::move(big);
    }
    // Sort keys end in one 0 byte and hold no other: joined keys compare
    // field by field.
    return it->second;
  }

  std::optional<int32_t> ParseDate(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty() || text.find_first_of("0123456789") == std::string_view::npos)
      return std::nullopt;  // every accepted form carries digits
    if (auto iso = IsoDate(text)) return iso;
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    for (auto& format : date_formats) {
      icu::ParsePosition pos(0);
      UDate when = format->parse(u, pos);
      if (pos.getErrorIndex() >= 0 || pos.getIndex() != u.length()) continue;
      UErrorCode status = U_ZERO_ERROR;
      calendar->setTime(when, status);
      int32_t y = calendar->get(UCAL_EXTENDED_YEAR, status);
      int32_t m = calendar->get(UCAL_MONTH, status) + 1;
      int32_t d = calendar->get(UCAL_DATE, status);
      if (U_SUCCESS(status)) return DaysFromCivil(y, m, d);
    }
    return std::nullopt;
  }
};

SortKeyMaker::SortKeyMaker() : impl_(std::make_unique<Impl>()) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale& locale = icu::Locale::getDefault();
  // The "C" locale's collation orders capitals before all small letters;
  // comparisons here ignore case, so it takes the language-neutral order.
  bool posix = std::string_view(locale.getVariant()) == "POSIX";
  impl_->collator.reset(icu::Collator::createInstance(posix ? icu::Locale::getRoot() : locale, status));
  if (U_FAILURE(status)) impl_->collator.reset();
  if (impl_->collator) impl_->collator->setStrength(icu::Collator::SECONDARY);
  for (auto style : {icu::DateFormat::kShort, icu::DateFormat::kMedium, icu::DateFormat::kLong}) {
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateInstance(style, locale));
    if (!format) continue;
    format->setLenient(false);
    impl_->date_formats.push_back(std::move(format));
  }
  status = U_ZERO_ERROR;
  impl_->calendar.reset(icu::Calendar::createInstance(locale, status));
  if (U_FAILURE(status)) impl_->calendar.reset(), impl_->date_formats.clear();
}

SortKeyMaker::~SortKeyMaker() = default;

std::optional<int32_t> SortKeyMaker::DateOf(std::string_view text) {
  std::string owned(text);
  auto [it, inserted] = impl_->dates.try_emplace(owned);
  if (!inserted) return it->second;
  std::optional<int32_t> date = impl_->ParseDate(text);
  if (!date) {
    size_t comma = text.find(',');
    if (comma != std::string_view::npos) date = impl_->ParseDate(text.substr(comma + 1));
  }
  it->second = date;
  return date;
}

std::string SortKeyMaker::KeyFor(const Book& book) {
  std::string key = impl_->TextKey(book.Category());
  key += impl_->TextKey(book.Title());
  if (auto date = DateOf(book.Author())) {
    key += '\x01';  // dates first, in calendar order
    AppendBigEndian(key, static_cast<uint32_t>(*date) ^ 0x80000000u);
  } else {
    key += '\x02';
    key += impl_->TextKey(book.Author());
  }
  return key;
}

std::vector<size_t> SelectionSortOrder(const std::vector<std::string>& keys) {
  const size_t n = keys.size();
  std::vector<size_t> order(n);
  if (n == 0) return order;

  // Rank the keys once; equal keys share a rank.
  std::vector<size_t> by_key(n);
  for (size_t i = 0; i < n; ++i) by_key[i] = i;
  std::sort(by_key.begin(), by_key.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
  std::vector<uint32_t> rank(n);
  for (size_t i = 1; i < n; ++i)
    rank[by_key[i]] = rank[by_key[i - 1]] + (keys[by_key[i - 1]] < keys[by_key[i]] ? 1 : 0);

  // A tournament tree over positions answers "first position holding the
  // smallest rank". Positions already settled hold +infinity, so the root
  // answers for the unsettled tail.
  size_t leaves = 1;
  while (leaves < n) leaves <<= 1;
  constexpr uint32_t kDone = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> value(leaves, kDone);  // rank at each position
  std::vector<uint32_t> tree(2 * leaves);      // position of the minimum below a node
  for (size_t i = 0; i < n; ++i) {
    order[i] = i;
    value[i] = rank[i];
  }
  auto better = [&](uint32_t a, uint32_t b) { return value[b] < value[a] ? b : a; };
  for (size_t i = 0; i < leaves; ++i) tree[leaves + i] = static_cast<uint32_t>(i);
  for (size_t i = leaves - 1; i >= 1; --i) tree[i] = better(tree[2 * i], tree[2 * i + 1]);
  auto update = [&](size_t pos) {
    for (size_t node = (leaves + pos) / 2; node >= 1; node /= 2)
      tree[node] = better(tree[2 * node], tree[2 * node + 1]);
  };

  for (size_t i = 0; i < n; ++i) {
    size_t m = tree[1];
    if (m != i) {
      std::swap(order[i], order[m]);
      value[m] = value[i];
      update(m);
    }
    value[i] = kDone;
    update(i);
  }
  return order;
}

}  // namespace vellix
