// Markdown into our XHTML: where the title comes from, what each kind of
// block becomes (tables as rows), and the Book operation that writes the
// document beside its source.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/markdown.h"
#include "vellix/formats/xml.h"

namespace {

using namespace vellix::fixtures;
using vellix::formats::ConvertMarkdown;

TEST(Markdown, TitleFromPercentLineYamlBlockOrFirstHeading) {
  EXPECT_EQ(ConvertMarkdown("% The Title\n\n# Heading\n").title, "The Title");
  EXPECT_EQ(ConvertMarkdown("---\nauthor: Me\ntitle: \"Quoted: Title\"\n---\n# Heading\n").title, "Quoted: Title");
  EXPECT_EQ(ConvertMarkdown("Intro\n\n## Second\n\n# First *one*\n\n# Later\n").title, "First one");
  EXPECT_EQ(ConvertMarkdown("no heading at all\n").title, "");
  EXPECT_EQ(ConvertMarkdown("% Caf\xE9\n").title, "Caf\xC3\xA9");  // not UTF-8: the 8-bit code page
  // The title lines are not part of the text; an unclosed block is text.
  EXPECT_EQ(ConvertMarkdown("% T\nbody\n").body, "<p>body</p>\n");
  EXPECT_NE(ConvertMarkdown("---\ntitle: X\nbody\n").body.find("title: X"), std::string::npos);
}

TEST(Markdown, BlocksSpansAndTablesAsRows) {
  vellix::formats::MarkdownDocument d = ConvertMarkdown(
      "# A & B\n\nSome *em*, **strong**, `co<de>`, ~~gone~~ and [a link](http://x.org/?a=1&b=2 \"t\").\n\n"
      "1. one\n2. two\n\n- dot\n\n> quoted\n\n```\nif a < b:\n  go()\n```\n\n"
      "| Name | Size |\n|:-----|-----:|\n| Oak | *20* m |\n| Fir | 30 m |\n\n![A tree](tree.png)\n\n<b>raw</b>\n");
  EXPECT_EQ(d.title, "A & B");
  const std::string& b = d.body;
  EXPECT_NE(b.find("<h1 id=\"a--b\">A &amp; B</h1>"), std::string::npos) << b;
  EXPECT_NE(b.find("<em>em</em>, <strong>strong</strong>, <code>co&lt;de&gt;</code>, <del>gone</del>"),
            std::string::npos);
  EXPECT_NE(b.find("<a href=\"http://x.org/?a=1&amp;b=2\">a link</a>"), std::string::npos);
  EXPECT_NE(b.find("<ol>\n<li>one</li>\n<li>two</li>\n</ol>"), std::string::npos);
  EXPECT_NE(b.find("<blockquote>\n<p>quoted</p>\n</blockquote>"), std::string::npos);
  EXPECT_NE(b.find("<pre><code>if a &lt; b:\n  go()\n</code></pre>"), std::string::npos);
  EXPECT_NE(b.find("<p class=\"table-row\"><b>Name | Size</b></p>\n<p class=\"table-row\">Oak | <em>20</em> m</p>\n"
                   "<p class=\"table-row\">Fir | 30 m</p>"),
            std::string::npos)
      << b;
  EXPECT_NE(b.find("<img src=\"tree.png\" alt=\"A tree\"/>"), std::string::npos);
  EXPECT_NE(b.find("<b>raw</b>"), std::string::npos);  // raw HTML is HTML
  vellix::formats::XmlDocument doc;
  vellix::formats::LoadXmlText(vellix::formats::MarkdownXhtml(d, d.title, "A <Writer>", "Notes"), doc);
  ASSERT_TRUE(doc.parsed);
  EXPECT_EQ(std::string(doc.Root().child("head").child("title").text().get()), "A & B");
}

// GitHub's Markdown as real files use it: each source gives a body
// holding every `has` text and none of the `lacks` texts, and stays
// well-formed.
TEST(Markdown, CommentsRawHtmlFootnotesTasksAndAutolinks) {
  struct Case {
    const char* name;
    std::string source;
    std::vector<std::string> has, lacks;
  };
  const std::vector<Case> cases = {
      {"comment before a setext underline",
       "<!-- generated -->\n===\n\nText.\n",
       {"<!-- generated -->", "<p>===</p>"},
       {"&lt;!--"}},
      {"comment before reference links",
       "Read [the notes][n] and [more][m].\n\n<!-- links -->\n[n]: https://x.org/n\n[m]: https://x.org/m\n",
       {"<a href=\"https://x.org/n\">the notes</a>", "<a href=\"https://x.org/m\">more</a>"},
       {"[n]:", "&lt;!--"}},
      {"raw HTML block and span",
       "<div align=\"center\">\n<b>Logo</b>\n</div>\n\nA <kbd>key</kbd> here.\n",
       {"<div align=\"center\">", "<kbd>key</kbd>"},
       {"&lt;"}},
      {"unbalanced raw HTML is mended",
       "<details><summary>More</summary>\n\nHidden *text*.\n\nEnd.\n",
       {"More", "<em>text</em>", "End."},
       {"&lt;details"}},
      {"footnotes",
       "A claim[^1] and another[^note].\n\n[^1]: The first source.\n[^note]: The second,\n    longer.\n",
       {"<a href=\"#fn-1\" id=\"fnref-1\">1</a>", "<a href=\"#fn-2\" id=\"fnref-2\">2</a>", "<a id=\"fn-1\"></a>",
        "The first source.", "longer."},
       {"[^1]", "[^note]"}},
      {"footnote marks in code stay", "```\nx[^1]\n```\n\nA[^1].\n\n[^1]: Note.\n", {"x[^1]"}, {}},
      {"task list", "- [ ] open\n- [x] done\n", {"<li>[ ] open</li>", "<li>[x] done</li>"}, {}},
      {"www autolink and strikethrough",
       "See www.example.org for ~~old~~ news.\n",
       {"<a href=\"http://www.example.org\">www.example.org</a>", "<del>old</del>"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vellix::formats::MarkdownDocument d = ConvertMarkdown(c.source);
    for (const std::string& has : c.has) EXPECT_NE(d.body.find(has), std::string::npos) << has << "\n" << d.body;
    for (const std::string& lacks : c.lacks)
      EXPECT_EQ(d.body.find(lacks), std::string::npos) << lacks << "\n" << d.body;
    vellix::formats::XmlDocument doc;
    vellix::formats::LoadXmlText(vellix::formats::MarkdownXhtml(d, "T", "", ""), doc);
    EXPECT_TRUE(doc.parsed) << d.body;
  }
  // A comment is never the title; a heading after it is.
  EXPECT_EQ(ConvertMarkdown("<!-- draft -->\n===\n").title, "");
  EXPECT_EQ(ConvertMarkdown("<!-- draft -->\nTitle\n===\n").title, "Title");
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Lists and quotes nested past what a screen shows are written no deeper:
// their text is kept, each item's on its own line, and "- - - - x" no
// longer makes two elements of every two bytes.
TEST(Markdown, DeepNestingIsWrittenToABoundedDepth) {
  std::string deep_items;
  for (int d = 0; d < 40; ++d) deep_items += std::string(2 * d, ' ') + "- level " + std::to_string(d) + "\n";
  struct Case {
    std::string source;
    std::string element;
    size_t elements;
  };
  std::string dashes;
  for (int i = 0; i < 500; ++i) dashes += "- ";
  for (const Case& c : {Case{dashes + "x\n", "<ul>", 16}, Case{std::string(400, '>') + " x\n", "<blockquote>", 32},
                        Case{deep_items, "<li>", 16}}) {
    std::string body = ConvertMarkdown(c.source).body;
    EXPECT_EQ(Count(body, c.element), c.elements) << c.source.substr(0, 20);
    EXPECT_LT(body.size(), c.source.size() + 600) << c.source.substr(0, 20);
    vellix::formats::XmlDocument doc;
    vellix::formats::LoadXmlText("<body>" + body + "</body>", doc);
    EXPECT_TRUE(doc.parsed) << body;
  }
  std::string body = ConvertMarkdown(deep_items).body;
  size_t at = 0;
  for (int d = 0; d < 40; ++d) {
    at = body.find("level " + std::to_string(d) + (d >= 15 ? "<" : ""), at);
    ASSERT_NE(at, std::string::npos) << d;
  }
  EXPECT_EQ(Count(body, "<br/>"), 40u - 16u) << "one line per item past the depth";
}

TEST(Markdown, FrontMatterGivesAuthorAndLanguage) {
  vellix::formats::MarkdownDocument d =
      ConvertMarkdown("---\ntitle: Notes\nauthor: \"Ana Souza\"\nlang: pt-BR\n---\n\nTexto.\n");
  EXPECT_EQ(d.title + "|" + d.author + "|" + d.language, "Notes|Ana Souza|pt-BR");
  EXPECT_EQ(ConvertMarkdown("---\nauthor:\n  - First One\n  - Second\n---\nx\n").author, "First One");
  EXPECT_EQ(ConvertMarkdown("---\nauthor: [A. One, B. Two]\n---\nx\n").author, "A. One");
  EXPECT_NE(vellix::formats::MarkdownXhtml(d, d.title, d.author, "").find("<html lang=\"pt-BR\">"), std::string::npos);
  TempDir dir;
  vellix::Book book;
  book.Load(dir.Write("notes.md", "---\nauthor: Ana Souza\n---\n# Heading\n"));
  book.ConvertMarkdownToHtm(dir / "notes.htm");
  std::string t, a, c;
  ASSERT_TRUE(book.ExtractMetadata(dir / "notes.htm", t, a, c));
  EXPECT_EQ(a, "Ana Souza");
}

TEST(Markdown, BookConvertsBesideItsSourceAndKeepsATypedTitle) {
  TempDir dir;
  std::string md = dir.Write("notes.md", "# From Heading\n\nText.\n");
  vellix::Book book;
  book.Load(md);
  book.ConvertMarkdownToHtm(dir / "notes.htm");
  EXPECT_EQ(book.Path(), dir / "notes.htm");
  EXPECT_EQ(book.Extension(), "htm");
  EXPECT_EQ(book.Title(), "From Heading");
  std::string t, a, c;
  ASSERT_TRUE(book.ExtractMetadata(dir / "notes.htm", t, a, c));
  EXPECT_EQ(t, "From Heading");

  vellix::Book typed;
  typed.Load(md);
  typed.SetTitle("Typed");
  typed.ConvertMarkdownToHtm(dir / "typed.htm");
  ASSERT_TRUE(typed.ExtractMetadata(dir / "typed.htm", t, a, c));
  EXPECT_EQ(t, "Typed");
}

}  // namespace
