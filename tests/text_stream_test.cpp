// Text encodings: the code page both ways, and a text converted in pieces,
// which must come out exactly as the whole text does wherever the pieces are
// cut, its encoding included.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "test_util.h"
#include "text_document.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/markup.h"

namespace vellix {
namespace {

TEST(CodePage, EveryByteRoundTripsAndWhatItCannotHoldIsRefused) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string text = formats::Cp1252ToUtf8(all);
  EXPECT_TRUE(formats::IsValidUtf8(text));
  EXPECT_EQ(formats::Utf8Length(text), 256u);
  EXPECT_EQ(formats::Utf8ToCp1252(text), all);
  EXPECT_EQ(formats::Cp1252ToUtf8("\x80\x81\x9F caf\xE9"), "\u20AC\u0081\u0178 caf\u00E9");  // 0x81 is unassigned
  EXPECT_EQ(formats::Utf8ToCp1252("\u2019"), "\x92");
  // Not in the code page, truncated, a surrogate, overlong.
  for (const char* bad : {"\u4E2D", "\xC3", "\xED\xA0\x80", "\xC0\xAF"})
    EXPECT_FALSE(formats::Utf8ToCp1252(bad)) << bad;
  EXPECT_EQ(fixtures::ErrorNumberOf([] { formats::ToCp1252OrRaise("\xF0\x9F\x98\x80"); }), 5);
  EXPECT_EQ(formats::EscapeMarkup("Salt & Pepper <b> \"q\" 'a'"),
            "Salt &amp; Pepper &lt;b&gt; \"q\" 'a'");  // quotes stay
}

// Decodes and converts `bytes` fed in pieces of `piece` bytes, as a file is.
std::string ConvertInPieces(const std::string& bytes, size_t piece) {
  TextEncodingScan scan;
  for (size_t at = 0; at < bytes.size(); at += piece) scan.Feed(std::string_view(bytes).substr(at, piece));
  std::string out;
  DocumentWriter writer([&out](std::string_view s) { out.append(s); });
  writer.Begin("T", "A", "C", std::nullopt);
  TextDecoder decoder(scan.Result());
  for (size_t at = 0; at < bytes.size(); at += piece)
    writer.Text(decoder.Feed(std::string_view(bytes).substr(at, piece)));
  writer.Text(decoder.Finish());
  writer.End();
  return out;
}

TEST(TextStream, EveryCutGivesTheWholeTextsDocument) {
  const std::string texts[] = {
      "",
      "one\r\ntwo\r\n\r\n  \r\n   three  \rfour\n\rfive",  // CR LF cut between CR and LF
      "\xEF\xBB\xBF"
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\n\n<&>\n",  // BOM, 2-4 byte characters
      "caf\xC3\xA9\n\xC3",                                   // cut off at the end: Windows-1252
      "\xC3\xA9\xE9 \x80 text\n",                            // invalid late in the text: Windows-1252
      "\xEF\xBB\xBF\xFF",                                    // a mark, but not UTF-8
      "\xE2\x82",                                            // nothing but an unfinished character
      "    \n \t\n      x\n        ",                        // blank runs, and spaces that end the text
      // Decided by every byte: a character or surrogate cut in two, a late byte outside UTF-8.
      "\xE2\x82\x41",
      "\xED\xA0\x80",
      std::string(1000, 'a') + "\xE9",
  };
  for (const std::string& text : texts) {
    const std::string whole = ConvertedDocument(DecodeText(text), "T", "A", "C", std::nullopt);
    for (size_t piece = 1; piece <= text.size() + 1; ++piece)
      EXPECT_EQ(ConvertInPieces(text, piece), whole) << "piece " << piece << " of \"" << text << "\"";
  }
}

}  // namespace
}  // namespace vellix
