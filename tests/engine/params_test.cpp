// Project parameters: the source list, and the project file read from and
// written back to a package document.
#include "ikutil/params.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ikutil/ui_helper.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace ikutil {
namespace {

using vellix::fixtures::ReadFile;
using vellix::fixtures::TempDir;

struct Shown {
  std::string message, detail;
  int line, show_now;
  // Where the message points and whether it is shown at once.
  std::string Where() const { return detail + ":" + std::to_string(line) + (show_now ? " now" : " later"); }
};

class RecordingHelper : public COEBPackageUIHelper {
 public:
  int Display(const std::string& message, const std::string& detail, int line, int show_now) override {
    shown.push_back({message, detail, line, show_now});
    return 0;
  }
  std::vector<Shown> shown;
};

// Every field, source and resource, one per line, for comparisons that
// show what differs.
std::string Describe(const CBookParams& p) {
  std::ostringstream out;
  out << "file " << p.book_file_name << "\nid " << p.book_id << "\ntitle " << p.book_title << "\ncategory "
      << p.category << "/" << p.sub_category << "\nauthor " << p.author_first_name << "|" << p.author_middle_name << "|"
      << p.author_last_name << "\nlanguage " << p.language << "\nswitches " << int{p.encrypt} << int{p.compress}
      << int{p.implode} << int{p.underline_links} << int{p.logging} << int{p.delete_fallbacks} << int{p.is_periodical}
      << "\nnumbers " << p.zoom << " " << p.css << " " << p.widow_lines << " " << p.orphan_lines << " "
      << p.build_target << " " << p.rle_trigger << "\nfeed " << p.content_feed_id << "/" << p.current_issue << "\ndirs "
      << p.DestDir() << "|" << p.LogDir() << "\nformat " << p.ProjectFormat() << "\n";
  for (size_t i = 0; i < p.NumSources(); ++i) {
    const CSourceFile& s = *p.Source(i);
    out << "source " << s.file_name << " " << s.status << " " << s.item_id << " " << s.media_type << "\n";
  }
  for (const ProjectResource& r : p.Resources())
    out << "resource " << r.id << " " << r.href << " " << r.media_type << "\n";
  return out.str();
}

std::unique_ptr<CSourceFile> Entry(const std::string& name, uint32_t status = 0) {
  auto entry = std::make_unique<CWinSourceFile>(name, 0);
  entry->status = status;
  return entry;
}

// A package document with the given x-metadata, spine and extra parts.
std::string PackageText(const std::string& metas, const std::string& manifest, const std::string& spine,
                        const std::string& extra = "") {
  return "<?xml version=\"1.0\"?>\n<package unique-identifier=\"uid\">\n<metadata>\n"
         "<dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\">\n"
         "<dc:Identifier id=\"uid\">book-1</dc:Identifier><dc:Title>  A\n  Title </dc:Title>\n"
         "<dc:Creator role=\"aut\">Ann Bee Cole</dc:Creator>\n</dc-metadata>\n<x-metadata>" +
         metas + "</x-metadata>\n</metadata>\n<manifest>" + manifest + "</manifest>\n<spine>" + spine + "</spine>\n" +
         extra + "</package>\n";
}

TEST(BookParams, SourceListAndFiles) {
  CBookParams p;
  p.InsertSource(0, Entry("b.htm"));
  p.InsertSource(1, Entry("c.htm"));  // at the count: appended
  p.InsertSource(0, Entry("a.htm"));
  EXPECT_THROW(p.InsertSource(4, Entry("x.htm")), std::out_of_range);
  std::unique_ptr<CSourceFile> taken = p.DeleteSource(1);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->file_name, "b.htm");
  ASSERT_EQ(p.NumSources(), 2u);
  EXPECT_EQ(p.Source(0)->Name() + p.Source(1)->Name(), "a.htmc.htm");
  EXPECT_THROW(p.DeleteSource(2), std::out_of_range);

