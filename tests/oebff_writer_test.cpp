// The container writer: the layout byte for byte (golden files in
// tests/data), every body read back by the toolkit's reader, the state
// machine, and manifests that must not reach outside the package's folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ikpubx/oebff_reader.h"
#include "mime.h"
#include "test_util.h"
#include "vellix/book.h"

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

// Keeps a copy of the package folder with its container for the check by
// an independent MIME reader (tests/oebff_mime_check.py).
void KeepForMimeCheck(const std::string& folder) {
  if (const char* dump = std::getenv("VELLIX_OEB_DUMP")) {
    static int n = 0;
    fs::copy(folder, std::string(dump) + "/c" + std::to_string(n++),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
}

class WriterTest : public ::testing::Test {
 protected:
  // Packs `manifest`; the toolkit's reader must find the package, then one
  // part per item whose body is byte for byte `bodies` (less a final CR LF,
  // which reads as part of the delimiter) -- or refuse with `unreadable`.
  std::string Build(const std::string& manifest, const std::vector<std::string>& bodies,
                    std::vector<std::string>* skipped = nullptr, int32_t unreadable = 0) {
    dir_.Write("book.opf", Package(manifest));
    std::vector<std::string> s = Book().BuildOEBFile("book", dir_.path());
    if (skipped) *skipped = s;
    KeepForMimeCheck(dir_.path());
    std::string container = ReadFile(dir_ / "book.oeb");
    ikpubx::OEBFFReader reader(dir_ / "book.oeb");
    if (unreadable) {
      EXPECT_EQ(reader.ErrorCode(), unreadable);
      return container;
    }
    EXPECT_FALSE(reader.Failed()) << reader.Diagnostic();
    std::vector<std::string> want = {Package(manifest)};
    want.insert(want.end(), bodies.begin(), bodies.end());
    EXPECT_EQ(reader.PartCount(), static_cast<int32_t>(want.size()));
    for (int32_t i = 0; i < reader.PartCount() && i < static_cast<int32_t>(want.size()); ++i) {
      std::string body = want[static_cast<size_t>(i)];
      if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
      const ikpubx::OEBFFNode& part = *reader.Part(i);
      EXPECT_EQ(container.substr(static_cast<size_t>(part.BodyStart()),
                                 static_cast<size_t>(part.BodyEnd() - 1 - part.BodyStart())),
                body)
          << "part " << i;
    }
    return container;
  }
  TempDir dir_;
};

TEST_F(WriterTest, LayoutByteForByte) {
  ExpectGolden("writer_empty.oeb", Build("", {}));  // no files: the package part alone

  dir_.Write("a.htm", "<html/>\r\n");  // a body ending in CR LF is copied raw
  dir_.Write("b.txt", std::string("\0\x01\r\xff\r\n--ZEQTRVNPOLKHGDJXYIKL200X\n\r\r\n", 36));
  ExpectGolden("writer_parts.oeb", Build("<item id=\"i1\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
                                         "<!-- a comment adds no part -->"
                                         "<item id=\"i2\" href=\"missing.png\" media-type=\"image/png\"/>"
                                         "<item id=\"i3\" href=\"b.txt\" media-type=\"text/plain\"/>",
                                         {"<html/>\r\n", "", ReadFile(dir_ / "b.txt")}));

  // An href with bytes above 0x7E is written in its URI form, which the
  // reader accepts.
  dir_.Write("caf\xC3\xA9.gif", "GIF");
  std::string got = Build("<item id=\"g\" href=\"caf\xC3\xA9.gif\" media-type=\"image/gif\"/>", {"GIF"});
  EXPECT_NE(got.find("href=\"caf%C3%A9.gif\"\r\nContent-Transfer-Encoding: binary\r\n\r\nGIF\r\n"), std::string::npos);
}

TEST_F(WriterTest, ReplacesAnOldContainerWhole) {
  dir_.Write("book.oeb", std::string(100000, 'x'));
  std::string empty = Build("", {});
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"book.oeb", "book.opf"}));

  // A manifest item without a media type fails the build; the old container stays.
  EXPECT_EQ(ErrorNumberOf([&] { Build("<item id=\"x\" href=\"a.htm\"/>", {}); }), 94);
  EXPECT_EQ(ReadFile(dir_ / "book.oeb"), empty);
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"book.oeb", "book.opf"}));

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
  std::string relative_out = "../" + fs::path(outside.path()).filename().string() + "/secret.txt";
  std::string manifest = "<item id=\"a\" href=\"" + relative_out +
                         "\" media-type=\"text/plain\"/>"
                         "<item id=\"b\" href=\"" +
                         (outside / "secret.txt") +
                         "\" media-type=\"t\"/>"
                         "<item id=\"c\" href=\"link.txt\" media-type=\"t\"/>"
                         "<item id=\"d\" href=\"sub/../sub/ok.txt\" media-type=\"t\"/>"
                         "<item id=\"e\" href=\"sub/ok.txt\" media-type=\"t\"/>";
  std::vector<std::string> skipped;
  std::string got = Build(manifest, {"", "", "", "", "fine"}, &skipped);
  EXPECT_EQ(got.find("SECRET"), std::string::npos);
  EXPECT_EQ(skipped, (std::vector<std::string>{relative_out, outside / "secret.txt", "link.txt", "sub/../sub/ok.txt"}));
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
  w.AttachFile(dir / "missing");
  w.PutMimeFooter();
  w.PutMimeFileHeader("t", "i", "h");  // after the footer: ignored
  EXPECT_EQ(w.state(), 4);
  EXPECT_FALSE(fs::exists(dir / "c.oeb"));  // nothing in place before Complete
  w.Complete();
  EXPECT_EQ(w.Path(), dir / "c.oeb");
  EXPECT_EQ(ReadFile(dir / "c.oeb"), ContainerHeader() + PackageHeader() + "PKG" + Footer());

  {  // a writer given up before Complete leaves nothing behind
    MIME abandoned;
    abandoned.SetPath(dir / "x.oeb");
    abandoned.PutMimeHeader();
  }
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"c.oeb", "p.opf"}));
}

}  // namespace
}  // namespace vellix
