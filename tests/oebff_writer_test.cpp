// The container writer: the layout byte for byte, the state machine, and
// manifests that must not reach outside the package's folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "book_maker.h"
#include "ikpubx/oebff_reader.h"
#include "mime.h"
#include "vellix/book.h"
#include "vellix/error.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

const std::string kDelimiter = "--ZEQTRVNPOLKHGDJXYIKL2000";
const std::string kHeader =
    "MIME-Version: 1.0\r\nContent-Type: multipart/related;\r\n\ttype=\"application/x-oeb1\";\r\n"
    "\tstart=\"packageIKL2000\";\r\n\tboundary=\"ZEQTRVNPOLKHGDJXYIKL2000\"\r\n"
    "\r\n" + kDelimiter + "\r\nContent-Type: text/xml\r\nContent-ID: packageIKL2000\r\n\r\n";
const std::string kFooter = "\r\n" + kDelimiter + "--\r\n";

std::string Part(const std::string& type, const std::string& id, const std::string& href,
                 const std::string& body) {
  return "\r\n" + kDelimiter + "\r\nContent-Type: " + type + "\r\nContent-OEB-ID: " + id +
         "\r\nContent-Disposition: href=\"" + href + "\"\r\nContent-Transfer-Encoding: binary\r\n\r\n" +
         body;
}

std::string Package(const std::string& manifest) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE package PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0 "
         "Package//EN\" \"http://openebook.org/dtds/oeb-1.0.1/oebpkg101.dtd\">\n"
         "<package unique-identifier=\"id\"><manifest>" + manifest + "</manifest></package>";
}

// Keeps a copy of the package folder with its container for the check by
// an independent MIME reader (tests/oebff_mime_check.py).
void KeepForMimeCheck(const std::string& folder) {
  if (const char* dump = std::getenv("VELLIX_OEB_DUMP")) {
    static int n = 0;
    fs::copy(folder, std::string(dump) + "/c" + std::to_string(n++),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
}

// The toolkit reads a written container back: the package part first,
// then one part per manifest element, bodies exactly the files' bytes
// (less a final CR LF, which reads as part of the delimiter).
void ExpectReadBack(const std::string& container, size_t items) {
  ikpubx::OEBFFReader reader(container);
  ASSERT_FALSE(reader.Failed()) << reader.Diagnostic();
  ASSERT_EQ(reader.PartCount(), static_cast<int32_t>(items + 1));
  const ikpubx::OEBFFNode& package = *reader.Part(0);
  EXPECT_EQ(package.Child(0)->Name(), "Content-Type");
  EXPECT_EQ(package.Child(0)->Value(), "text/xml");
}

class WriterTest : public ::testing::Test {
 protected:
  std::string Build(const std::string& manifest, std::vector<std::string>* skipped = nullptr) {
    WriteFile(dir_ / "book.opf", Package(manifest));
    std::vector<std::string> s = Book().BuildOEBFile("book", dir_.path());
    if (skipped) *skipped = s;
    KeepForMimeCheck(dir_.path());
    size_t items = 0;
    for (size_t at = 0; (at = manifest.find("<item", at)) != std::string::npos; ++at) ++items;
    ExpectReadBack(dir_ / "book.oeb", items);
    return ReadFile(dir_ / "book.oeb");
  }
  TempDir dir_;
};

TEST_F(WriterTest, LayoutByteForByte) {
  // No files: the package part alone.
  EXPECT_EQ(Build(""), kHeader + Package("") + kFooter);

  WriteFile(dir_ / "a.htm", "<html/>\r\n");  // a body ending in CR LF is copied raw
  WriteFile(dir_ / "caf\xC3\xA9.gif", std::string("GIF89a\x00\x01", 8));
  std::string manifest =
      "<item id=\"i1\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
      "<!-- a comment adds no part -->"
      "<item id=\"i2\" href=\"missing.png\" media-type=\"image/png\"/>"
      "<item id=\"i3\" href=\"caf\xC3\xA9.gif\" media-type=\"image/gif\"/>";
  // The href with bytes above 0x7F is written percent-encoded (its URI form).
  EXPECT_EQ(Build(manifest), kHeader + Package(manifest) +
                                 Part("text/x-oeb1-document", "i1", "a.htm", "<html/>\r\n") +
                                 Part("image/png", "i2", "missing.png", "") +
                                 Part("image/gif", "i3", "caf%C3%A9.gif", std::string("GIF89a\x00\x01", 8)) + kFooter);
}

TEST_F(WriterTest, ReplacesAnOldContainerWhole) {
  WriteFile(dir_ / "book.oeb", std::string(100000, 'x'));
  EXPECT_EQ(Build(""), kHeader + Package("") + kFooter);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);

  // A manifest item without a media type fails the build; the old container stays.
  try {
    Build("<item id=\"x\" href=\"a.htm\"/>");
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 94);
  }
  EXPECT_EQ(ReadFile(dir_ / "book.oeb"), kHeader + Package("") + kFooter);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);

  // A package that does not parse keeps only its own part.
  WriteFile(dir_ / "book.opf", "<package>");
  Book().BuildOEBFile("book", dir_.path());
  EXPECT_EQ(ReadFile(dir_ / "book.oeb"), kHeader + "<package>" + kFooter);
}