  TempDir dir;
  std::string abs = dir.Write("sub/abs.htm", "12345");
  p.project_file_path = dir / "book.opf";
  EXPECT_EQ(p.BaseDirectory(), dir.path());
  dir.Write("a.htm", "abc");
  EXPECT_TRUE(p.Source(0)->Exists(p.BaseDirectory()));
  EXPECT_EQ(p.Source(0)->FileSize(p.BaseDirectory()), 3u);
  EXPECT_FALSE(p.Source(1)->Exists(p.BaseDirectory()));
  EXPECT_EQ(p.Source(1)->FileSize(p.BaseDirectory()), 0u);
  EXPECT_EQ(CSourceFile(abs).FileSize("/nowhere"), 5u);  // absolute names ignore the folder
  EXPECT_FALSE(CSourceFile("sub").Exists(dir.path()));   // a folder is no source
  p.project_file_path = "book.opf";
  EXPECT_EQ(p.BaseDirectory(), "");
  p.project_file_path = "/book.opf";
  EXPECT_EQ(p.BaseDirectory(), "/");
}

// A package the library made from a document and completed for a build.
TEST(BookParams, LoadsAPackageMadeByTheLibrary) {
  TempDir dir;
  dir.Write("ch2.htm", "<html><head/><body/></html>");
  std::string story = dir.Write("story.htm",
                                "<html><head><title>t</title></head><body><img src=\"a.gif\"/>"
                                "<a href=\"ch2.htm\">two</a></body></html>");
  std::string opf = dir / "story.opf";
  vellix::Book().CreateDefaultOpf(opf);
  vellix::Package package;
  package.initialID(18838);
  package.SetPackagePath(opf);
  package.CreatePackage(story, "STORY", "Salt & Pepper", "Public, John Q", "Fiction");
  package.CompletePackage(opf, "STORY", "Fiction");
  package.SetDirectory(opf, "/shelf/", "/logs");

  CBookParams p;
  ASSERT_TRUE(p.Load(opf, false));
  EXPECT_EQ(p.project_file_path, opf);
  EXPECT_EQ(p.ProjectFormat(), 1);
  EXPECT_EQ(p.book_title, "Salt & Pepper");
  EXPECT_EQ(p.author_first_name + "|" + p.author_middle_name + "|" + p.author_last_name, "John|Q|Public");
  EXPECT_EQ(p.category + "|" + p.book_file_name + "|" + p.DestDir() + "|" + p.LogDir(), "Fiction|STORY|/shelf/|/logs");
  EXPECT_EQ(p.book_id.rfind("ebook:guid-", 0), 0u) << p.book_id;
  EXPECT_EQ(p.book_id.size(), 11u + 32u);
  EXPECT_EQ(int{p.logging} * 100 + int{p.encrypt} * 10 + int{p.compress}, 101);
  EXPECT_EQ(std::to_string(p.zoom) + " " + std::to_string(p.css) + " " + std::to_string(p.rle_trigger), "2 2 25");
  ASSERT_EQ(p.NumSources(), 2u);
  EXPECT_EQ(p.Source(0)->file_name + " " + p.Source(0)->item_id + " " + p.Source(0)->media_type,
            "story.htm i18839 text/x-oeb1-document");
  EXPECT_EQ(p.Source(1)->file_name + " " + p.Source(1)->item_id, "ch2.htm i18841");
  ASSERT_EQ(p.Resources().size(), 1u);
  EXPECT_EQ(p.Resources()[0].href + " " + p.Resources()[0].id, "a.gif i18840");
  // The book's own identifier, which the engine does not manage, is kept.
  EXPECT_NE(p.LoadedPackage().find("<dc:Identifier>ebook:guid-"), std::string::npos) << p.LoadedPackage();
}

