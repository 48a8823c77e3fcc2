// Text to XHTML, metadata of HTML documents, and the HTML clean-up.
#include <gtest/gtest.h>

#include <filesystem>

#include "book_maker.h"
#include "text_document.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/xml.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

const std::string kHead =
    "<?xml version=\"1.0\" ?>\r\n"
    "<!DOCTYPE html PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0 Document//EN\" \"oebdoc1.dtd\">\r\n"
    "<html>\r\n<head>\r\n";

std::string Document(const std::string& title, const std::string& author, const std::string& genre,
                     const std::string& style, const std::string& body) {
  return kHead + "<title>" + title + "</title>\r\n<meta name=\"author\" content=\"" + author +
         "\"/>\r\n<meta name=\"genre\" content=\"" + genre + "\"/>\r\n" + style +
         "</head>\r\n<body>\r\n<p>\r\n" + body + "</p>\r\n</body>\r\n</html>";
}

bool ParsesAsXml(const std::string& text) {
  XmlDocument doc;
  LoadXmlText(text, doc);
  return doc.parsed;
}

TEST(ConvertTxtToHtm, WritesTheDocumentByteForByte) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "A\r\n   \nB & <c> \"q\" 'r'\rlast");
  Book b;
  b.Load(dir / "notes.txt");
  b.SetTitle("Salt &amp; Pepper");  // device fields arrive escaped and go in as they are
  b.SetAuthor("Jo");
  b.SetCategory("Fic");
  b.ConvertTxtToHtm(dir / "notes.htm");
  EXPECT_EQ(b.Path(), dir / "notes.htm");
  EXPECT_EQ(b.Extension(), "htm");
  std::string got = ReadFile(dir / "notes.htm");
  EXPECT_EQ(got, Document("Salt &amp; Pepper", "Jo", "Fic", "",
                          "A\r\n</p><p>\r\nB &amp; &lt;c&gt; \"q\" 'r'\r\nlast\r\n"));
  EXPECT_TRUE(ParsesAsXml(got));

  // A title with a bare "&" is written as it is (the clean-up mends it later).
  b.Load(dir / "notes.txt");
  b.SetTitle("A & B");
  b.ConvertTxtToHtm(dir / "amp.htm");
  EXPECT_NE(ReadFile(dir / "amp.htm").find("<title>A & B</title>"), std::string::npos);

  // No text file: nothing happens.
  Book none;
  none.Load(dir / "missing.txt");
  none.ConvertTxtToHtm(dir / "none.htm");
  EXPECT_FALSE(fs::exists(dir / "none.htm"));
}

TEST(ConvertTxtToHtm, EmptyTextStyleSheetAndBlankRuns) {
  EXPECT_EQ(ConvertedDocument("", "T", "A", "C", std::nullopt), Document("T", "A", "C", "", ""));
  EXPECT_EQ(ConvertedDocument("x\n\n \n", "T", "A", "C", "p { x: 1 }\r\nh1 {}\n"),
            Document("T", "A", "C", "<style type=\"text/css\">\r\np { x: 1 }\r\nh1 {}\r\n</style>\r\n",
                     "x\r\n</p><p>\r\n</p><p>\r\n"));
  // A line of tabs is not blank.
  EXPECT_EQ(ConvertedDocument("\t", "", "", "", std::nullopt), Document("", "", "", "", "\t\r\n"));
}

TEST(ConvertTxtToHtm, NonAsciiBecomesCharacterReferences) {
  TempDir dir;
  // UTF-8 text, and the same words in Windows-1252.
  for (const std::string& text : {std::string("caf\xC3\xA9 \xE2\x82\xAC\n\x0C"), std::string("caf\xE9 \x80\n\x0C")}) {
    WriteFile(dir / "t.txt", text);
    Book b;
    b.Load(dir / "t.txt");
    b.SetTitle("\xC3\x9C");
    b.ConvertTxtToHtm(dir / "t.htm");
    std::string got = ReadFile(dir / "t.htm");
    EXPECT_EQ(got, Document("&#220;", "", "", "", "caf&#233; &#8364;\r\n \r\n"));
    EXPECT_TRUE(ParsesAsXml(got));
  }
}

