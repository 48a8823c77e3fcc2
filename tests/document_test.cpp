// Text to XHTML (golden files in tests/data, well-formedness by xmllint),
// metadata of HTML documents, the HTML clean-up and the XML layer; and
// documents built to hurt: nesting tens of thousands deep, inline elements
// left open everywhere, tags with hundreds of attributes, and text that is
// not UTF-8. Each is read or refused (error 5, naming the file) quickly and
// without a crash.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "text_document.h"
#include "vellix/book.h"
#include "vellix/formats/html_cleanup.h"
#include "vellix/formats/xml.h"
#include "vellix/package.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

// Converts the book's text to `htm`, which must be well-formed, and returns it.
std::string Converted(Book& b, const std::string& htm) {
  b.ConvertTxtToHtm(htm);
  EXPECT_TRUE(XmlWellFormed(htm));
  return ReadFile(htm);
}

TEST(ConvertTxtToHtm, Documents) {
  TempDir dir;
  Book b;
  b.Load(dir.Write("notes.txt", "A\r\n   \nB & <c> \"q\" 'r'\rlast"));
  b.SetTitle("Salt &amp; Pepper");  // device fields arrive escaped and go in as they are
  b.SetAuthor("Jo");
  b.SetCategory("Fic");
  ExpectGolden("text_notes.htm", Converted(b, dir / "notes.htm"));
  EXPECT_EQ(b.Path() + "|" + b.Extension(), dir / "notes.htm|htm");

  // UTF-8 text, and the same words in Windows-1252: character references.
  for (const std::string& text : {std::string("caf\xC3\xA9 \xE2\x82\xAC\n\x0C"), std::string("caf\xE9 \x80\n\x0C")}) {
    b.Load(dir.Write("t.txt", text));
    b.SetTitle("\xC3\x9C");
    ExpectGolden("text_nonascii.htm", Converted(b, dir / "t.htm"));
  }
  // A title with a bare "&" is written as it is (the clean-up mends it later).
  b.Load(dir / "notes.txt");
  b.SetTitle("A & B");
  b.ConvertTxtToHtm(dir / "amp.htm");
  EXPECT_NE(ReadFile(dir / "amp.htm").find("<title>A & B</title>"), std::string::npos);

  b.Load(dir / "missing.txt");  // no text file: nothing happens
  b.ConvertTxtToHtm(dir / "none.htm");
  EXPECT_FALSE(fs::exists(dir / "none.htm"));

  ExpectGolden("text_empty.htm", ConvertedDocument("", "T", "A", "C", std::nullopt));
  ExpectGolden("text_style.htm", ConvertedDocument("x\n\n \n", "T", "A", "C", "p { x: 1 }\r\nh1 {}\n"));
  // A line of tabs is not blank.
  EXPECT_NE(ConvertedDocument("\t", "", "", "", std::nullopt).find("<p>\r\n\t\r\n</p>"), std::string::npos);
}

// "title|author|category" read from `html`, or "none" when nothing is read.
std::string MetadataOf(const TempDir& dir, const std::string& name, const std::string& html) {
  std::string t = "unset", a = "unset", c = "unset";
  return Book().ExtractMetadata(dir.Source(name, html), t, a, c) ? t + "|" + a + "|" + c : "none";
}

