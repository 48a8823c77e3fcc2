// EPUB books as a user publishes them with the tool: built with
// `vellix build --epub` and added with `vellix shelf add`, then read back
// from the book file (its information, contents, links and image) and
// through `vellix view --text`; and hostile books, each refused with its
// reason and leaving nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "epub_maker.h"
#include "ikutil/device_edition.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

ToolOutcome Vellix(const std::vector<std::string>& args) { return RunTool(VELLIX_TOOL, args); }

// Every word of every page, in order, as `vellix view --text` lays them out
// on a large screen (where no word is hyphenated).
std::vector<std::string> BookWords(const std::string& book) {
  const std::vector<std::string> screen = {"--width", "1600", "--height", "2400"};
  std::vector<std::string> args = {"view", book, "--pages"};
  args.insert(args.end(), screen.begin(), screen.end());
  ToolOutcome pages = Vellix(args);
  EXPECT_EQ(pages.code, 0) << pages.err;
  std::vector<std::string> words;
  for (int page = 1; page <= std::atoi(pages.out.c_str()); ++page) {
    args = {"view", book, "--text", "--page", std::to_string(page)};
    args.insert(args.end(), screen.begin(), screen.end());
    ToolOutcome text = Vellix(args);
    EXPECT_EQ(text.code, 0) << text.err;
    for (std::string& word : SplitWords(text.out)) words.push_back(std::move(word));
  }
  return words;
}

// META-INF/encryption.xml saying `uri` is enciphered by `algorithm`.
ZipEntry Encryption(const std::string& algorithm, const std::string& uri) {
  return {"META-INF/encryption.xml",
          "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" xmlns:enc=\"http://www.w3.org/2001/04/"
          "xmlenc#\"><enc:EncryptedData><enc:EncryptionMethod Algorithm=\"" +
              algorithm + "\"/><enc:CipherData><enc:CipherReference URI=\"" + uri +
              "\"/></enc:CipherData></enc:EncryptedData></encryption>"};
}

class EpubPublish : public ::testing::TestWithParam<int> {};

TEST_P(EpubPublish, BuildsWithMetadataContentsImageFootnoteAndEveryWord) {
  TempDir dir;
  SampleEpub sample;
  sample.version = GetParam();
  WriteZip(dir / "walk.epub", sample.Entries());
  ToolOutcome built = Vellix({"build", "--epub", dir / "walk.epub", "-o", dir / "walk.imp"});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_EQ(built.out, dir / "walk.imp" + "\n");
  // Style sheets written for other readers are no error.
  EXPECT_EQ(built.err.find("error"), std::string::npos) << built.err;

  ikutil::EditionReadResult book = ikutil::ReadDeviceEdition(dir / "walk.imp");
  ASSERT_EQ(book.error, ikutil::EditionError::kNone) << book.message;
  const ikutil::BookInformation& info = book.info;
  EXPECT_EQ(info.title + "|" + info.author_first_name + "|" + info.author_middle_name + "|" + info.author_last_name +
                "|" + info.category + "|" + info.book_id + "|" + book.edition.language,
            "The River Walk|Jane|Quinn|Doe|Travel|urn:uuid:12345678-1234-4234-8234-123456789abc|en");

  // The contents are the book's own labels with their nesting, not its headings.
  const auto& toc = book.edition.toc;
  ASSERT_EQ(toc.size(), 3u);
  EXPECT_EQ(toc[0].title + "/" + toc[1].title + "/" + toc[2].title,
            "Part One: Morning/Part Two: Noon/Crossing the bridge");
  EXPECT_EQ(std::vector<int>({toc[0].level, toc[1].level, toc[2].level}), std::vector<int>({1, 1, 2}));
  auto text_of = [&](uint32_t block) {
    std::string text;
    for (const ikutil::Run& run : book.edition.blocks.at(block).runs) text += run.text;
    return text;
  };
  EXPECT_EQ(text_of(toc[2].target.block), "The bridge");

  ASSERT_EQ(book.edition.images.size(), 1u);
  // The footnote reference leads to the note, placed after the linear chapters.
  bool footnote = false;
  for (const ikutil::Block& block : book.edition.blocks)
    for (const ikutil::Run& run : block.runs)
      if (run.text == "1" && run.link != ikutil::kNoLink) {
        const ikutil::Link& link = book.edition.links.at(run.link);
        footnote = !link.external && text_of(link.target.block) == "Water is heavy.";
      }
  EXPECT_TRUE(footnote);

  EXPECT_EQ(BookWords(dir / "walk.imp"), SampleEpub::Words());
}