class MetadataTest : public ::testing::Test {
 protected:
  bool Extract(const std::string& name, const std::string& content) {
    WriteFile(dir_ / name, content);
    t_ = a_ = c_ = "unset";
    return Book().ExtractMetadata(dir_ / name, t_, a_, c_);
  }
  TempDir dir_;
  std::string t_, a_, c_;
};

TEST_F(MetadataTest, LastMatchWinsAndOnlyTwoSpellingsCount) {
  ASSERT_TRUE(Extract("a.htm",
                      "<html><head><title>First</title><TITLE>Second &amp; last</TITLE>"
                      "<meta Name=\"author\" content=\"ignored\"/>"
                      "<meta NAME=\"Author\" CONTENT=\"Upper\"/>"
                      "<meta name=\"genre\" content=\"Fic\"/><meta name=\"genre\"/>"
                      "</head><body/></html>"));
  EXPECT_EQ(t_, "Second & last");
  EXPECT_EQ(a_, "Upper");
  EXPECT_EQ(c_, "Fic");
  ASSERT_TRUE(Extract("b.htm", "<html><head/><body/></html>"));
  EXPECT_EQ(t_, "");

  Book b;
  b.SetCategory("kept?");
  WriteFile(dir_ / "c.html", "<html><head><title>T</title></head></html>");
  b.Load(dir_ / "c.html");
  EXPECT_EQ(b.Title(), "T");
  EXPECT_EQ(b.Category(), "");  // a read document sets all three
  try {
    Extract("d.htm", "<html><body/></html>");
    FAIL() << "no head";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 91);
  }
}

TEST_F(MetadataTest, BadlyFormedHtmlIsRewrittenInPlace) {
  ASSERT_TRUE(Extract("old.htm",
                      "<HTML><HEAD><TITLE>Caf\xE9 & co</TITLE><META NAME=author CONTENT=\"Jo\">"
                      "</HEAD><BODY><P>one<BR>two &nbsp;</BODY></HTML>"));
  EXPECT_EQ(t_, "Caf\u00E9 & co");
  EXPECT_EQ(a_, "Jo");
  std::string on_disk = ReadFile(dir_ / "old.htm");
  EXPECT_TRUE(ParsesAsXml(on_disk)) << on_disk;
  EXPECT_NE(on_disk.find("&#233;"), std::string::npos);

  EXPECT_FALSE(Book().ExtractMetadata(dir_ / "nothing.htm", t_, a_, c_));
}

TEST(XmlLayer, NeverFetchesAndKeepsTheDoctype) {
  TempDir dir;
  // An external entity would have to be fetched: it is not, and the file
  // named by the system identifier is never read.
  WriteFile(dir / "secret.txt", "SECRET");
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE x SYSTEM \"" + (dir / "secret.txt") +
                     "\" [<!ENTITY e SYSTEM \"" + (dir / "secret.txt") + "\">]>\n<x>&e;</x>";
  WriteFile(dir / "x.xml", text);
  XmlDocument doc;
  LoadXmlFile(dir / "x.xml", doc);
  ASSERT_TRUE(doc.parsed);
  EXPECT_EQ(TextOf(doc.Root()).find("SECRET"), std::string::npos);
  SaveXmlFile(doc, dir / "y.xml");
  EXPECT_NE(ReadFile(dir / "y.xml").find("<!DOCTYPE x SYSTEM"), std::string::npos);

  // Windows-1252 declared, and invalid UTF-8 undeclared.
  LoadXmlText("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>", doc);
  ASSERT_TRUE(doc.parsed);
  EXPECT_EQ(TextOf(doc.Root()), "\u20AC");
  LoadXmlText("<a>\x80</a>", doc);
  EXPECT_FALSE(doc.parsed);
  LoadXmlText("<a/><b/>", doc);
  EXPECT_FALSE(doc.parsed);
}

}  // namespace
}  // namespace vellix
