// Package documents: the default package, filling it from a document,
// completing it for a build, and reading a package as a book.
#include "vellix/package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "book_maker.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/random.h"
#include "install.h"
#include "vellix/formats/xml.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

// "id href media-type" of every manifest item, and the spine's idrefs.
struct Shape {
  std::vector<std::string> items;
  std::vector<std::string> spine;
};

Shape ShapeOf(const std::string& opf) {
  XmlDocument doc;
  LoadXmlFile(opf, doc);
  EXPECT_TRUE(doc.parsed);
  Shape s;
  for (pugi::xml_node item : doc.Root().child("manifest").children("item"))
    s.items.push_back(std::string(item.attribute("id").value()) + " " + item.attribute("href").value() +
                      " " + item.attribute("media-type").value());
  for (pugi::xml_node ref : doc.Root().child("spine").children("itemref"))
    s.spine.push_back(ref.attribute("idref").value());
  return s;
}

std::string Meta(const std::string& opf, const std::string& name) {
  XmlDocument doc;
  LoadXmlFile(opf, doc);
  for (pugi::xml_node m : doc.Root().child("metadata").child("x-metadata").children("meta"))
    if (name == m.attribute("name").value()) return m.attribute("content").value();
  return "<none>";
}

std::vector<std::string> Identifiers(const std::string& opf) {
  XmlDocument doc;
  LoadXmlFile(opf, doc);
  std::vector<std::string> out;
  for (pugi::xml_node n : doc.Root().child("metadata").child("dc-metadata").children("dc:Identifier"))
    out.push_back(TextOf(n));
  return out;
}

const std::regex kGuid("ebook:guid-[0-9A-F]{32}");

TEST(Package, DefaultPackageReplacesAnyFile) {
  TempDir dir;
  WriteFile(dir / "p.opf", std::string(10000, 'x'));
  Book().CreateDefaultOpf(dir / "p.opf");
  std::string text = ReadFile(dir / "p.opf");
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>\n<!DOCTYPE package PUBLIC \"+//ISBN 0-9673008-1-9//DTD "
                       "OEB 1.0 Package//EN\"", 0), 0u) << text;
  XmlDocument doc;
  LoadXmlFile(dir / "p.opf", doc);
  ASSERT_TRUE(doc.parsed);
  pugi::xml_node package = doc.Root();
  EXPECT_STREQ(package.name(), "package");
  EXPECT_STREQ(package.attribute("unique-identifier").value(), "Package-ID");
  pugi::xml_node dc = package.child("metadata").child("dc-metadata");
  EXPECT_STREQ(dc.attribute("xmlns:dc").value(), kDublinCoreNamespace);
  EXPECT_STREQ(dc.first_child().name(), "dc:Identifier");
  EXPECT_STREQ(dc.child("dc:Creator").attribute("role").value(), "aut");
  EXPECT_TRUE(package.child("metadata").child("x-metadata"));
  EXPECT_TRUE(package.child("manifest") && package.child("spine"));
  EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename(), "p.opf");  // no temporary left
}