INSTANTIATE_TEST_SUITE_P(Versions, EpubPublish, ::testing::Values(2, 3),
                         [](const auto& info) { return "Epub" + std::to_string(info.param); });

// Lists as pandoc writes them for "(a)" and legal texts number them: the
// labels the document asks for, in the page text as on the page.
TEST(EpubPublish, OrderedListsKeepTheirLabelsInTheText) {
  TempDir dir;
  WriteZip(dir / "terms.epub", MinimalEpub("<ol type=\"a\"><li>First term.</li><li>Second term.</li></ol>"
                                           "<ol type=\"I\" start=\"4\"><li>Part four.</li></ol>"
                                           "<ol style=\"list-style-type: none\"><li>Unlabelled.</li></ol>"));
  ASSERT_EQ(Vellix({"build", "--epub", dir / "terms.epub", "-o", dir / "terms.imp"}).code, 0);
  ToolOutcome text = Vellix({"view", dir / "terms.imp", "--text"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out, "a. First term.\nb. Second term.\nIV. Part four.\nUnlabelled.\n");
}

TEST(EpubShelf, AddedBookKeepsTypedFieldsAndObfuscatedFontsAreSkipped) {
  TempDir dir;
  fs::create_directory(dir / "shelf");
  std::vector<ZipEntry> entries = SampleEpub().Entries();
  entries.push_back({"OEBPS/fonts/serif.otf", std::string(400, '\x7F')});
  entries.push_back(Encryption("http://www.idpf.org/2008/embedding", "OEBPS/fonts/serif.otf"));
  WriteZip(dir / "walk.epub", entries);
  ToolOutcome added =
      Vellix({"shelf", "add", dir / "shelf", dir / "walk.epub", "--title", "Typed Title", "--category", "Mine"});
  ASSERT_EQ(added.code, 0) << added.err;
  std::vector<std::string> books = Names(dir / "shelf");
  ASSERT_EQ(books.size(), 1u);
  ikutil::EditionReadResult book = ikutil::ReadDeviceEdition(dir / "shelf/" + books[0]);
  ASSERT_EQ(book.error, ikutil::EditionError::kNone) << book.message;
  EXPECT_EQ(book.info.title + "|" + book.info.category + "|" + book.info.author_last_name, "Typed Title|Mine|Doe");
  ToolOutcome info = Vellix({"book", "info", dir / "walk.epub", "--json"});
  EXPECT_NE(info.out.find("\"Title\": \"The River Walk\""), std::string::npos) << info.out << info.err;
  EXPECT_NE(info.out.find("\"Author\": \"Jane Quinn Doe\""), std::string::npos) << info.out;
}

struct Hostile {
  std::string name;
  std::string archive;
  std::string error;  // what stderr must say
  // `book info` reads the package alone, so a fault in a member it does
  // not need is left to the build.
  bool info_reads = false;
};

std::string WithEntries(const std::vector<RawZipEntry>& extra) {
  std::vector<RawZipEntry> entries;
  for (const ZipEntry& e : MinimalEpub("<p>Hello.</p>")) entries.push_back({e.name, e.bytes});
  for (const RawZipEntry& e : extra) entries.push_back(e);
  return RawZip(entries);
}

std::vector<Hostile> HostileBooks() {
  std::vector<Hostile> books;
  books.push_back({"parent", WithEntries({{"OEBPS/../../evil.xhtml", "x"}}), "\"OEBPS/../../evil.xhtml\" climbs out"});
  books.push_back({"absolute", WithEntries({{"/etc/evil", "x"}}), "\"/etc/evil\" has an absolute name"});
  books.push_back({"backslash", WithEntries({{"OEBPS\\evil.xhtml", "x"}}), "backslash"});
  books.push_back({"duplicate", WithEntries({{"OEBPS/c.xhtml", "<p>Other.</p>"}}), "\"OEBPS/c.xhtml\" appears twice"});
  RawZipEntry link{"OEBPS/link", "/etc/passwd"};
  link.unix_mode = 0120777;
  books.push_back({"symlink", WithEntries({link}), "\"OEBPS/link\" is a symbolic link"});
  std::vector<RawZipEntry> many;
  for (int i = 0; i < 10000; ++i) many.push_back({"OEBPS/x" + std::to_string(i), ""});
  books.push_back({"many", WithEntries(many), "more than 10000"});
  RawZipEntry bomb{"OEBPS/bomb.xhtml", std::string((64u << 20) + 1, ' ')};
  bomb.deflate = true;
  bomb.declared_size = 10;  // a central directory that lies
  books.push_back({"bomb", WithEntries({bomb}), "\"OEBPS/bomb.xhtml\" ", true});
  std::string corrupt = WithEntries({});
  corrupt.replace(corrupt.size() - 6, 4, std::string("\xFF\xFF\xFF\x0F", 4));  // the directory's offset
  books.push_back({"corrupt", corrupt, "not a readable zip archive"});
  ZipEntry encryption = Encryption("http://www.w3.org/2001/04/xmlenc#aes128-cbc", "OEBPS/c.xhtml");
  books.push_back({"encrypted", WithEntries({{encryption.name, encryption.bytes}}), "is encrypted"});
  return books;
}

// The container fuzz target's seeds are these books: with
// VELLIX_UPDATE_GOLDEN=1 they are written again.
TEST(EpubHostile, FuzzSeedsAreTheseBooks) {
  const std::string corpus = VELLIX_EPUB_CORPUS;
  if (std::getenv("VELLIX_UPDATE_GOLDEN")) {
    fs::create_directories(corpus);
    for (int version : {2, 3}) {
      SampleEpub sample;
      sample.version = version;
      WriteZip(corpus + "/sample-epub" + std::to_string(version), sample.Entries());
    }
    for (const Hostile& hostile : HostileBooks())
      if (hostile.name != "many") {
        TempDir dir;
        fs::copy_file(dir.Write("seed", hostile.archive), corpus + "/" + hostile.name,
                      fs::copy_options::overwrite_existing);
      }
  }
  EXPECT_GE(Names(corpus).size(), 10u);
}

TEST(EpubHostile, EachIsRefusedWithItsReasonAndLeavesNothing) {
  for (const Hostile& hostile : HostileBooks()) {
    SCOPED_TRACE(hostile.name);
    TempDir dir;
    fs::create_directory(dir / "shelf");
    std::string book = dir.Write("bad.epub", hostile.archive);
    ToolOutcome built = Vellix({"build", "--epub", book, "-o", dir / "out.imp"});
    EXPECT_EQ(built.code, 1);
    EXPECT_NE(built.err.find(book), std::string::npos) << built.err;
    EXPECT_NE(built.err.find(hostile.error), std::string::npos) << built.err;
    ToolOutcome added = Vellix({"shelf", "add", dir / "shelf", book});
    EXPECT_EQ(added.code, 1);
    EXPECT_NE(added.err.find(hostile.error), std::string::npos) << added.err;
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>({"bad.epub", "shelf"}));
    EXPECT_TRUE(Names(dir / "shelf").empty());
    ToolOutcome info = Vellix({"book", "info", book});
    EXPECT_EQ(info.code, hostile.info_reads ? 0 : 1) << info.err;
    if (hostile.info_reads) {
      EXPECT_NE(info.out.find("Title: Small"), std::string::npos) << info.out;
    }
  }
}