TEST_F(WriterTest, NeverReadsOutsideThePackageFolder) {
  TempDir outside;
  WriteFile(outside / "secret.txt", "SECRET");
  fs::create_directory(dir_ / "sub");
  WriteFile(dir_ / "sub/ok.txt", "fine");
  fs::create_symlink(outside / "secret.txt", dir_ / "link.txt");
  std::string relative_out = "../" + fs::path(outside.path()).filename().string() + "/secret.txt";
  std::string manifest = "<item id=\"a\" href=\"" + relative_out + "\" media-type=\"text/plain\"/>"
                         "<item id=\"b\" href=\"" + (outside / "secret.txt") + "\" media-type=\"t\"/>"
                         "<item id=\"c\" href=\"link.txt\" media-type=\"t\"/>"
                         "<item id=\"d\" href=\"sub/../sub/ok.txt\" media-type=\"t\"/>"
                         "<item id=\"e\" href=\"sub/ok.txt\" media-type=\"t\"/>";
  std::vector<std::string> skipped;
  std::string got = Build(manifest, &skipped);
  EXPECT_EQ(got.find("SECRET"), std::string::npos);
  EXPECT_EQ(skipped, (std::vector<std::string>{relative_out, outside / "secret.txt", "link.txt",
                                               "sub/../sub/ok.txt"}));
  EXPECT_NE(got.find(Part("t", "e", "sub/ok.txt", "fine")), std::string::npos);
}

TEST(MimeWriter, OperationsOutOfOrderWriteNothing) {
  TempDir dir;
  WriteFile(dir / "p.opf", "PKG");
  MIME w;
  w.PutMimePackageHeader();  // state 0: ignored
  w.SetPath(dir / "c.oeb");
  w.PutMimeFooter();         // ignored
  w.PutMimeFileHeader("t", "i", "h");  // ignored
  w.PutMimeHeader();
  w.SetPath(dir / "other.oeb");  // only in state 0
  w.PutMimeHeader();             // ignored
  w.PutMimePackageHeader();
  w.AttachFile(dir / "p.opf");
  w.AttachFile(dir / "missing");
  w.PutMimeFooter();
  w.PutMimeFileHeader("t", "i", "h");  // after the footer: ignored
  EXPECT_EQ(w.state(), 4);
  EXPECT_FALSE(fs::exists(dir / "c.oeb"));  // nothing in place before Complete
  w.Complete();
  EXPECT_EQ(w.Path(), dir / "c.oeb");
  EXPECT_EQ(ReadFile(dir / "c.oeb"), kHeader + "PKG" + kFooter);
  EXPECT_FALSE(fs::exists(dir / "other.oeb"));

  // A writer given up before Complete leaves nothing behind.
  {
    MIME abandoned;
    abandoned.SetPath(dir / "x.oeb");
    abandoned.PutMimeHeader();
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace vellix
