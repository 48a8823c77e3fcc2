// The container writer: the layout byte for byte (golden files in
// tests/data), every body read back by the toolkit's reader, hrefs in their
// URI form, the state machine, and the manifests it must refuse rather than
// read outside the package's folder or write a container its reader cannot read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "ikpubx/oebff_reader.h"
#include "mime.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/oebff_writer.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

std::string Package(const std::string& manifest) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE package PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0 "
         "Package//EN\" \"http://openebook.org/dtds/oeb-1.0.1/oebpkg101.dtd\">\n"
         "<package unique-identifier=\"id\"><manifest>" +
         manifest + "</manifest></package>";
}

std::string ItemXml(const std::string& id, const std::string& href, const std::string& type = "t") {
  return "<item id=\"" + id + "\" href=\"" + href + "\" media-type=\"" + type + "\"/>";
}

class WriterTest : public ::testing::Test {
 protected:
  // Packs `manifest`; the toolkit's reader must find the package, then one
  // part per item whose body is byte for byte `bodies` (less a final CR LF,
  // which reads as part of the delimiter).
  std::string Build(const std::string& manifest, const std::vector<std::string>& bodies,
                    std::vector<std::string>* skipped = nullptr) {
    dir_.Write("book.opf", Package(manifest));
    std::vector<std::string> s = Book().BuildOEBFile("book", dir_.path());
    if (skipped) *skipped = s;
    if (const char* dump = std::getenv("VELLIX_OEB_DUMP")) {  // a copy for tests/oebff_mime_check.py
      static int n = 0;
      fs::copy(dir_.path(), std::string(dump) + "/c" + std::to_string(n++),
               fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    std::string container = ReadFile(dir_ / "book.oeb");
    ikpubx::OEBFFReader reader(dir_ / "book.oeb");
    EXPECT_FALSE(reader.Failed()) << reader.Diagnostic();
    std::vector<std::string> want = {Package(manifest)};
    want.insert(want.end(), bodies.begin(), bodies.end());
    EXPECT_EQ(reader.PartCount(), static_cast<int32_t>(want.size()));
    for (size_t i = 0; i < want.size() && i < size_t(reader.PartCount()); ++i) {
      const ikpubx::OEBFFNode& part = *reader.Part(int32_t(i));
      if (want[i].ends_with("\r\n")) want[i].resize(want[i].size() - 2);
      EXPECT_EQ(container.substr(size_t(part.BodyStart()), size_t(part.BodyEnd() - 1 - part.BodyStart())), want[i])
          << i;
    }
    return container;
  }
  TempDir dir_;
};

TEST_F(WriterTest, LayoutByteForByte) {
  ExpectGolden("writer_empty.oeb", Build("", {}));  // no files: the package part alone

  dir_.Write("a.htm", "<html/>\r\n");  // a body ending in CR LF is copied raw
  dir_.Write("b.txt", std::string("\0\x01\r\xff\r\n--ZEQTRVNPOLKHGDJXYIKL200X\n\r\r\n", 36));
  std::string manifest = ItemXml("i1", "a.htm", "text/x-oeb1-document") + "<!-- a comment adds no part -->" +
                         ItemXml("i2", "missing.png", "image/png") + ItemXml("i3", "b.txt", "text/plain");
  std::vector<std::string> bodies = {"<html/>\r\n", "", ReadFile(dir_ / "b.txt")};
  // Names a quoted header value cannot carry unchanged travel percent-encoded
  // (the file's name, then its href in the package).
  const std::pair<std::string, std::string> names[] = {{"caf\xC3\xA9.htm", "caf\xC3\xA9.htm"},
                                                       {"a b.htm", "a b.htm"},
                                                       {"q\"uote.htm", "q&quot;uote.htm"},
                                                       {"50%.htm", "50%.htm"},
                                                       {"cr\r\nlf.htm", "cr&#13;&#10;lf.htm"}};
  for (const auto& [file, href] : names) {
    bodies.push_back("body of " + file);
    dir_.Write(file, bodies.back());
    manifest += ItemXml("n" + std::to_string(bodies.size()), href, "text/x-oeb1-document");
  }
  ExpectGolden("writer_parts.oeb", Build(manifest, bodies));
}

TEST(HrefEncoding, EscapesOnlyWhatTheQuotedValueCannotHold) {
  const std::pair<std::string, std::string> cases[] = {
      {"sub/a-b_c.htm?x=1#f", "sub/a-b_c.htm?x=1#f"},  // nothing to do: the same bytes
      {"a b 'c'.htm", "a b 'c'.htm"},
      {"caf\xC3\xA9.htm", "caf%C3%A9.htm"},
      {"q\"uote\\.htm", "q%22uote%5C.htm"},
      {"cr\r\nlf\t\x7F.htm", "cr%0D%0Alf%09%7F.htm"},
      {"100%.htm", "100%25.htm"},
      {"%4g%4", "%254g%254"},
      {"a%20b%c3%A9.htm", "a%20b%c3%A9.htm"},  // escapes already there stay
      {"  ", "%20%20"},                        // the reader reads a value of spaces only as empty
      {"", ""}};
  for (const auto& [href, carried] : cases) {
    EXPECT_EQ(formats::OEBFFEncodeHref(href), carried) << href;
    EXPECT_EQ(formats::OEBFFDecodeHref(carried), formats::OEBFFDecodeHref(href)) << href;
  }
  EXPECT_EQ(formats::OEBFFDecodeHref("caf%C3%a9%2"), "caf\xC3\xA9%2");
}

// Manifests the build refuses: the error number, its description, and the
// older container left as it was, with no temporary file beside it.
TEST_F(WriterTest, RefusesWhatItCannotWriteAndKeepsTheOldContainer) {
  dir_.Write("book.oeb", std::string(100000, 'x'));
  std::string first = Build(ItemXml("ok", "a.htm"), {""});  // replaces the longer file whole
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"book.oeb", "book.opf"}));
  dir_.Write("a.htm", "A");
  dir_.Write("cut1.txt", std::string(70000, 'x') + formats::OEBFFBodyDelimiter() + "--");
  // A delimiter that straddles two of the pieces a file is copied in.
  dir_.Write("cut2.txt", std::string((1 << 20) - 5, 'x') + formats::OEBFFBodyDelimiter());
  std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"<item id=\"x\" href=\"a.htm\"/>", 94, ""},  // no media type
      {ItemXml("c", "cut1.txt"), formats::kInvalidArgument, ""},
      {ItemXml("c", "cut2.txt"), formats::kInvalidArgument, ""}};
  for (std::string id : {"i 2", "a:b", "n#1", "(x)", "", "\xE2\x82\xAC"})
    cases.emplace_back(ItemXml(id, "a.htm"), formats::kInvalidArgument,
                       "manifest item 2 (id \"" + id + "\") has an id a container cannot carry");
  for (std::string type : {"application/xhtml+xml", "text/html; charset=utf-8", "application/X-GZIP"})
    cases.emplace_back(ItemXml("m", "a.htm", type), formats::kInvalidArgument,
                       "manifest item 2 (id \"m\") has the media type");
  for (const auto& [item, number, words] : cases) {
    dir_.Write("book.opf", Package(ItemXml("ok", "a.htm") + item));
    std::vector<std::string> names = Names(dir_.path());
    formats::AutomationError e = ErrorOf([&] { Book().BuildOEBFile("book", dir_.path()); });
    EXPECT_EQ(e.number(), number) << item;
    EXPECT_NE(e.detail().find(words), std::string::npos) << e.detail();
    EXPECT_EQ(ReadFile(dir_ / "book.oeb"), first);
    EXPECT_EQ(Names(dir_.path()), names);
  }
  // Letters of the code page are token bytes: such an id packs and reads back.
  Build(ItemXml("ok", "a.htm") + ItemXml("caf\xC3\xA9", "a.htm"), {"A", "A"});

  // A package that does not parse keeps only its own part.
  dir_.Write("book.opf", "<package>");
  Book().BuildOEBFile("book", dir_.path());
  EXPECT_EQ(ReadFile(dir_ / "book.oeb"), ContainerHeader() + PackageHeader() + "<package>" + Footer());
}