TEST(Metadata, LastMatchWinsOnlyTwoSpellingsCountAndBadHtmlIsReadAsItIs) {
  TempDir dir;
  EXPECT_EQ(MetadataOf(dir, "a.htm",
                       "<html><head><title>First</title><TITLE>Second &amp; last</TITLE>"
                       "<meta Name=\"author\" content=\"ignored\"/><meta NAME=\"Author\" CONTENT=\"Upper\"/>"
                       "<meta name=\"genre\" content=\"Fic\"/><meta name=\"genre\"/></head><body/></html>"),
            "Second & last|Upper|Fic");
  EXPECT_EQ(MetadataOf(dir, "b.htm", "<html><head/><body/></html>"), "||");
  EXPECT_EQ(ErrorNumberOf([&] { MetadataOf(dir, "d.htm", "<html><body/></html>"); }), 91);  // no head
  std::string t, a, c;
  EXPECT_FALSE(Book().ExtractMetadata(dir / "nothing.htm", t, a, c));

  Book b;
  b.SetCategory("kept?");
  b.Load(dir.Write("c.html", "<html><head><title>T</title></head></html>"));
  EXPECT_EQ(b.Title() + "|" + b.Category(), "T|");  // a read document sets all three

  EXPECT_EQ(MetadataOf(dir, "old.htm",
                       "<HTML><HEAD><TITLE>Caf\xE9 & co</TITLE><META NAME=author CONTENT=\"Jo\">"
                       "</HEAD><BODY><P>one<BR>two &nbsp;</BODY></HTML>"),
            "Caf\u00E9 & co|Jo|");  // cleaned up in memory; the file keeps its bytes
}

TEST(XmlLayer, NeverFetchesAndKeepsTheDoctype) {
  TempDir dir;
  // An external entity would have to be fetched: it is not, and the file
  // named by the system identifier is never read.
  std::string secret = dir.Write("secret.txt", "SECRET");
  formats::XmlDocument doc;
  formats::LoadXmlFile(dir.Write("x.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE x SYSTEM \"" + secret +
                                              "\" [<!ENTITY e SYSTEM \"" + secret + "\">]>\n<x>&e;</x>"),
                       doc);
  ASSERT_TRUE(doc.parsed);
  EXPECT_EQ(formats::TextOf(doc.Root()).find("SECRET"), std::string::npos);
  formats::SaveXmlFile(doc, dir / "y.xml");
  EXPECT_NE(ReadFile(dir / "y.xml").find("<!DOCTYPE x SYSTEM"), std::string::npos);

  // Windows-1252 declared; invalid UTF-8 undeclared, and two roots, refused.
  formats::LoadXmlText("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>", doc);
  EXPECT_TRUE(doc.parsed && formats::TextOf(doc.Root()) == "\u20AC");
  // "encoding" counts only as the declaration's own pseudo-attribute.
  formats::LoadXmlText("<?xml version=\"1.0\" xencoding=\"windows-1252\"?><a>\x80</a>", doc);
  EXPECT_FALSE(doc.parsed);
  formats::LoadXmlText("<?xml-stylesheet encoding=\"windows-1252\"?><a>\xC3\xA9</a>", doc);
  EXPECT_TRUE(doc.parsed && formats::TextOf(doc.Root()) == "\u00E9");
  // Other declared encodings through their converters; UTF-16 big-endian without a byte order mark.
  formats::LoadXmlText("<?xml version=\"1.0\" encoding=\"KOI8-R\"?><a>\xF0</a>", doc);
  EXPECT_TRUE(doc.parsed && formats::TextOf(doc.Root()) == "\u041F");
  formats::LoadXmlText(std::string("\0<\0a\0>\0\xE9\0<\0/\0a\0>", 16), doc);
  EXPECT_TRUE(doc.parsed && formats::TextOf(doc.Root()) == "\u00E9");
  for (const char* bad : {"<a>\x80</a>", "<a/><b/>", "<a><b x=\"1\" y=\"2\" x=\"3\"/></a>",
                          "<?xml version=\"1.0\" encoding=\"x-unheard-of\"?><a/>"}) {
    formats::LoadXmlText(bad, doc);
    EXPECT_FALSE(doc.parsed) << bad;
  }
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  while (n--) out += s;
  return out;
}

const std::string kHtmlHead = "<html><head><title>T</title></head><body>";