// Debian's epubcheck is a jar; run through java, it needs no binfmt support.
constexpr char kEpubcheckJar[] = "/usr/share/java/epubcheck.jar";

bool EpubcheckInstalled() { return fs::exists(kEpubcheckJar) && RunTool("java", {"-version"}).code == 0; }
const char kNoEpubcheck[] = "epubcheck is not installed (scripts/install_epubcheck.sh installs it)";

// epubcheck's findings: every line that reports an error or a warning.
std::string EpubcheckFindings(const std::string& epub) {
  ToolOutcome checked = RunTool("java", {"-jar", kEpubcheckJar, "-q", epub});
  std::string findings;
  std::istringstream lines(checked.out + checked.err);
  for (std::string line; std::getline(lines, line);)
    if (line.find("ERROR") != std::string::npos || line.find("WARNING") != std::string::npos ||
        line.find("FATAL") != std::string::npos)
      findings += line + "\n";
  if (checked.code != 0 && findings.empty()) findings = "exit " + std::to_string(checked.code) + ": " + checked.err;
  return findings;
}

// Three books built three ways (an EPUB 3, an EPUB 2 and a Markdown text
// on a shelf), each exported, checked by epubcheck and built again.
TEST(EpubExport, PassesEpubcheckAndKeepsTheWords) {
  if (!EpubcheckInstalled()) GTEST_SKIP() << kNoEpubcheck;
  TempDir dir;
  std::vector<std::string> books;
  for (int version : {3, 2}) {
    SampleEpub sample;
    sample.version = version;
    std::string epub = dir / ("walk" + std::to_string(version) + ".epub");
    WriteZip(epub, sample.Entries());
    std::string book = dir / ("walk" + std::to_string(version) + ".imp");
    ASSERT_EQ(Vellix({"build", "--epub", epub, "-o", book}).code, 0);
    books.push_back(book);
  }
  fs::create_directory(dir / "shelf");
  dir.Write("notes.md",
            "# Field Notes\n\nSome *words* with a [link](#list) and `code`.\n\n## List\n\n- one\n- two\n\n"
            "| Tree | Height |\n|------|--------|\n| Oak | 20 m |\n\n```\nkeep  spaces\n```\n\n~~gone~~ here.\n");
  ToolOutcome added = Vellix({"shelf", "add", dir / "shelf", dir / "notes.md"});
  ASSERT_EQ(added.code, 0) << added.err;
  books.push_back(Names(dir / "shelf").size() == 1 ? dir / "shelf/" + Names(dir / "shelf")[0] : "");

  for (const std::string& book : books) {
    SCOPED_TRACE(book);
    std::string epub = book + ".epub";
    ToolOutcome exported = Vellix({"export", book, "-o", epub});
    ASSERT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(EpubcheckFindings(epub), "");
    std::string again = book + ".again.imp";
    ToolOutcome rebuilt = Vellix({"build", "--epub", epub, "-o", again});
    ASSERT_EQ(rebuilt.code, 0) << rebuilt.err;
    EXPECT_EQ(BookWords(again), BookWords(book));
  }
}

