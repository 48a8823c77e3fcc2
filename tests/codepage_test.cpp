#include "vellix/formats/codepage.h"

#include <gtest/gtest.h>

#include "binary.h"
#include "test_util.h"
#include "vellix/formats/markup.h"

namespace vellix {
namespace {

TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string text = Cp1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_EQ(Utf8Length(text), 256u);
  auto back = Utf8ToCp1252(text);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, all);
}

TEST(CodePage, MapsTheWindowsCharactersAndRefusesWhatItCannotHold) {
  EXPECT_EQ(Cp1252ToUtf8("\x80\x81\x9F caf\xE9"), "\u20AC\u0081\u0178 caf\u00E9");  // 0x81 is unassigned
  EXPECT_EQ(*Utf8ToCp1252("\u2019"), "\x92");
  // Not in the code page, truncated, a surrogate, overlong.
  for (const char* bad : {"\u4E2D", "\xC3", "\xED\xA0\x80", "\xC0\xAF"}) EXPECT_FALSE(Utf8ToCp1252(bad)) << bad;
  EXPECT_EQ(fixtures::ErrorNumberOf([] { ToCp1252OrRaise("\xF0\x9F\x98\x80"); }), 5);
}

TEST(Helpers, EscapeMarkupLeavesQuotes) {
  EXPECT_EQ(EscapeMarkup("Salt & Pepper <b> \"q\" 'a'"), "Salt &amp; Pepper &lt;b&gt; \"q\" 'a'");
  EXPECT_EQ(UInt16BE(0x012C), std::string("\x01\x2C", 2));
  EXPECT_EQ(UInt32BE(0xFF000102u), std::string("\xFF\x00\x01\x02", 4));
}

}  // namespace
}  // namespace vellix