TEST(BookParams, SaveAndLoadKeepEveryField) {
  TempDir dir;
  CBookParams p;
  p.project_file_path = dir / "new.opf";
  p.book_file_name = "NEWBOOK", p.book_id = "ebook:guid-0123", p.book_title = "Fish & <Chips>";
  p.category = "Food", p.sub_category = "Fried", p.language = "en-GB";
  p.author_first_name = "Mary", p.author_middle_name = "de la", p.author_last_name = "Rue";
  p.encrypt = 1, p.compress = 0, p.implode = 0, p.underline_links = 0, p.logging = 0;
  p.delete_fallbacks = 1, p.is_periodical = 1, p.zoom = 1, p.css = 0, p.build_target = 0;
  p.widow_lines = 3, p.orphan_lines = -4, p.rle_trigger = 40;
  p.content_feed_id = "feed \"7\"", p.current_issue = "12";
  p.DestDir("/out dir/");
  p.LogDir("logs\tx");
  p.InsertSource(0, Entry("one.htm", kStatusExcluded | 2));
  p.InsertSource(1, Entry("two.XHTML", kStatusDirty | kStatusGlossary));
  p.InsertSource(2, Entry("three.txt"));
  p.Resources().push_back({"", "look.css", ""});
  p.Resources().push_back({"pic", "pic.JPEG", "image/jpeg"});
  ASSERT_TRUE(p.Save());
  // Entries added by name are now manifest items.
  EXPECT_EQ(p.Source(0)->item_id + p.Source(1)->item_id + p.Source(2)->item_id + p.Resources()[0].id, "i1i2i3i4");
  EXPECT_EQ(p.Source(1)->media_type, "text/x-oeb1-document");
  EXPECT_EQ(p.Source(2)->media_type, "");
  EXPECT_EQ(p.Resources()[0].media_type, "text/x-oeb1-css");
  EXPECT_TRUE(vellix::fixtures::XmlWellFormed(p.project_file_path));

  CBookParams q;
  ASSERT_TRUE(q.Load(p.project_file_path, false));
  p.SetProjectFormat(1);
  EXPECT_EQ(Describe(q), Describe(p));

  // A second round is byte for byte the same file.
  std::string first = ReadFile(p.project_file_path);
  ASSERT_TRUE(q.Save());
  EXPECT_EQ(ReadFile(p.project_file_path), first);
  // Not a glossary any more: the guide forgets it.
  q.Source(1)->status &= ~kStatusGlossary;
  ASSERT_TRUE(q.Save());
  EXPECT_EQ(ReadFile(p.project_file_path).find("glossary"), std::string::npos);
}

TEST(BookParams, SaveKeepsWhatItDoesNotManage) {
  TempDir dir;
  std::string opf = dir.Write(
      "p.opf",
      PackageText("<meta name=\"x-IKL-logging\" content=\"off\"/><meta name=\"x-own\" content=\"mine\"/>",
                  "<item id=\"a\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>", "<itemref idref=\"a\"/>",
                  "<guide><reference type=\"toc\" title=\"Contents\" href=\"a.htm#toc\"/></guide>\n"
                  "<!-- kept -->\n"));
  CBookParams p;
  ASSERT_TRUE(p.Load(opf, false));
  EXPECT_EQ(p.logging, 0);
  p.logging = 1;
  p.InsertSource(1, Entry("b.htm"));
  p.Resources().push_back({"a", "dup.png", ""});  // its id is taken
  ASSERT_TRUE(p.Save());
  std::string saved = ReadFile(opf);
  for (const char* kept : {"name=\"x-own\" content=\"mine\"", "<reference type=\"toc\"", "<!-- kept -->",
                           "<dc:Identifier id=\"uid\">book-1</dc:Identifier>"})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\n" << saved;
  EXPECT_NE(saved.find("name=\"x-IKL-logging\" content=\"on\""), std::string::npos);
  EXPECT_EQ(saved.find("x-IKL-logging", saved.find("x-IKL-logging") + 1), std::string::npos);  // updated, not added
  EXPECT_EQ(p.Source(1)->item_id + " " + p.Resources()[0].id, "i1 i2");
  CBookParams q;
  ASSERT_TRUE(q.Load(opf, false));
  EXPECT_EQ(Describe(q), Describe(p));
}