// A book shaped as converters write them: its package in a folder with a
// guide one folder up, chapters that start a page by style, a notes file
// kept out of the reading order but listed first in the contents, a
// contents heading without a link, a hidden landmarks list, a locale's
// name as its language, links to a file it lacks, and a title and author
// in a script the device's strings cannot hold.
std::vector<ZipEntry> ConvertedEpub() {
  auto page = [](const std::string& head, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>t</title>" +
           head + "</head>" + body + "</html>\n";
  };
  const std::string style =
      "<style>body.chapter { page-break-before: always } h1 { page-break-before: always }</style>";
  std::string filler;
  for (int i = 0; i < 30; ++i) filler += "<p>Filler line " + std::to_string(i) + " of the long opening.</p>";
  const std::string opf =
      "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
      "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
      "<dc:identifier id=\"id\">urn:uuid:00000000-0000-4000-8000-000000000002</dc:identifier>"
      "<dc:title>Война и мир</dc:title><dc:creator>Лев "
      "Толстой</dc:creator><dc:language>pt_BR</dc:language>"
      "<meta property=\"dcterms:modified\">2020-01-01T00:00:00Z</meta></metadata><manifest>"
      "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>"
      "<item id=\"notes\" href=\"notes.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"a\" href=\"a.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"b\" href=\"b.xhtml\" media-type=\"application/xhtml+xml\"/>"
      "<item id=\"guide\" href=\"../Misc/guide.xhtml\" media-type=\"application/xhtml+xml\"/></manifest>"
      "<spine><itemref idref=\"notes\" linear=\"no\"/><itemref idref=\"nav\"/><itemref idref=\"a\"/>"
      "<itemref idref=\"b\"/><itemref idref=\"guide\"/></spine></package>\n";
  const std::string nav =
      page("",
           "<body><nav epub:type=\"toc\"><ol><li><a href=\"notes.xhtml\">Notes</a></li><li><span>Part</span><ol>"
           "<li><a href=\"a.xhtml\">Alpha</a></li><li><a href=\"b.xhtml#beta\">Beta</a></li></ol></li>"
           "<li><a href=\"../Misc/guide.xhtml\">Guide</a></li></ol></nav>"
           "<nav epub:type=\"landmarks\" hidden=\"hidden\"><ol><li><a href=\"a.xhtml\">Landmarkword</a></li></ol>"
           "</nav></body>");
  std::vector<ZipEntry> entries = MinimalEpub("");
  entries.resize(2);  // the mimetype and a container naming OEBPS/content.opf
  entries.insert(
      entries.end(),
      {{"OEBPS/content.opf", opf},
       {"OEBPS/nav.xhtml", nav},
       {"OEBPS/notes.xhtml", page("", "<body><p>Notewords here.</p></body>")},
       {"OEBPS/a.xhtml", page(style, "<body class=\"chapter\"><h1>Alpha</h1>" + filler +
                                         "<p>See <a href=\"missing.xhtml\">the lost page</a> and "
                                         "<a href=\"../Misc/guide.xhtml\">the guide</a>.</p></body>")},
       {"OEBPS/b.xhtml", page(style, "<body class=\"chapter\"><h1 id=\"beta\">Beta</h1><p>Second.</p></body>")},
       {"Misc/guide.xhtml", page("", "<body><h2>Guidewords</h2><p>From one folder up.</p></body>")}});
  return entries;
}

