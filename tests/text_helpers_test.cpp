// The small text and tree helpers every layer shares: places in a text,
// numbers as markup writes them, ASCII case and blanks, and the tree walk
// that must not recurse.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vellix/formats/ascii.h"
#include "vellix/formats/line_map.h"
#include "vellix/formats/xml.h"

namespace {

using vellix::formats::LineMap;
using vellix::formats::TextPlace;

::testing::AssertionResult IsPlace(TextPlace place, int32_t line, int32_t column) {
  if (place.line == line && place.column == column) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << place.line << ":" << place.column;
}

TEST(LineMap, CountsColumnsInCharactersNotBytes) {
  const std::string text = "ab\n\xC3\xA9t\xC3\xA9 x\n\xE2\x82\xAC\xF0\x9F\x98\x80y";  // "ab", "été x", "€😀y"
  LineMap lines(text);
  EXPECT_TRUE(IsPlace(lines.At(0), 1, 1));
  EXPECT_TRUE(IsPlace(lines.At(2), 1, 3));  // the line end itself
  EXPECT_TRUE(IsPlace(lines.At(3), 2, 1));
  EXPECT_TRUE(IsPlace(lines.At(text.find('x')), 2, 5));  // é t é ' ' before it: 4 characters, 6 bytes
  EXPECT_TRUE(IsPlace(lines.At(text.find('y')), 3, 3));  // € and 😀: 2 characters, 7 bytes
  EXPECT_TRUE(IsPlace(lines.At(text.size()), 3, 4));     // the end is a place
  EXPECT_TRUE(IsPlace(lines.At(text.size() + 1), -1, -1));
  EXPECT_TRUE(IsPlace(LineMap().At(0), -1, -1));
  EXPECT_TRUE(IsPlace(LineMap("").At(0), 1, 1));

  // Long lines, where the count is kept in steps: every place agrees with
  // counting the characters one by one.
  std::string long_text = "x\n";
  for (int i = 0; i < 100; ++i) long_text += i % 3 ? "ab" : "\xC3\xA9";
  long_text += "\n\xE2\x82\xAC";
  LineMap long_lines(long_text);
  for (size_t offset = 2; offset <= long_text.size(); ++offset) {
    size_t line_start = long_text.rfind('\n', offset - 1) + 1;
    int32_t column = 1;
    for (size_t i = line_start; i < offset; ++i) column += (static_cast<unsigned char>(long_text[i]) & 0xC0) != 0x80;
    int32_t line = line_start == 2 ? 2 : 3;
    EXPECT_TRUE(IsPlace(long_lines.At(offset), line, column)) << offset;
  }
}

TEST(AsciiText, NumbersAsMarkupWritesThem) {
  // The last of each does not fit.
  const std::pair<const char*, std::optional<int64_t>> integers[] = {
      {"3", 3}, {" +2", 2}, {"\t-1px", -1}, {"+-1", {}}, {"x1", {}}, {"", {}}, {"+", {}}, {"99999999999999999999", {}}};
  for (const auto& [text, value] : integers) EXPECT_EQ(vellix::formats::LeadingInteger(text), value) << text;
  const std::pair<const char*, std::optional<uint64_t>> decimals[] = {
      {"0042", 42}, {"42 ", {}}, {"-1", {}}, {"", {}}, {"99999999999999999999", {}}};
  for (const auto& [text, value] : decimals) EXPECT_EQ(vellix::formats::DecimalNumber(text), value) << text;
}

TEST(AsciiText, CaseAndBlanksTouchOnlyAscii) {
  EXPECT_EQ(vellix::formats::LowerAscii("HeLLo \xC3\x89"), "hello \xC3\x89");  // É stays
  EXPECT_TRUE(vellix::formats::EqualsIgnoringAsciiCase("Content-Type", "content-type"));
  EXPECT_FALSE(vellix::formats::EqualsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9"));
  EXPECT_FALSE(vellix::formats::EqualsIgnoringAsciiCase("ab", "abc"));
  EXPECT_TRUE(vellix::formats::StartsWithIgnoringAsciiCase("HKCU\\Software", "hkcu\\"));
  EXPECT_FALSE(vellix::formats::StartsWithIgnoringAsciiCase("HK", "hkcu"));

  EXPECT_EQ(vellix::formats::TrimAscii(" \t\r\n\fa b\f\n"), "a b");
  EXPECT_EQ(vellix::formats::TrimAscii("\fa\f", vellix::formats::kXmlBlanks), "\fa\f");  // a form feed is no XML blank
  EXPECT_EQ(vellix::formats::TrimAscii(" \t "), "");
  EXPECT_EQ(vellix::formats::TrimSpaces("\t a \t"), "\t a \t");
  EXPECT_EQ(vellix::formats::TrimSpaces("  a b  "), "a b");
}

TEST(WalkTree, VisitsInDocumentOrderAtAnyDepth) {
  vellix::formats::XmlDocument doc;
  vellix::formats::LoadXmlText("<r><a><b/><c>t</c></a><skip><x/></skip><d/></r>", doc);
  ASSERT_TRUE(doc.parsed);
  std::vector<std::string> seen;
  vellix::formats::WalkTree(doc.Root(), [&](const pugi::xml_node& n, size_t depth) {
    seen.push_back(std::string(n.type() == pugi::node_pcdata ? n.value() : n.name()) + std::to_string(depth));
    return std::string_view(n.name()) == "skip" ? vellix::formats::Walk::kOver : vellix::formats::Walk::kInto;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a1", "b2", "c2", "t3", "skip1", "d1"}));

  int visited = 0;
  EXPECT_FALSE(vellix::formats::WalkTree(doc.Root(), [&](const pugi::xml_node& n, size_t) {
    ++visited;
    return std::string_view(n.name()) == "c" ? vellix::formats::Walk::kStop : vellix::formats::Walk::kInto;
  }));
  EXPECT_EQ(visited, 3);

  // Deeper than any call stack: the walk must not recurse.
  const int kDepth = 200000;
  std::string deep;
  for (int i = 0; i < kDepth; ++i) deep += "<e>";
  deep += "end";
  for (int i = 0; i < kDepth; ++i) deep += "</e>";
  vellix::formats::LoadXmlText(deep, doc);
  ASSERT_TRUE(doc.parsed);
  size_t deepest = 0;
  vellix::formats::WalkTree(doc.dom, [&](const pugi::xml_node&, size_t depth) {
    deepest = std::max(deepest, depth);
    return vellix::formats::Walk::kInto;
  });
  EXPECT_EQ(deepest, static_cast<size_t>(kDepth) + 1);  // the text below the last element
  EXPECT_EQ(vellix::formats::TextOf(doc.Root()), "end");
}

}  // namespace
