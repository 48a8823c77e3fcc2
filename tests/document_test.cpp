// Text to XHTML (golden files in tests/data, well-formedness by xmllint),
// metadata of HTML documents, the HTML clean-up and the XML layer.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "text_document.h"
#include "vellix/book.h"
#include "vellix/formats/xml.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

TEST(ConvertTxtToHtm, Documents) {
  TempDir dir;
  dir.Write("notes.txt", "A\r\n   \nB & <c> \"q\" 'r'\rlast");
  Book b;
  b.Load(dir / "notes.txt");
  b.SetTitle("Salt &amp; Pepper");  // device fields arrive escaped and go in as they are
  b.SetAuthor("Jo");
  b.SetCategory("Fic");
  b.ConvertTxtToHtm(dir / "notes.htm");
  EXPECT_EQ(b.Path() + "|" + b.Extension(), dir / "notes.htm|htm");
  ExpectGolden("text_notes.htm", ReadFile(dir / "notes.htm"));
  EXPECT_TRUE(XmlWellFormed(dir / "notes.htm"));

  // UTF-8 text, and the same words in Windows-1252: character references.
  for (const std::string& text : {std::string("caf\xC3\xA9 \xE2\x82\xAC\n\x0C"), std::string("caf\xE9 \x80\n\x0C")}) {
    dir.Write("t.txt", text);
    b.Load(dir / "t.txt");
    b.SetTitle("\xC3\x9C");
    b.ConvertTxtToHtm(dir / "t.htm");
    ExpectGolden("text_nonascii.htm", ReadFile(dir / "t.htm"));
    EXPECT_TRUE(XmlWellFormed(dir / "t.htm"));
  }

  // A title with a bare "&" is written as it is (the clean-up mends it later).
  b.Load(dir / "notes.txt");
  b.SetTitle("A & B");
  b.ConvertTxtToHtm(dir / "amp.htm");
  EXPECT_NE(ReadFile(dir / "amp.htm").find("<title>A & B</title>"), std::string::npos);

  Book none;  // no text file: nothing happens
  none.Load(dir / "missing.txt");
  none.ConvertTxtToHtm(dir / "none.htm");
  EXPECT_FALSE(fs::exists(dir / "none.htm"));
}

TEST(ConvertTxtToHtm, EmptyTextStyleSheetAndBlankRuns) {
  ExpectGolden("text_empty.htm", ConvertedDocument("", "T", "A", "C", std::nullopt));
  ExpectGolden("text_style.htm", ConvertedDocument("x\n\n \n", "T", "A", "C", "p { x: 1 }\r\nh1 {}\n"));
  // A line of tabs is not blank.
  EXPECT_NE(ConvertedDocument("\t", "", "", "", std::nullopt).find("<p>\r\n\t\r\n</p>"), std::string::npos);
}

class MetadataTest : public ::testing::Test {
 protected:
  bool Extract(const std::string& name, const std::string& content) {
    dir_.Write(name, content);
    t_ = a_ = c_ = "unset";
    return Book().ExtractMetadata(dir_ / name, t_, a_, c_);
  }
  TempDir dir_;
  std::string t_, a_, c_;
};

TEST_F(MetadataTest, LastMatchWinsAndOnlyTwoSpellingsCount) {
  ASSERT_TRUE(Extract("a.htm",
                      "<html><head><title>First</title><TITLE>Second &amp; last</TITLE>"
                      "<meta Name=\"author\" content=\"ignored\"/><meta NAME=\"Author\" CONTENT=\"Upper\"/>"
                      "<meta name=\"genre\" content=\"Fic\"/><meta name=\"genre\"/></head><body/></html>"));
  EXPECT_EQ(t_ + "|" + a_ + "|" + c_, "Second & last|Upper|Fic");
  ASSERT_TRUE(Extract("b.htm", "<html><head/><body/></html>"));
  EXPECT_EQ(t_, "");

  Book b;
  b.SetCategory("kept?");
  dir_.Write("c.html", "<html><head><title>T</title></head></html>");
  b.Load(dir_ / "c.html");
  EXPECT_EQ(b.Title() + "|" + b.Category(), "T|");                                  // a read document sets all three
  EXPECT_EQ(ErrorNumberOf([&] { Extract("d.htm", "<html><body/></html>"); }), 91);  // no head
}

TEST_F(MetadataTest, BadlyFormedHtmlIsRewrittenInPlace) {
  ASSERT_TRUE(Extract("old.htm",
                      "<HTML><HEAD><TITLE>Caf\xE9 & co</TITLE><META NAME=author CONTENT=\"Jo\">"
                      "</HEAD><BODY><P>one<BR>two &nbsp;</BODY></HTML>"));
  EXPECT_EQ(t_ + "|" + a_, "Caf\u00E9 & co|Jo");
  EXPECT_TRUE(XmlWellFormed(dir_ / "old.htm"));
  EXPECT_NE(ReadFile(dir_ / "old.htm").find("&#233;"), std::string::npos);
  EXPECT_FALSE(Book().ExtractMetadata(dir_ / "nothing.htm", t_, a_, c_));
}

TEST(XmlLayer, NeverFetchesAndKeepsTheDoctype) {
  TempDir dir;
  // An external entity would have to be fetched: it is not, and the file
  // named by the system identifier is never read.
  dir.Write("secret.txt", "SECRET");
  dir.Write("x.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE x SYSTEM \"" + (dir / "secret.txt") +
                         "\" [<!ENTITY e SYSTEM \"" + (dir / "secret.txt") + "\">]>\n<x>&e;</x>");
  XmlDocument doc;
  LoadXmlFile(dir / "x.xml", doc);
  ASSERT_TRUE(doc.parsed);
  EXPECT_EQ(TextOf(doc.Root()).find("SECRET"), std::string::npos);
  SaveXmlFile(doc, dir / "y.xml");
  EXPECT_NE(ReadFile(dir / "y.xml").find("<!DOCTYPE x SYSTEM"), std::string::npos);

  // Windows-1252 declared; invalid UTF-8 undeclared, and two roots, refused.
  LoadXmlText("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>", doc);
  ASSERT_TRUE(doc.parsed);
  EXPECT_EQ(TextOf(doc.Root()), "\u20AC");
  for (const char* bad : {"<a>\x80</a>", "<a/><b/>"}) {
    LoadXmlText(bad, doc);
    EXPECT_FALSE(doc.parsed) << bad;
  }
}

}  // namespace
}  // namespace vellix