TEST_F(WriterTest, NeverReadsOutsideThePackageFolder) {
  TempDir outside;
  outside.Write("secret.txt", "SECRET");
  fs::create_directory(dir_ / "sub");
  dir_.Write("sub/ok.txt", "fine");
  fs::create_symlink(outside / "secret.txt", dir_ / "link.txt");
  std::vector<std::string> hrefs = {"../" + fs::path(outside.path()).filename().string() + "/secret.txt",
                                    outside / "secret.txt", "link.txt", "sub/../sub/ok.txt", "sub/ok.txt"};
  std::string manifest;
  for (size_t i = 0; i < hrefs.size(); ++i) manifest += ItemXml("i" + std::to_string(i), hrefs[i]);
  std::vector<std::string> skipped;
  EXPECT_EQ(Build(manifest, {"", "", "", "", "fine"}, &skipped).find("SECRET"), std::string::npos);
  hrefs.pop_back();
  EXPECT_EQ(skipped, hrefs);
}

TEST(MimeWriter, OperationsOutOfOrderWriteNothing) {
  TempDir dir;
  dir.Write("p.opf", "PKG");
  MIME w;
  w.PutMimePackageHeader();  // state 0: ignored
  w.SetPath(dir / "c.oeb");
  w.PutMimeFooter();                   // ignored
  w.PutMimeFileHeader("t", "i", "h");  // ignored
  w.PutMimeHeader();
  w.SetPath(dir / "other.oeb");  // only in state 0
  w.PutMimeHeader();             // ignored
  w.PutMimePackageHeader();
  w.AttachFile(dir / "p.opf");
  w.AttachFile(dir / "missing");  // adds nothing
  w.PutMimeFooter();
  w.PutMimeFileHeader("t", "i", "h");  // after the footer: ignored
  EXPECT_EQ(w.state(), 4);
  EXPECT_FALSE(fs::exists(dir / "c.oeb"));  // nothing in place before Complete
  w.Complete();
  EXPECT_EQ(ReadFile(dir / "c.oeb"), ContainerHeader() + PackageHeader() + "PKG" + Footer());
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"c.oeb", "p.opf"}));
}

}  // namespace
}  // namespace vellix