TEST(Package, CreatePackageFromADocument) {
  TempDir dir;
  WriteFile(dir / "ch2.htm", "<html><head/><body/></html>");
  WriteFile(dir / "a.gif", "GIF");
  WriteFile(dir / "story.htm",
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
  Shape shape = ShapeOf(opf);
  EXPECT_EQ(shape.items, (std::vector<std::string>{"i18839 story.htm text/x-oeb1-document",
                                                   "i18840 a.gif image/gif",
                                                   "i18841 missing/Picture.GIF ",
                                                   "i18843 ch2.htm text/x-oeb1-document"}));
  EXPECT_EQ(shape.spine, (std::vector<std::string>{"i18839", "i18843"}));

  std::vector<std::string> ids = Identifiers(opf);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_TRUE(std::regex_match(ids[0], kGuid)) << ids[0];
  EXPECT_EQ(Meta(opf, "x-IKL-category"), "<none>");  // only existing settings are filled

  // Reading the package as a book completes it on disk first.
  Book read;
  read.Load(opf);
  EXPECT_EQ(read.Path(), opf);
  EXPECT_EQ(read.Extension(), "opf");
  EXPECT_EQ(read.Title(), "Salt & Pepper");  // packages hold plain text
  EXPECT_EQ(read.Author(), "Jo");
  EXPECT_EQ(read.Category(), "");
  EXPECT_EQ(Meta(opf, "x-IKL-logging"), "on");
  EXPECT_EQ(book.CreatePackageFromDocument(dir / "missing.htm"), "");

  // The template recorded for the caller lies beside the loaded library.
  EXPECT_TRUE(fs::exists(LibraryFolder() + "/dtds/default.opf")) << LibraryFolder();
}

TEST(Package, CompletePackageSettings) {
  TempDir dir;
  std::string opf = dir / "p.opf";
  Book().CreateDefaultOpf(opf);
  Package p;
  p.CompletePackage(opf, "ABCDEFGH", "Fiction");
  std::vector<std::string> ids = Identifiers(opf);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], "");
  EXPECT_TRUE(std::regex_match(ids[1], kGuid)) << ids[1];
  EXPECT_EQ(Meta(opf, "x-IKL-nameondisk"), "ABCDEFGH");
  EXPECT_EQ(Meta(opf, "x-IKL-RLEtrigger"), "25");
  EXPECT_EQ(Meta(opf, "x-IKL-destdir"), "");

  // Fixed settings overwrite; empty values never erase; no third identifier.
  std::string text = ReadFile(opf);
  text.replace(text.find("name=\"x-IKL-logging\" content=\"on\""), 34,
               "name=\"x-IKL-logging\" content=\"off\"");
  WriteFile(opf, text);
  p.CompletePackage(opf, "", "");
  EXPECT_EQ(Meta(opf, "x-IKL-logging"), "on");
  EXPECT_EQ(Meta(opf, "x-IKL-category"), "Fiction");
  EXPECT_EQ(Meta(opf, "x-IKL-nameondisk"), "ABCDEFGH");
  EXPECT_EQ(Identifiers(opf), ids);

  p.SetDirectory(opf, "/shelf", "/src");
  EXPECT_EQ(Meta(opf, "x-IKL-destdir"), "/shelf");
  EXPECT_EQ(Meta(opf, "x-IKL-logdir"), "/src");

  // A package that does not parse is left alone; SetDirectory needs both settings.
  WriteFile(dir / "bad.opf", "<package>");
  p.CompletePackage(dir / "bad.opf", "x", "y");
  EXPECT_EQ(ReadFile(dir / "bad.opf"), "<package>");
  EXPECT_EQ(ErrorNumberOf([&] { p.SetDirectory(dir / "bad.opf", "a", "b"); }), 91);
  Book().CreateDefaultOpf(dir / "bare.opf");
  EXPECT_EQ(ErrorNumberOf([&] { p.SetDirectory(dir / "bare.opf", "a", "b"); }), 91);
  WriteFile(dir / "nometa.opf", "<package/>");
  EXPECT_EQ(ErrorNumberOf([&] { p.CompletePackage(dir / "nometa.opf", "", ""); }), 91);
}

TEST(Package, FailuresOfCreatePackage) {
  TempDir dir;
  WriteFile(dir / "doc.htm", "<html><head/><body><img/></body></html>");
  WriteFile(dir / "p.opf", "<package><metadata/><manifest/></package>");
  Package p;
  p.SetPackagePath(dir / "p.opf");
  EXPECT_EQ(ErrorNumberOf([&] { p.CreatePackage(dir / "doc.htm", "doc", "", "", ""); }), 91);  // no spine
  Book().CreateDefaultOpf(dir / "p.opf");
  std::string before = ReadFile(dir / "p.opf");
  EXPECT_EQ(ErrorNumberOf([&] { p.CreatePackage(dir / "doc.htm", "doc", "", "", ""); }), 91);  // img without src
  EXPECT_EQ(ReadFile(dir / "p.opf"), before);

  p.initialID(32766);
  WriteFile(dir / "doc.htm", "<html><head/><body><img src=\"x.png\"/></body></html>");
  EXPECT_EQ(ErrorNumberOf([&] { p.CreatePackage(dir / "doc.htm", "doc", "", "", ""); }), 6);
}

TEST(Package, GuidText) {
  std::string a = NewGuidString(), b = NewGuidString();
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F]{32}")));
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace vellix