TEST(EpubConverted, ContentsOnTheirPagesLinksCheckedAndTheExportPassesEpubcheck) {
  TempDir dir;
  WriteZip(dir / "conv.epub", ConvertedEpub());
  ToolOutcome built = Vellix({"build", "--epub", dir / "conv.epub", "-o", dir / "conv.imp"});
  ASSERT_EQ(built.code, 0) << built.err;
  ikutil::EditionReadResult book = ikutil::ReadDeviceEdition(dir / "conv.imp");
  EXPECT_EQ(book.info.title + "|" + book.info.author_first_name + "|" + book.info.author_last_name,
            "Vojna i mir|Lev|Tolstoj");  // in Latin letters, not "?"
  // The guide one folder up is read; the hidden landmarks are not shown.
  std::vector<std::string> words = BookWords(dir / "conv.imp");
  EXPECT_NE(std::find(words.begin(), words.end(), "Guidewords"), words.end());
  EXPECT_EQ(std::find(words.begin(), words.end(), "Landmarkword"), words.end());

  // Each entry's page is the page its heading is drawn on.
  ToolOutcome contents = Vellix({"view", dir / "conv.imp", "--contents", "--json"});
  ASSERT_EQ(contents.code, 0) << contents.err;
  auto page_of_entry = [&](const std::string& label) {
    size_t at = contents.out.find("\"label\": \"" + label + "\"");
    size_t page = contents.out.find("\"page\": ", at);
    return at == std::string::npos ? -1 : std::atoi(contents.out.c_str() + page + 8);
  };
  for (const std::string label : {"Alpha", "Beta", "Guide"}) {
    SCOPED_TRACE(label);
    int page = page_of_entry(label);
    ToolOutcome text = Vellix({"view", dir / "conv.imp", "--text", "--page", std::to_string(page)});
    EXPECT_NE(text.out.find(label == "Guide" ? "Guidewords" : label), std::string::npos) << page << text.out;
  }

  // The link to a file the book lacks is broken; the one to the guide leads into the book.
  ToolOutcome links = Vellix({"view", dir / "conv.imp", "--links"});
  EXPECT_EQ(links.code, 1);
  EXPECT_NE(links.out.find("\"the lost page\" -> missing.xhtml (broken)"), std::string::npos) << links.out;
  EXPECT_EQ(links.out.find("guide.xhtml (outside"), std::string::npos) << links.out;

  ToolOutcome exported = Vellix({"export", dir / "conv.imp", "-o", dir / "conv.out.epub"});
  ASSERT_EQ(exported.code, 0) << exported.err;
  if (!EpubcheckInstalled()) GTEST_SKIP() << kNoEpubcheck;
  EXPECT_EQ(EpubcheckFindings(dir / "conv.out.epub"), "");
}

// A German part of an English book stays German through the book and its
// export: built again from the export, the same blocks are German.
TEST(EpubExport, KeepsTheLanguageOfBlocks) {
  TempDir dir;
  WriteZip(dir / "mixed.epub", MinimalEpub("<p>The English opening.</p><div lang=\"de\"><h2>Vorwort</h2><p>Die "
                                           "Donaudampfschifffahrtsgesellschaft.</p></div><p>The end.</p>"));
  auto languages = [](const std::string& book) {
    std::vector<std::string> out;
    for (const ikutil::Block& b : ikutil::ReadDeviceEdition(book).edition.blocks) out.push_back(b.language);
    return out;
  };
  ASSERT_EQ(Vellix({"build", "--epub", dir / "mixed.epub", "-o", dir / "mixed.imp"}).code, 0);
  const std::vector<std::string> expected = {"", "de", "de", ""};
  EXPECT_EQ(languages(dir / "mixed.imp"), expected);
  ToolOutcome exported = Vellix({"export", dir / "mixed.imp", "-o", dir / "out.epub"});
  ASSERT_EQ(exported.code, 0) << exported.err;
  ToolOutcome rebuilt = Vellix({"build", "--epub", dir / "out.epub", "-o", dir / "again.imp"});
  ASSERT_EQ(rebuilt.code, 0) << rebuilt.err;
  EXPECT_EQ(languages(dir / "again.imp"), expected);
}

TEST(EpubExport, RefusesABookThatIsNotOurs) {
  TempDir dir;
  std::string foreign = dir.Write("foreign.imp", std::string(4096, 'x'));
  ToolOutcome exported = Vellix({"export", foreign, "-o", dir / "out.epub"});
  EXPECT_EQ(exported.code, 1);
  EXPECT_NE(exported.err.find(foreign), std::string::npos) << exported.err;
  EXPECT_FALSE(fs::exists(dir / "out.epub"));
}

}  // namespace
