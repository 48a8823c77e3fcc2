// Package documents against golden files in tests/data: the default
// package, filling it from a document, completing it for a build, and
// reading a package as a book.
#include "vellix/package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "install.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/random.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

// The package file with every fresh identifier replaced by "@GUID".
std::string Stable(const std::string& opf) {
  return std::regex_replace(ReadFile(opf), std::regex("ebook:guid-[0-9A-F]{32}"), "@GUID");
}

// Images and links: each file once, missing ones with no media type, only
// documents in the spine; the page itself, fragments, the web and anchors
// without href add nothing new.
TEST(Package, CreatePackageFromADocument) {
  TempDir dir;
  dir.Write("ch2.htm", "<html><head/><body/></html>");
  dir.Write("a.gif", "GIF");
  dir.Write("story.htm",
            "<html><head><title>t</title></head><body>"
            "<img src=\"a.gif\"/><p><img src=\"missing/Picture.GIF\"/></p><img src=\"a.gif\"/>"
            "<a href=\"ch2.htm\">two</a><a href=\"ch2.htm\">again</a><a href=\"story.htm\">self</a>"
            "<a href=\"a.gif\">image</a><a href=\"ch2.htm#part\">frag</a>"
            "<a href=\"http://example.test/x.htm\">web</a><a name=\"anchor\">no href</a>"
            "</body></html>");
  Book book;
  book.SetTitle("Salt & Pepper");
  book.SetAuthor("Jo");
  book.SetCategory("Fic");
  std::string opf = book.CreatePackageFromDocument(dir / "story.htm");
  EXPECT_EQ(opf, dir / "story.opf");
  ExpectGolden("story.opf", Stable(opf));
  EXPECT_TRUE(XmlWellFormed(opf));

  // Reading the package as a book completes it on disk first.
  Book read;
  read.Load(opf);
  EXPECT_EQ(read.Path() + "|" + read.Extension(), opf + "|opf");
  EXPECT_EQ(read.Title() + "|" + read.Author() + "|" + read.Category(), "Salt & Pepper|Jo|");  // plain text
  ExpectGolden("story_read.opf", Stable(opf));
  EXPECT_EQ(book.CreatePackageFromDocument(dir / "missing.htm"), "");
}

TEST(Package, DefaultAndCompletedPackages) {
  TempDir dir;
  std::string opf = dir.Write("p.opf", std::string(10000, 'x'));
  Book().CreateDefaultOpf(opf);  // replaces any file
  ExpectGolden("default.opf", ReadFile(opf));
  EXPECT_TRUE(XmlWellFormed(opf));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"p.opf"});  // no temporary left
  // The template recorded for the caller lies beside the loaded library.
  EXPECT_TRUE(fs::exists(LibraryFolder() + "/dtds/default.opf")) << LibraryFolder();

  Package p;
  p.CompletePackage(opf, "ABCDEFGH", "Fiction");
  ExpectGolden("completed.opf", Stable(opf));

  // Fixed settings overwrite; empty values never erase; no third identifier.
  std::string text = ReadFile(opf);
  dir.Write("p.opf", std::regex_replace(text, std::regex("(x-IKL-logging\" content=\")on"), "$1off"));
  p.CompletePackage(opf, "", "");
  EXPECT_EQ(ReadFile(opf), text);

  p.SetDirectory(opf, "/shelf", "/src");
  ExpectGolden("completed_dirs.opf", Stable(opf));
  // A package that does not parse is left alone; SetDirectory needs both settings.
  p.CompletePackage(dir.Write("bad.opf", "<package>"), "x", "y");
  EXPECT_EQ(ReadFile(dir / "bad.opf"), "<package>");
  EXPECT_EQ(ErrorNumberOf([&] { p.SetDirectory(dir / "bad.opf", "a", "b"); }), 91);
  Book().CreateDefaultOpf(dir / "bare.opf");
  EXPECT_EQ(ErrorNumberOf([&] { p.SetDirectory(dir / "bare.opf", "a", "b"); }), 91);
  EXPECT_EQ(ErrorNumberOf([&] { p.CompletePackage(dir.Write("nometa.opf", "<package/>"), "", ""); }), 91);
}

TEST(Package, FailuresOfCreatePackage) {
  TempDir dir;
  std::string doc = dir.Write("doc.htm", "<html><head/><body><img/></body></html>");
  Package p;
  p.SetPackagePath(dir.Write("p.opf", "<package><metadata/><manifest/></package>"));
  EXPECT_EQ(ErrorNumberOf([&] { p.CreatePackage(doc, "doc", "", "", ""); }), 91);  // no spine
  Book().CreateDefaultOpf(dir / "p.opf");
  // An image without a source carries nothing, and thousands of links to
  // anchors or to one file take no id each: both make a package.
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "<a href=\"#n\">n</a><a href=\"doc.htm\">d</a><img src=\"x.png\"/>";
  dir.Write("doc.htm", "<html><head/><body><img/>" + many + "</body></html>");
  p.initialID(18838);
  p.CreatePackage(doc, "doc", "", "", "");
  const std::string opf = ReadFile(dir / "p.opf");
  size_t items = 0;
  for (size_t at = opf.find("<item "); at != std::string::npos; at = opf.find("<item ", at + 1)) ++items;
  EXPECT_EQ(items, 2u) << opf;  // the document and x.png
  Book().CreateDefaultOpf(dir / "p.opf");
  p.initialID(32766);
  dir.Write("doc.htm", "<html><head/><body><img src=\"x.png\"/></body></html>");
  EXPECT_EQ(ErrorNumberOf([&] { p.CreatePackage(doc, "doc", "", "", ""); }), 6);
  EXPECT_NE(formats::NewGuidString(), formats::NewGuidString());  // their form is in every golden package
}

}  // namespace
}  // namespace vellix
