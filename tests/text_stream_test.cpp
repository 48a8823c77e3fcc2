// A text converted in pieces must come out exactly as the whole text does,
// wherever the pieces are cut.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "text_document.h"

namespace vellix {
namespace {

// Decodes and converts `bytes` fed in pieces of `piece` bytes, as
// Book::ConvertTxtToHtm does with a file.
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
  };
  for (const std::string& text : texts) {
    const std::string whole = ConvertedDocument(DecodeText(text), "T", "A", "C", std::nullopt);
    for (size_t piece = 1; piece <= text.size() + 1; ++piece)
      EXPECT_EQ(ConvertInPieces(text, piece), whole) << "piece " << piece << " of \"" << text << "\"";
  }
}

TEST(TextStream, EncodingIsDecidedByEveryByte) {
  auto encoding = [](const std::string& first, const std::string& second) {
    TextEncodingScan scan;
    scan.Feed(first);
    scan.Feed(second);
    return scan.Result();
  };
  EXPECT_EQ(encoding("\xEF\xBB", "\xBFx"), TextEncoding::kUtf8WithBom);
  EXPECT_EQ(encoding("\xE2", "\x82\xAC"), TextEncoding::kUtf8);
  EXPECT_EQ(encoding("\xE2", "\x82\x41"), TextEncoding::kCp1252);
  EXPECT_EQ(encoding("\xED\xA0", "\x80"), TextEncoding::kCp1252);  // a surrogate, cut in two
  EXPECT_EQ(encoding(std::string(1000, 'a'), "\xE9"), TextEncoding::kCp1252);
}

}  // namespace
}  // namespace vellix
