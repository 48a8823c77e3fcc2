// The fast selection-sort order against the literal algorithm, and the
// texts that count as dates.
#include "sort.h"

#include <gtest/gtest.h>

#include <unicode/locid.h>

#include <numeric>
#include <random>

namespace vellix {
namespace {

std::vector<size_t> LiteralSelectionSort(const std::vector<std::string>& keys) {
  std::vector<size_t> index(keys.size());
  std::iota(index.begin(), index.end(), 0);
  for (size_t i = 0; i < index.size(); ++i) {
    size_t m = i;
    for (size_t j = i + 1; j < index.size(); ++j)
      if (keys[index[j]] < keys[index[m]]) m = j;
    std::swap(index[i], index[m]);
  }
  return index;
}

// Small collections full of ties against the literal sort (the tree behind
// it is the same at any size).
TEST(SelectionSortOrder, MatchesTheLiteralSort) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> keys(rng() % 70);
    int distinct = 1 + static_cast<int>(rng() % 6);
    for (auto& k : keys) k = std::string(1, static_cast<char>('a' + rng() % distinct));
    ASSERT_EQ(SelectionSortOrder(keys), LiteralSelectionSort(keys)) << "round " << round;
  }
}

// Dates in the user's locale: here en_US, whatever the environment says.
TEST(SortKeyMaker, DateForms) {
  icu::Locale saved = icu::Locale::getDefault();
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("en_US"), status);
  SortKeyMaker maker;
  icu::Locale::setDefault(saved, status);
  auto march4 = maker.DateOf("2002-03-04");
  EXPECT_EQ(march4, 11750);  // days since 1970-01-01
  // Short, medium (its comma is not a split) and long forms, after a name.
  for (const char* same :
       {"Daily, 2002-03-04", "Daily,  2002-03-04 ", "3/4/02", "Mar 4, 2002", "March 4, 2002", "Times, March 4, 2002"})
    EXPECT_EQ(maker.DateOf(same), march4) << same;
  EXPECT_EQ(maker.DateOf("1969-12-31"), -1);
  for (const char* not_date : {"Smith", "Smith, John", "2002", "2002-02-30", "2001-02-29", "2002-13-01", "", "Daily, ",
                               "12", "Route 66, 1999"})
    EXPECT_FALSE(maker.DateOf(not_date)) << not_date;
}

}  // namespace
}  // namespace vellix