TEST(HostileHtml, OutsizedMarkupIsRefusedBeforeTheCleanUp) {
  TempDir dir;
  const std::pair<const char*, std::string> kCases[] = {
      {"deep.htm", kHtmlHead + Repeat("<div>", 80000)},
      {"inline.htm", kHtmlHead + Repeat("<font size=2>x</p>", 80000)},
      {"fonts.htm", kHtmlHead + Repeat("<p><font face=a>x", 400)},
      {"attributes.htm", kHtmlHead + "<p" + Repeat(" a=1", 300) + ">x"},
  };
  for (const auto& [name, html] : kCases) {
    formats::AutomationError e = ErrorOf([&] { MetadataOf(dir, name, html); });
    EXPECT_EQ(e.number(), formats::kInvalidArgument) << name;
    EXPECT_NE(e.detail().find(dir / name), std::string::npos) << e.detail();
    EXPECT_EQ(ReadFile(dir / name), html) << name << ": refused files are left alone";
  }
}

TEST(HostileHtml, MeasuresWhatLibtidyWouldRepeat) {
  // Paragraphs and list items close each other; an inline element left
  // open is repeated in every later block; nested ones of a name count once.
  formats::MarkupShape s = formats::MeasureMarkup(kHtmlHead + Repeat("<p>x<ul><li>a<li>b</ul>", 1000));
  EXPECT_LE(s.depth, 5u);
  EXPECT_EQ(s.repeated_inline, 0u);
  EXPECT_EQ(formats::MeasureMarkup(kHtmlHead + "<i><i><font><font>" + Repeat("<p>x", 10) + "</i></i>").repeated_inline,
            30u);
  EXPECT_EQ(formats::MeasureMarkup("<p a=1 b='>' c=\"2\" d/>").attributes, 4u);
  // libtidy descends for each nested inline element, also of one name; a
  // link inside a link ends the first.
  EXPECT_EQ(formats::MeasureMarkup(kHtmlHead + "<p>" + Repeat("<b>", 500) + Repeat("<a href=x>y", 500)).depth,
            3u + 500u + 1u);
  EXPECT_EQ(formats::MeasureMarkup("<script>" + Repeat("<div>", 5000) + "</script><!--<div>-->").depth, 0u);

  // A sloppy book of real size stays far inside the limits and is cleaned.
  TempDir dir;
  EXPECT_EQ(MetadataOf(dir, "sloppy.htm",
                       kHtmlHead + "<font face=Arial><i>" +
                           Repeat("<p>Some text, <b>bold</b> &amp; <a href=x.htm>a link", 4000)),
            "T||");
}

TEST(HostileXml, TwentyThousandDeepTitlesRead) {
  TempDir dir;
  const std::string nested = Repeat("<b>", 20000) + "Deep" + Repeat("</b>", 20000);
  EXPECT_EQ(MetadataOf(dir, "deep.htm", "<html><head><title>" + nested + "</title></head><body/></html>"), "Deep||");

  // A package is completed (loaded and saved) before its title is read.
  Book book;
  book.Load(dir.Write("deep.opf",
                      "<?xml version=\"1.0\"?><package unique-identifier=\"id\"><metadata><dc-metadata "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Title>" +
                          nested +
                          "</dc:Title><dc:Creator role=\"aut\">A</dc:Creator></dc-metadata>"
                          "<x-metadata/></metadata><manifest/><spine/></package>"));
  EXPECT_EQ(book.Path() + "|" + book.Title(), dir / "deep.opf|Deep");
}

TEST(HostileText, InvalidUtf8FromTheProgramIsRefused) {
  TempDir dir;
  Book book;
  book.Load(dir.Write("n.txt", "text"));
  book.SetTitle("Good");
  // An overlong TAB, a lone continuation byte, a truncated sequence.
  for (std::string bad : {"\xC0\x89", "a\x80", "\xE2\x82"}) {
    for (auto set : {&Book::SetTitle, &Book::SetAuthor, &Book::SetCategory})
      EXPECT_EQ(ErrorNumberOf([&] { (book.*set)(bad); }), formats::kInvalidArgument);
    EXPECT_EQ(ErrorNumberOf([&] { Package().CreatePackage(dir / "n.htm", "n", "T", bad, "C"); }),
              formats::kInvalidArgument);
  }
  EXPECT_EQ(book.Title(), "Good");
}

}  // namespace
}  // namespace vellix
