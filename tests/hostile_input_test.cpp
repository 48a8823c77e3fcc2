// Documents built to hurt: nesting tens of thousands deep, inline elements
// left open everywhere, tags with hundreds of attributes, and text that is
// not UTF-8. Each is read or refused (error 5, naming the file) quickly and
// without a crash.
#include <gtest/gtest.h>

#include "book_maker.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/html_cleanup.h"
#include "vellix/package.h"

namespace vellix {
namespace {

using namespace fixtures;

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  while (n--) out += s;
  return out;
}

const std::string kHtmlHead = "<html><head><title>T</title></head><body>";

// The error a metadata read gives, checking it names the file.
int RefusalOf(const std::string& path) {
  try {
    std::string t, a, c;
    Book().ExtractMetadata(path, t, a, c);
  } catch (const AutomationError& e) {
    EXPECT_NE(e.detail().find(path), std::string::npos) << e.detail();
    return e.number();
  }
  return 0;
}

TEST(HostileHtml, OutsizedMarkupIsRefusedBeforeTheCleanUp) {
  TempDir dir;
  const std::pair<const char*, std::string> kCases[] = {
      {"deep.htm", kHtmlHead + Repeat("<div>", 80000)},
      {"inline.htm", kHtmlHead + Repeat("<font size=2>x</p>", 80000)},
      {"fonts.htm", kHtmlHead + Repeat("<p><font face=a>x", 400)},
      {"attributes.htm", kHtmlHead + "<p" + Repeat(" a=1", 300) + ">x"},
  };
  for (const auto& [name, html] : kCases) {
    WriteFile(dir / name, html);
    EXPECT_EQ(RefusalOf(dir / name), kInvalidArgument) << name;
    EXPECT_EQ(ReadFile(dir / name), html) << name << ": refused files are left alone";
  }
}

TEST(HostileHtml, MeasuresWhatLibtidyWouldRepeat) {
  // Paragraphs and list items close each other; an inline element left
  // open is repeated in every later block; nested ones of a name count once.
  MarkupShape s = MeasureMarkup(kHtmlHead + Repeat("<p>x<ul><li>a<li>b</ul>", 1000));
  EXPECT_LE(s.depth, 5u);
  EXPECT_EQ(s.repeated_inline, 0u);
  s = MeasureMarkup(kHtmlHead + "<i><i><font><font>" + Repeat("<p>x", 10) + "</i></i>");
  EXPECT_EQ(s.repeated_inline, 30u);
  EXPECT_EQ(MeasureMarkup("<p a=1 b='>' c=\"2\" d/>").attributes, 4u);
  EXPECT_EQ(MeasureMarkup("<script>" + Repeat("<div>", 5000) + "</script><!--<div>-->").depth, 0u);

  // A sloppy book of real size stays far inside the limits and is cleaned.
  TempDir dir;
  WriteFile(dir / "sloppy.htm",
            kHtmlHead + "<font face=Arial><i>" + Repeat("<p>Some text, <b>bold</b> &amp; <a href=x.htm>a link", 4000));
  std::string t, a, c;
  EXPECT_TRUE(Book().ExtractMetadata(dir / "sloppy.htm", t, a, c));
  EXPECT_EQ(t, "T");
}

TEST(HostileXml, TwentyThousandDeepTitlesRead) {
  TempDir dir;
  const std::string nested = Repeat("<b>", 20000) + "Deep" + Repeat("</b>", 20000);
  WriteFile(dir / "deep.htm", "<html><head><title>" + nested + "</title></head><body/></html>");
  std::string t, a, c;
  ASSERT_TRUE(Book().ExtractMetadata(dir / "deep.htm", t, a, c));
  EXPECT_EQ(t, "Deep");

  // A package is completed (loaded and saved) before its title is read.
  WriteFile(dir / "deep.opf",
            "<?xml version=\"1.0\"?><package unique-identifier=\"id\"><metadata><dc-metadata "
            "xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Title>" +
                nested +
                "</dc:Title><dc:Creator role=\"aut\">A</dc:Creator></dc-metadata>"
                "<x-metadata/></metadata><manifest/><spine/></package>");
  Book book;
  book.Load(dir / "deep.opf");
  EXPECT_EQ(book.Path(), dir / "deep.opf");
  EXPECT_EQ(book.Title(), "Deep");
}

TEST(HostileText, InvalidUtf8FromTheProgramIsRefused) {
  TempDir dir;
  WriteFile(dir / "n.txt", "text");
  Book book;
  book.Load(dir / "n.txt");
  book.SetTitle("Good");
  // An overlong TAB, a lone continuation byte, a truncated sequence.
  for (std::string bad : {"\xC0\x89", "a\x80", "\xE2\x82"}) {
    EXPECT_EQ(ErrorNumberOf([&] { book.SetTitle(bad); }), kInvalidArgument);
    EXPECT_EQ(ErrorNumberOf([&] { book.SetAuthor(bad); }), kInvalidArgument);
    EXPECT_EQ(ErrorNumberOf([&] { book.SetCategory(bad); }), kInvalidArgument);
    EXPECT_EQ(ErrorNumberOf([&] { Package().CreatePackage(dir / "n.htm", "n", "T", bad, "C"); }), kInvalidArgument);
  }
  EXPECT_EQ(book.Title(), "Good");
  book.ConvertTxtToHtm(dir / "n.htm");
  EXPECT_NE(ReadFile(dir / "n.htm").find("<title>Good</title>"), std::string::npos);
}

}  // namespace
}  // namespace vellix
