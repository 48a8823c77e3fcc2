// EPUB books as the engine reads them: the container's limits, the package
// of EPUB 2 and 3 (metadata, spine order, contents), and what the compiler
// does with documents made for other readers (HTML5 blocks, foreign CSS,
// SVG, the book's own contents).
#include <gtest/gtest.h>

#include "compiler.h"
#include "epub_book.h"
#include "epub_maker.h"
#include "test_util.h"
#include "vellix/formats/ocf_container.h"

namespace ikutil {
namespace {

using namespace vellix::fixtures;

namespace ocf = vellix::formats;

std::string Archive(const std::vector<ZipEntry>& entries) {
  std::vector<RawZipEntry> raw;
  for (const ZipEntry& e : entries) raw.push_back({e.name, e.bytes});
  return RawZip(raw);
}

ocf::OcfOpenResult Open(const std::vector<ZipEntry>& entries, const ocf::OcfLimits& limits = {}) {
  return ocf::OpenOcfContainerFromBytes(Archive(entries), "b.epub", limits);
}

// The package of MinimalEpub replaced by `package`, read.
EpubReadResult ReadPackage(const std::string& package) {
  std::vector<ZipEntry> entries = MinimalEpub("<p>x</p>");
  entries[2].bytes = package;
  ocf::OcfOpenResult opened = Open(entries);
  EXPECT_TRUE(opened.container) << opened.error;
  if (!opened.container) return {};
  return ReadEpubPackage(std::move(opened.container), "b.epub");
}

TEST(EpubContainer, ExpansionLimitsNameTheEntry) {
  ocf::OcfLimits limits;
  limits.max_entry_bytes = 1000;
  limits.max_total_bytes = 2400;
  std::vector<ZipEntry> entries = MinimalEpub("<p>x</p>", {{"OEBPS/a.bin", std::string(900, 'a')}});
  ocf::OcfOpenResult one = Open(entries, limits);
  ASSERT_TRUE(one.container) << one.error;
  entries.push_back({"OEBPS/b.bin", std::string(900, 'b')});
  EXPECT_EQ(Open(entries, limits).error, "b.epub: the entry \"OEBPS/b.bin\" makes the book expand past 2400 bytes");
  entries.push_back({"OEBPS/c.bin", std::string(1001, 'c')});
  limits.max_total_bytes = 1 << 20;
  EXPECT_EQ(Open(entries, limits).error, "b.epub: the entry \"OEBPS/c.bin\" expands past 1000 bytes");
}

TEST(EpubContainer, WhatIsNotAnEpubIsSaid) {
  std::vector<ZipEntry> wrong = MinimalEpub("<p>x</p>");
  wrong[0].bytes = "application/zip";
  EXPECT_EQ(Open(wrong).error, "b.epub: is not an EPUB book: its mimetype is \"application/zip\"");
  EXPECT_EQ(Open({{"mimetype", "application/epub+zip"}}).error,
            "b.epub: is not an EPUB book: it has no META-INF/container.xml");
  EXPECT_NE(ocf::OpenOcfContainerFromBytes("PK\x03\x04 not really", "b.epub").error.find("not a readable zip"),
            std::string::npos);
}

std::shared_ptr<const EpubBook> Read(const std::vector<ZipEntry>& entries) {
  ocf::OcfOpenResult opened = Open(entries);
  EXPECT_TRUE(opened.container) << opened.error;
  if (!opened.container) return nullptr;
  EpubReadResult read = ReadEpubPackage(std::move(opened.container), "b.epub");
  EXPECT_TRUE(read.book) << read.error;
  return read.book;
}

TEST(EpubPackage, Epub2AndEpub3Metadata) {
  for (int version : {2, 3}) {
    SCOPED_TRACE(version);
    SampleEpub sample;
    sample.version = version;
    auto book = Read(sample.Entries());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->version, version);
    // The author, not the illustrator named before; the name parts from file-as.
    EXPECT_EQ(book->title + "|" + book->author + "|" + book->author_first + "|" + book->author_middle + "|" +
                  book->author_last + "|" + book->identifier + "|" + book->category + "|" + book->language,
              "The River Walk|Jane Quinn Doe|Jane|Quinn|Doe|urn:uuid:12345678-1234-4234-8234-123456789abc|Travel|en");
    EXPECT_EQ(book->spine, std::vector<std::string>({"ch1.xhtml", "chapter two.xhtml", "notes.xhtml"}));
    ASSERT_EQ(book->contents.size(), 3u);
    // EPUB 3's navigation document wins over the NCX it also carries.
    EXPECT_EQ(book->contents[0].label, "Part One: Morning");
    EXPECT_EQ(book->contents[2].document + "#" + book->contents[2].fragment, "chapter two.xhtml#bridge");
    EXPECT_EQ(book->contents[2].level, 2);
  }
}

TEST(EpubPackage, SortNameUsedOnlyWhenItOrdersTheDisplayName) {
  struct Case {
    const char* file_as;
    const char* first;
    const char* middle;
    const char* last;
  };
  // A placeholder sort name (as some tools write when none was given) loses
  // to the display name; one that reorders its words is kept.
  for (const Case& c : {Case{"Unknown", "Ann", "Lee", "Writer"}, Case{"Writer, Ann Lee", "Ann", "Lee", "Writer"},
                        Case{"Lee Writer, Ann", "Ann", "", "Lee Writer"}, Case{"", "Ann", "Lee", "Writer"},
                        Case{"Smith, John", "Ann", "Lee", "Writer"}}) {
    for (int version : {2, 3}) {
      SCOPED_TRACE(std::string(c.file_as) + " " + std::to_string(version));
      SampleEpub sample;
      sample.version = version;
      sample.author = "Ann Lee Writer";
      sample.author_file_as = c.file_as;
      auto book = Read(sample.Entries());
      ASSERT_TRUE(book);
      EXPECT_EQ(book->author + "|" + book->author_first + "|" + book->author_middle + "|" + book->author_last,
                "Ann Lee Writer|" + std::string(c.first) + "|" + c.middle + "|" + c.last);
    }
  }
}

TEST(EpubPackage, WithoutSpineDocumentsItIsRefused) {
  EXPECT_EQ(ReadPackage("<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><metadata/><manifest>"
                        "<item id=\"p\" href=\"p.png\" media-type=\"image/png\"/></manifest><spine>"
                        "<itemref idref=\"p\"/><itemref idref=\"nothing\"/></spine></package>")
                .error,
            "b.epub: the book has no document to read in its spine");
}

// A package naming more items than a book file holds is refused at once,
// and one just within it is read with every spine entry in order.
TEST(EpubPackage, ItemCountsPastWhatABookHoldsAreRefused) {
  struct Case {
    size_t items;
    bool in_manifest;
    std::string error;
  };
  const std::string over = std::to_string(kMaxEpubItems);
  for (const Case& c :
       {Case{kMaxEpubItems + 1, false, "b.epub: the spine names more than " + over + " items, more than a book holds"},
        Case{kMaxEpubItems + 1, true,
             "b.epub: the manifest names more than " + over + " items, more than a book holds"},
        Case{kMaxEpubItems - 1, true, ""}}) {
    std::string items, refs;
    for (size_t i = 0; i < c.items; ++i) {
      std::string n = std::to_string(i);
      if (c.in_manifest)
        items += "<item id=\"m" + n + "\" href=\"m" + n + ".xhtml\" media-type=\"application/xhtml+xml\"/>";
      refs += "<itemref idref=\"m" + n + "\"/>";
    }
    EpubReadResult read =
        ReadPackage("<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><metadata/><manifest>" + items +
                    "<item id=\"c\" href=\"c.xhtml\" media-type=\"application/xhtml+xml\"/></manifest><spine>" + refs +
                    "<itemref idref=\"c\"/></spine></package>");
    EXPECT_EQ(read.error, c.error) << c.items;
    if (c.error.empty()) {
      ASSERT_TRUE(read.book);
      ASSERT_EQ(read.book->spine.size(), c.items + 1);
      EXPECT_EQ(read.book->spine[c.items - 1], "m" + std::to_string(c.items - 1) + ".xhtml");
    }
  }
}

struct Compiled {
  DeviceEdition edition;
  std::vector<Problem> problems;
};

Compiled Compile(const std::map<std::string, std::string>& docs, std::vector<ContentsTarget> contents = {}) {
  MemorySourceFiles files;
  for (const auto& [href, text] : docs) files.files[href] = text;
  Compiled out;
  CompileSettings settings;
  settings.foreign_css = true;
  EditionCompiler compiler(files, settings, [&](const Problem& p) { out.problems.push_back(p); });
  if (!contents.empty()) compiler.SetContents(contents);
  for (const auto& [href, text] : docs)
    if (href.ends_with(".xhtml")) compiler.AddDocument(href);
  out.edition = compiler.Finish();
  return out;
}

std::string Page(const std::string& body) {
  return "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title>"
         "<link rel=\"stylesheet\" href=\"s.css\"/></head><body>" +
         body + "</body></html>";
}

TEST(EpubDocuments, Html5BlocksForeignCssSvgAndGivenContents) {
  Compiled c = Compile(
      {{"a.xhtml", Page("<section><header>Head</header><p style=\"box-shadow: 1px\">One</p></section>"
                        "<svg xmlns=\"http://www.w3.org/2000/svg\"><title>A drawing</title><circle r=\"4\"/></svg>")},
       {"b.xhtml", Page("<article id=\"x\"><p>Two</p><aside>Side</aside><figure>Fig<figcaption>Cap</figcaption>"
                        "</figure></article><h1>Ignored heading</h1>")},
       {"s.css", "p { box-shadow: 2px; color: red; font-variant: small-caps } h1 { box-shadow: 0 }"}},
      {{"a.xhtml", "", "First", 1}, {"b.xhtml", "x", "Second", 2}, {"gone.xhtml", "", "Missing", 1}});
  std::vector<std::string> texts;
  for (const Block& block : c.edition.blocks) {
    std::string text;
    for (const ikutil::Run& run : block.runs) text += run.text;
    texts.push_back(text);
  }
  EXPECT_EQ(texts,
            std::vector<std::string>({"Head", "One", "A drawing", "Two", "Side", "Fig", "Cap", "Ignored heading"}));
  // Each property the device cannot show is noted once for the whole book,
  // as information; the drawing is a warning.
  int box_shadow = 0, above_information = 0;
  for (const Problem& p : c.problems) {
    if (p.message.find("box-shadow") != std::string::npos) ++box_shadow;
    if (p.severity > 0 && p.message.find("SVG") == std::string::npos) ++above_information;
  }
  EXPECT_EQ(box_shadow, 1);
  EXPECT_EQ(above_information, 0);
  ASSERT_EQ(c.edition.toc.size(), 2u);
  EXPECT_EQ(c.edition.toc[0].title + "|" + c.edition.toc[1].title, "First|Second");
  EXPECT_EQ(std::pair(int{c.edition.toc[1].level}, c.edition.toc[1].target.block), std::pair(2, 3u));
}

}  // namespace
}  // namespace ikutil
