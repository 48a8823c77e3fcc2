#include "vellix/formats/codepage.h"

#include <gtest/gtest.h>

#include "vellix/error.h"
#include "vellix/formats/markup.h"
#include "binary.h"

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

TEST(CodePage, MapsTheWindowsCharacters) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\u20AC");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\u0081");  // unassigned bytes keep their code
  EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\u0178");
  EXPECT_EQ(Cp1252ToUtf8("caf\xE9"), "caf\u00E9");
  EXPECT_EQ(*Utf8ToCp1252("\u2019"), "\x92");
}

TEST(CodePage, RefusesWhatItCannotHold) {
  EXPECT_FALSE(Utf8ToCp1252("\u4E2D").has_value());       // not in the code page
  EXPECT_FALSE(Utf8ToCp1252("\xC3").has_value());         // truncated sequence
  EXPECT_FALSE(Utf8ToCp1252("\xED\xA0\x80").has_value()); // surrogate
  EXPECT_FALSE(Utf8ToCp1252("\xC0\xAF").has_value());     // overlong
  try {
    ToCp1252OrRaise("\xF0\x9F\x98\x80");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 5);
  }
}

TEST(Helpers, EscapeMarkupLeavesQuotes) {
  EXPECT_EQ(EscapeMarkup("Salt & Pepper <b> \"q\" 'a'"),
            "Salt &amp; Pepper &lt;b&gt; \"q\" 'a'");
  EXPECT_EQ(UInt16BE(0x012C), std::string("\x01\x2C", 2));
  EXPECT_EQ(UInt32BE(0xFF000102u), std::string("\xFF\x00\x01\x02", 4));
}

}  // namespace
}  // namespace vellix
