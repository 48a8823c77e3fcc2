// What a container's part headers can carry: hrefs in their URI form, and
// ids, media types and files the writer must refuse rather than write a
// container its reader cannot read.
#include <gtest/gtest.h>

#include <filesystem>

#include "book_maker.h"
#include "ikpubx/oebff_reader.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/oebff_writer.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

TEST(HrefEncoding, EscapesOnlyWhatTheQuotedValueCannotHold) {
  const std::pair<std::string, std::string> cases[] = {
      {"sub/a-b_c.htm?x=1#f", "sub/a-b_c.htm?x=1#f"},  // nothing to do: the same bytes
      {"a b 'c'.htm", "a b 'c'.htm"},
      {"caf\xC3\xA9.htm", "caf%C3%A9.htm"},
      {"q\"uote\\.htm", "q%22uote%5C.htm"},
      {"cr\r\nlf\t\x7F.htm", "cr%0D%0Alf%09%7F.htm"},
      {"100%.htm", "100%25.htm"},
      {"%4g%4", "%254g%254"},
      {"a%20b%c3%A9.htm", "a%20b%c3%A9.htm"},  // escapes already there stay
      {"  ", "%20%20"},                        // the reader reads a value of spaces only as empty
      {"", ""}};
  for (const auto& [href, carried] : cases) {
    EXPECT_EQ(OEBFFEncodeHref(href), carried) << href;
    EXPECT_EQ(OEBFFDecodeHref(carried), OEBFFDecodeHref(href)) << href;
  }
  EXPECT_EQ(OEBFFDecodeHref("caf%C3%a9%2"), "caf\xC3\xA9%2");
}

class RefusedManifestTest : public ::testing::Test {
 protected:
  // The error number and description of packing `manifest` (0 when it
  // packed); a refused build leaves the older container as it was.
  std::pair<int, std::string> Pack(const std::string& manifest) {
    WriteFile(dir_ / "book.oeb", "old");
    WriteFile(dir_ / "book.opf", "<package><manifest><item id=\"ok\" href=\"a.htm\" media-type=\"t\"/>" + manifest +
                                     "</manifest></package>");
    std::pair<int, std::string> error{0, ""};
    try {
      Book().BuildOEBFile("book", dir_.path());
    } catch (const AutomationError& e) {
      error = {e.number(), e.detail()};
    }
    if (error.first == 0) {
      ikpubx::OEBFFReader reader(dir_ / "book.oeb");
      EXPECT_EQ(reader.PartCount(), 3) << reader.Diagnostic();
    } else {
      EXPECT_EQ(ReadFile(dir_ / "book.oeb"), "old");
    }
    for (const auto& entry : fs::directory_iterator(dir_.path()))  // no temporary file left
      EXPECT_NE(entry.path().filename().string()[0], '.');
    return error;
  }
  TempDir dir_;
};

TEST_F(RefusedManifestTest, IdsAndMediaTypesThatAreNotOneToken) {
  WriteFile(dir_ / "a.htm", "A");
  for (const std::string id : {"i 2", "a:b", "n#1", "(x)", "", "\xE2\x82\xAC"}) {
    auto [number, description] = Pack("<item id=\"" + id + "\" href=\"a.htm\" media-type=\"t\"/>");
    EXPECT_EQ(number, kInvalidArgument) << id;
    EXPECT_NE(description.find("manifest item 2 (id \"" + id + "\") has an id a container cannot carry"),
              std::string::npos)
        << description;
  }
  for (const std::string type : {"application/xhtml+xml", "text/html; charset=utf-8", "application/X-GZIP"}) {
    auto [number, description] = Pack("<item id=\"m\" href=\"a.htm\" media-type=\"" + type + "\"/>");
    EXPECT_EQ(number, kInvalidArgument) << type;
    EXPECT_NE(description.find("manifest item 2 (id \"m\") has the media type"), std::string::npos) << description;
  }
  // Letters of the code page are token bytes: such an id packs and reads back.
  EXPECT_EQ(Pack("<item id=\"caf\xC3\xA9\" href=\"a.htm\" media-type=\"t\"/>").first, 0);
}

TEST_F(RefusedManifestTest, FileHoldingThePartDelimiter) {
  WriteFile(dir_ / "a.htm", "A");
  WriteFile(dir_ / "cut.txt", std::string(70000, 'x') + OEBFFBodyDelimiter() + "--");
  EXPECT_EQ(Pack("<item id=\"c\" href=\"cut.txt\" media-type=\"t\"/>").first, kInvalidArgument);
  // A delimiter that straddles two of the pieces the file is copied in.
  WriteFile(dir_ / "cut.txt", std::string(65536 - 5, 'x') + OEBFFBodyDelimiter());
  EXPECT_EQ(Pack("<item id=\"c\" href=\"cut.txt\" media-type=\"t\"/>").first, kInvalidArgument);
}

}  // namespace
}  // namespace vellix