// 8-bit text is read as Windows-1252 and saved as UTF-8, saying so.
TEST(BookParams, EightBitPackagesAreSavedAsUtf8) {
  TempDir dir;
  std::string text = PackageText("", "", "");
  text.replace(text.find("A\n  Title"), 9, "Caf\xE9");
  text.replace(text.find("?>"), 0, " encoding=\"windows-1252\"");
  CBookParams p;
  ASSERT_TRUE(p.LoadFromText(text, "mem.opf", false));
  EXPECT_EQ(p.book_title, "Caf\u00e9");
  p.project_file_path = dir / "p.opf";
  ASSERT_TRUE(p.Save());
  EXPECT_EQ(ReadFile(p.project_file_path).substr(0, 38), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  CBookParams q;
  ASSERT_TRUE(q.Load(p.project_file_path, false));
  EXPECT_EQ(q.book_title, "Caf\u00e9");
}

TEST(BookParams, AuthorNames) {
  struct Case {
    std::string creator, metas, expected;
  } cases[] = {
      {"Public, John Quincy Q.", "", "John|Quincy Q.|Public"},
      {"John Quincy  Public", "", "John|Quincy|Public"},
      {"Cher", "", "||Cher"},
      {"Jean Paul", "", "Jean||Paul"},
      {"", "", "||"},
      // The exact parts win while they spell the creator, and not after it changed.
      {"Anna Maria Lopez Garcia",
       "<meta name=\"x-IKL-authorfirst\" content=\"Anna Maria\"/><meta name=\"x-IKL-authorlast\" content=\"Lopez "
       "Garcia\"/>",
       "Anna Maria||Lopez Garcia"},
      {"Someone Else", "<meta name=\"x-IKL-authorlast\" content=\"Lopez\"/>", "Someone||Else"},
  };
  for (const Case& c : cases) {
    std::string text = PackageText(c.metas, "", "");
    text.replace(text.find("Ann Bee Cole"), 12, c.creator);
    CBookParams p;
    ASSERT_TRUE(p.LoadFromText(text, "mem.opf", false)) << c.creator;
    EXPECT_EQ(p.author_first_name + "|" + p.author_middle_name + "|" + p.author_last_name, c.expected) << c.creator;
  }
  // Without an author's role the first creator is the author.
  std::string text = PackageText("", "", "");
  text.replace(text.find(" role=\"aut\""), 11, " role=\"edt\"");
  CBookParams p;
  ASSERT_TRUE(p.LoadFromText(text, "mem.opf", false));
  EXPECT_EQ(p.author_last_name, "Cole");
  EXPECT_EQ(p.book_title, "A Title");
}

TEST(BookParams, FailedLoadReportsAndChangesNothing) {
  TempDir dir;
  RecordingHelper helper;
  CBookParams p;
  p.SetUIHelper(&helper);
  p.project_file_path = "before.opf";
  p.book_title = "Kept";
  p.widow_lines = 9;
  p.InsertSource(0, Entry("kept.htm"));
  std::string before = Describe(p);

  std::string broken = dir.Write("broken.opf", "<?xml version=\"1.0\"?>\n<package>\n  <metadata><x></metadata>\n");
  EXPECT_FALSE(p.Load(broken, true));
  ASSERT_EQ(helper.shown.size(), 1u);
  EXPECT_EQ(helper.shown[0].Where(), broken + ":3 now");
  EXPECT_NE(helper.shown[0].message.find("line 3, column 18"), std::string::npos) << helper.shown[0].message;

  EXPECT_FALSE(p.Load(dir / "missing.opf", false));
  EXPECT_FALSE(p.LoadFromText("<html><body/></html>", "page.htm", false));
  EXPECT_FALSE(p.LoadFromText("<package>&#xD800;</package>", "mem.opf", false));
  ASSERT_EQ(helper.shown.size(), 4u);
  EXPECT_EQ(helper.shown[1].Where(), dir / "missing.opf:-1 later");
  EXPECT_EQ(helper.shown[2].Where(), "page.htm:1 later");
  EXPECT_NE(helper.shown[2].message.find("<html>"), std::string::npos) << helper.shown[2].message;
  EXPECT_EQ(Describe(p), before);
  EXPECT_EQ(p.project_file_path, "before.opf");

  p.SetUIHelper(nullptr);  // nothing to report to
  EXPECT_FALSE(p.Load(broken, true));
  EXPECT_EQ(Describe(p), before);

  // A file that cannot be written is reported and left as it was.
  p.SetUIHelper(&helper);
  p.project_file_path = dir / "no/such/folder/p.opf";
  EXPECT_FALSE(p.Save());
  EXPECT_EQ(helper.shown.back().detail, p.project_file_path);
}

TEST(BookParams, ProblemsInAPackageAreWarnings) {
  RecordingHelper helper;
  CBookParams p;
  p.SetUIHelper(&helper);
  p.widow_lines = 7;  // a loaded project starts from the defaults of a new book
  std::string text = PackageText(
      "<meta name=\"x-IKL-widow\" content=\"many\"/>\n<meta name=\"x-IKL-zoomstate\" content=\"Large\"/>"
      "<meta name=\"x-IKL-csssupport\" content=\"99999\"/>",
      "<item id=\"a\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
      "<item id=\"g\" href=\"g.htm\" media-type=\"text/x-oeb1-document\"/>",
      "<itemref idref=\"a\" x-IKL-status=\"6\"/>\n<itemref idref=\"nothing\"/><itemref idref=\"a\"/>"
      "<itemref idref=\"g\" x-IKL-status=\"x\"/>",
      "<guide><reference type=\"Glossary\" href=\"g.htm#top\"/></guide>");
  ASSERT_TRUE(p.LoadFromText(text, "mem.opf", false));
  EXPECT_EQ(std::to_string(p.widow_lines) + " " + std::to_string(p.zoom) + " " + std::to_string(p.css), "1 1 2");
  ASSERT_EQ(p.NumSources(), 2u);
  EXPECT_EQ(p.Source(0)->status, 6u);
  EXPECT_FALSE(p.Source(0)->IsIncluded());
  EXPECT_EQ(p.Source(1)->status, kStatusGlossary);
  ASSERT_EQ(helper.shown.size(), 5u);
  for (const Shown& s : helper.shown)
    EXPECT_TRUE(s.Where().starts_with("mem.opf:") && s.Where().ends_with(" later")) << s.Where();
  EXPECT_NE(helper.shown[0].message.find("x-IKL-widow"), std::string::npos);
  EXPECT_EQ(helper.shown[0].Where(), "mem.opf:9 later");
  EXPECT_NE(helper.shown[2].message.find("\"nothing\""), std::string::npos);
  EXPECT_EQ(helper.shown[2].Where(), "mem.opf:14 later");
}

// Numbers a build could not use are refused when the project loads, with
// a message naming the setting and its range, rather than when the book is
// written at the end of the work.
TEST(BookParams, SettingsOutsideTheirRangeAreRefusedAtLoad) {
  RecordingHelper helper;
  CBookParams p;
  p.SetUIHelper(&helper);
  const std::string text = PackageText(
      "<meta name=\"x-IKL-RLEtrigger\" content=\"1000\"/>\n<meta name=\"x-IKL-orphan\" content=\"40000\"/>\n"
      "<meta name=\"x-IKL-zoomstate\" content=\"7\"/>\n<meta name=\"x-IKL-widow\" content=\"100\"/>",
      "", "");
  ASSERT_TRUE(p.LoadFromText(text, "mem.opf", false));
  EXPECT_EQ(std::to_string(p.rle_trigger) + " " + std::to_string(p.orphan_lines) + " " + std::to_string(p.zoom) + " " +
                std::to_string(p.widow_lines),
            "25 1 2 100");
  ASSERT_EQ(helper.shown.size(), 3u);
  EXPECT_EQ(helper.shown[0].message,
            "The setting \"x-IKL-RLEtrigger\" has a value that cannot be used (\"1000\"): it must be 0 to 100; the "
            "default is kept.");
  EXPECT_EQ(helper.shown[0].detail, "mem.opf");
  EXPECT_NE(helper.shown[1].message.find("\"x-IKL-orphan\""), std::string::npos);
  EXPECT_NE(helper.shown[2].message.find("\"x-IKL-zoomstate\""), std::string::npos);
}

}  // namespace
}  // namespace ikutil
