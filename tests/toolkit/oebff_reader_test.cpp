// The container reader's outcomes: the tree and body ranges it records for
// good containers, and the error code for each way a container goes wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ikpubx/oebff_reader.h"
#include "test_util.h"
#include "vellix/formats/oebff_parser.h"
#include "vellix/formats/windowed_file.h"

namespace ikpubx {
namespace {

namespace fixtures = vellix::fixtures;
using fixtures::ContainerHeader;
using fixtures::Footer;
using fixtures::kBoundary;
using fixtures::PackageHeader;
using vellix::OEBFFParser;
using vellix::WindowedFile;

const std::string kPackage = "<?xml version=\"1.0\"?>\r\n<package/>";
const std::string kDelimiter = std::string("--") + kBoundary;
const std::string kBoundaryParam = std::string("boundary=\"") + kBoundary + "\"";

// Every header field of `node` as "name=value;attribute=value", one a line,
// then for each part its body range and its fields.
std::string Describe(const OEBFFNode& node) {
  std::string text;
  for (int32_t i = 0; i < node.ChildCount(); ++i) {
    const OEBFFNode& child = *node.Child(i);
    if (child.Kind() == OEBFFNodeKind::kPart) {
      text += std::to_string(child.BodyStart()) + "-" + std::to_string(child.BodyEnd()) + "\n" + Describe(child);
      continue;
    }
    if (child.Kind() != OEBFFNodeKind::kHeaderField) continue;
    text += (node.Kind() == OEBFFNodeKind::kPart ? "  " : "") + child.Name() + "=" + child.Value();
    std::string n, v;
    for (int32_t a = 0; child.Attribute(a, &n, &v); ++a) text += ";" + n + "=" + v;
    text += "\n";
  }
  return text;
}

class OEBFFReaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<OEBFFReader> Read(const std::string& bytes) {
    return std::make_unique<OEBFFReader>(folder_.Write("book.oeb", bytes));
  }

  // The error code of reading `bytes`, 0 when read; checks that a failed
  // reader holds nothing.
  int32_t CodeOf(const std::string& bytes) {
    auto reader = Read(bytes);
    if (!reader->Failed()) return 0;
    EXPECT_EQ(reader->Root(), nullptr);
    EXPECT_EQ(reader->PartCount(), 0);
    EXPECT_TRUE(reader->Parts().empty());
    EXPECT_EQ(reader->Result(), E_FAIL);
    return reader->ErrorCode();
  }

  // A container with these header lines, the package part and the footer.
  static std::string WithContainerHeaders(const std::string& lines) {
    return lines + PackageHeader() + kPackage + Footer();
  }

  // A writer-made container whose second part has this header block.
  static std::string WithPartHeaders(const std::string& block) {
    return ContainerHeader() + PackageHeader() + kPackage + "\r\n" + kDelimiter + "\r\n" + block + "\r\n" + "body" +
           Footer();
  }

  fixtures::TempDir folder_;
};

TEST_F(OEBFFReaderTest, WriterLayoutYieldsOnePartPerFileWithExactBodies) {
  std::string binary("\x00\x01\r\xff\r\n--ZEQTRVNPOLKHGDJXYIKL200X\n\r\r\n-", 38);
  std::vector<fixtures::Item> items = {
      {"text/x-oeb1-document", "ch1", "text/ch1.html", "<p>Hello</p>"},
      {"image/gif", "pic", "pic.gif", binary},
      {"text/css", "css", "style.css", "p { margin: 0 }\r\n"},  // loses its CR LF
      {"text/plain", "missing", "gone.txt", ""},                // empty body
      {"text/plain", "crlf", "crlf.txt", "\r\n"},
  };
  fixtures::Container c = fixtures::MakeContainer(kPackage, items);
  // Bytes after the closing delimiter (an older, longer file's tail) are ignored.
  auto reader = Read(c.bytes + "stale tail\r\n--" + kBoundary + "\r\ngarbage");
  ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
  EXPECT_EQ(reader->Diagnostic(), "");
  ASSERT_EQ(reader->PartCount(), 6);
  fixtures::ExpectGolden("reader_layout.txt", Describe(*reader->Root()));
  items.insert(items.begin(), {"", "", "", kPackage});
  for (int32_t i = 0; i < 6; ++i) {
    const OEBFFNode& part = *reader->Part(i);
    EXPECT_EQ(part.Parent(), reader->Root());
    EXPECT_EQ(part.ContainerPath(), folder_ / "book.oeb");
    auto range = fixtures::ExpectedBodyRange(c.content_offsets[size_t(i)], items[size_t(i)].content);
    EXPECT_EQ(std::make_pair(part.BodyStart(), part.BodyEnd()), range) << i;
  }
}

// Every way a file fails to be a container, and the code it reads with.
TEST_F(OEBFFReaderTest, DamagedContainers) {
  EXPECT_EQ(OEBFFReader(folder_.path() + "/missing.oeb").ErrorCode(), kOEBFFFileNotFound);
  EXPECT_EQ(OEBFFReader(folder_.path()).ErrorCode(), kOEBFFFileNotFound);  // a folder
  std::string good = fixtures::MakeContainer(kPackage, {{"text/plain", "a", "a.txt", "A"}}).bytes;
  std::string lf_only;  // LF alone does not end a header line
  for (char ch : good)
    if (ch != '\r') lf_only += ch;
  std::string note = ContainerHeader() + "X-Note: \"";
  auto item = [](const std::string& id, const std::string& href) {
    return fixtures::MakeContainer(kPackage, {{"image/gif", id, href, "G"}}).bytes;
  };
  const std::pair<std::string, int32_t> cases[] = {
      {"<html><body>Hello</body></html>\r\n", kOEBFFInvalidMimeHeaders},
      {"", kOEBFFInvalidMimeHeaders},
      {"MIME-Version:1.0\r\n\r\n", kOEBFFInvalidMimeHeaders},  // no blank after ":"
      {"MIME-Version 1.0\r\n\r\n", kOEBFFInvalidMimeHeaders},
      {lf_only, kOEBFFInvalidAttributeValue},
      {"MIME-Version: 1.0", kOEBFFInvalidAttributeValue},  // a field cut off by the end
      {ContainerHeader() + "X-Last: 1", kOEBFFInvalidAttributeValue},
      {good.substr(0, good.size() - Footer().size()) + "\r\n", kOEBFFInvalidContainer},  // the last body never ends
      {WithContainerHeaders(note + "caf\xe9\"\r\n"), kOEBFFIllegalCharacter},
      {WithContainerHeaders(note + "a\x01\"\r\n"), kOEBFFIllegalCharacter},
      {WithContainerHeaders(note + std::string("a\0b\"\r\n", 6)), kOEBFFUnexpectedEnd},
      {note + "never closed", kOEBFFUnexpectedEnd},
      // What the writer puts out unchecked: an href above 0x7F, an id that is no token.
      {item("p", "pi\xe8.gif"), kOEBFFIllegalCharacter},
      {item("p#1", "p.gif"), kOEBFFInvalidAttributeValue},
  };
  for (const auto& [bytes, code] : cases) EXPECT_EQ(CodeOf(bytes), code) << bytes;

  auto reader = Read(ContainerHeader() + "\r\nno delimiter follows\r\n");
  EXPECT_EQ(reader->ErrorCode(), kOEBFFInvalidContainer);
  EXPECT_EQ(reader->Diagnostic(), "Invalid OEBFF Container\r\nError 0x0000000A\r\n");
  reader = Read(item("p 1", "p.gif"));  // blanks inside a token are dropped
  ASSERT_FALSE(reader->Failed());
  EXPECT_EQ(reader->Part(1)->Child(1)->Value(), "p1");
}

TEST_F(OEBFFReaderTest, ContainerHeaderCheck) {
  const std::string type = "Content-Type: multipart/related; type=\"application/x-oeb1\"; ";
  struct Case {
    std::string lines;
    int32_t code;
  } cases[] = {
      {"MIME-Version: 1.0\r\nContent-Type: multipart/related; " + kBoundaryParam + "\r\n", 0},
      {"MIME-Version: 1.0\r\nContent-Type: MULTIPART/Related;\r\n TYPE=\"Application/X-OEB1\";\r\n BOUNDARY = \"" +
           std::string(kBoundary) + "\"\r\nX-Other: ignored\r\n",
       0},
      {"MIME-Version: 1.1\r\n" + type + kBoundaryParam + "\r\n", kOEBFFInvalidContainer},
      {"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; " + kBoundaryParam + "\r\n", kOEBFFInvalidContainer},
      {"MIME-Version: 1.0\r\nContent-Type: multipart/related; type=\"text/html\"; " + kBoundaryParam + "\r\n",
       kOEBFFInvalidContainer},
      {"MIME-Version: 1.0\r\nContent-Type: multipart/related; type=\"application/x-oeb1\"\r\n", kOEBFFInvalidContainer},
      {"MIME-Version: 1.0\r\nContent-Type: multipart/related\r\n", kOEBFFInvalidContainer},
      {type + kBoundaryParam + "\r\n", kOEBFFInvalidContainer},  // no MIME-Version
      {"mime-version: 1.0\r\n" + type + kBoundaryParam + "\r\n", kOEBFFInvalidContainer},
      {"MIME-Version: 1.0\r\n" + type + "boundary=" + kBoundary + "\r\n", kOEBFFInvalidAttributeValue},
      {"MIME-Version: 1.0\r\nContent-Type: \"multipart/related\"; " + kBoundaryParam + "\r\n",
       kOEBFFInvalidAttributeValue},  // a quoted value may not take ";"
  };
  for (const Case& c : cases) EXPECT_EQ(CodeOf(WithContainerHeaders(c.lines)), c.code) << c.lines;
}

TEST_F(OEBFFReaderTest, HeaderValues) {
  auto reader = Read(WithContainerHeaders(ContainerHeader() + "X-Blank: \"    \"\r\n"
                                                              "X-Lines: 'first\r\n\tsecond\r\n\tthird\r\n'\r\n"
                                                              "X-Tokens: abc def;\r\n\tghi\r\n"
                                                              "X-Param: name = \"it's\"; other='x'\r\n"));
  ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
  EXPECT_NE(Describe(*reader->Root())
                .find("\nX-Blank=\nX-Lines=first second third\nX-Tokens=abcdefghi\n"
                      "X-Param=;name=it's;other=x\n"),
            std::string::npos)
      << Describe(*reader->Root());
}

TEST_F(OEBFFReaderTest, PartHeaderCheck) {
  const std::string disposition = "Content-Disposition: href=\"a.gif\"\r\n";
  struct Case {
    std::string block;
    int32_t code;
  } cases[] = {
      {"Content-Type: text/xml\r\n", 0},
      {"Content-Type: TEXT/XML\r\nContent-Disposition: inline\r\n", 0},
      {"Content-Type: image/gif\r\nContent-OEB-ID: a\r\n" + disposition, 0},
      {"Content-Type: image/gif\r\n" + disposition, kOEBFFInvalidPart},
      {"Content-Type: image/svg+xml\r\nContent-OEB-ID: a\r\n" + disposition, kOEBFFInvalidAttributeValue},
      {"Content-Type: image/gif\r\ncontent-oeb-id: a\r\n" + disposition, kOEBFFInvalidPart},
      {"Content-OEB-ID: a\r\n" + disposition, kOEBFFInvalidPart},
      {"Content-Type: image/gif\r\nContent-OEB-ID: a\r\nContent-Disposition: inline\r\n", kOEBFFInvalidPart},
      {"Content-Type: image/gif\r\nContent-OEB-ID: a\r\nContent-Disposition: file=\"a.gif\"\r\n", kOEBFFInvalidPart},
      {"Content-Type: application/x-gzip\r\nContent-OEB-ID: a\r\n" + disposition, kOEBFFInvalidPart},
      {"Content-Uncompressed-Type: image/gif\r\nContent-Type: application/x-gzip\r\nContent-OEB-ID: a\r\n" +
           disposition,
       kOEBFFInvalidPart},
      {"Content-Type: application/x-gzip\r\nContent-Uncompressed-Type: image/gif\r\nContent-OEB-ID: a\r\n" +
           disposition,
       0},
  };
  for (const Case& c : cases) EXPECT_EQ(CodeOf(WithPartHeaders(c.block)), c.code) << c.block;
}

TEST_F(OEBFFReaderTest, PreambleAndEmptyLineBeforeADelimiter) {
  // A preamble before the first delimiter is skipped, and the empty line
  // before a delimiter belongs to the delimiter.
  std::string preamble = ContainerHeader() + "\r\nThis is a multi-part message.\r\n\r\n" + kDelimiter +
                         "\r\nContent-Type: text/xml\r\n\r\n";
  auto reader = Read(preamble + "<p/>\r\n\r\n" + kDelimiter + "--");
  ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
  ASSERT_EQ(reader->PartCount(), 1);
  EXPECT_EQ(reader->Part(0)->BodyStart(), static_cast<int64_t>(preamble.size()));
  EXPECT_EQ(reader->Part(0)->BodyEnd(), static_cast<int64_t>(preamble.size() + 5));
}

TEST_F(OEBFFReaderTest, ContainerPaths) {
  std::string good = fixtures::MakeContainer(kPackage, {}).bytes;
  EXPECT_FALSE(OEBFFReader(folder_.Write("caf\xc3\xa9 \xe2\x82\xac.oeb", good)).Failed());  // é and €
  // Characters the code page lacks, or no text at all.
  for (const char* name : {"\xc4\x81.oeb", "\xe2\x86\x92.oeb", "\xf0\x9f\x93\x96.oeb", "\xff\xfe.oeb"}) {
    OEBFFReader reader(folder_.Write(name, good));
    EXPECT_TRUE(reader.Failed()) << name;
    EXPECT_EQ(reader.ErrorCode(), kOEBFFFileNotFound);
  }
  EXPECT_TRUE(OEBFFReader(std::string("a\0b", 3)).Failed());

  // 499 characters are fine, 500 are too many, even when the file exists.
  std::string dir = folder_.path();
  while (dir.size() < 400) {
    dir += "/" + std::string(50, 'd');
    std::filesystem::create_directory(dir);
  }
  std::string at_limit = dir + "/" + std::string(499 - dir.size() - 1 - 4, 'n') + ".oeb";
  std::string over = at_limit.substr(0, at_limit.size() - 4) + "n.oeb";
  for (const std::string& path : {at_limit, over}) {
    std::ofstream(path, std::ios::binary) << good;
  }
  EXPECT_FALSE(OEBFFReader(at_limit).Failed());
  OEBFFReader too_long(over);
  EXPECT_TRUE(too_long.Failed());
  EXPECT_EQ(too_long.ErrorCode(), kOEBFFFileNotFound);
}

TEST_F(OEBFFReaderTest, ProgressCanStopTheReading) {
  // A body across several windows.
  std::string big(3 * WindowedFile::kWindowSize, 'x');
  fixtures::Container c = fixtures::MakeContainer(kPackage, {{"a/b", "b", "b", big}});
  std::string path = folder_.Write("big.oeb", c.bytes);
  OEBFFReader whole(path);
  ASSERT_EQ(whole.PartCount(), 2);
  EXPECT_EQ(std::make_pair(whole.Part(1)->BodyStart(), whole.Part(1)->BodyEnd()),
            fixtures::ExpectedBodyRange(c.content_offsets[1], big));
  int64_t last = -1;
  auto forward = [&](int64_t done, int64_t size) {
    EXPECT_TRUE(done > last && done < size);
    last = done;
    return true;
  };
  EXPECT_FALSE(OEBFFReader(path, forward).Failed());
  EXPECT_GT(last, 2 * WindowedFile::kWindowSize);
  EXPECT_EQ(OEBFFReader(path, [](int64_t, int64_t) { return false; }).ErrorCode(), kOEBFFUserAborted);
  // Anything else thrown is no answer from the user.
  EXPECT_EQ(OEBFFReader(path, [](int64_t, int64_t) -> bool { throw 42; }).ErrorCode(), -1);
}

// What the parser makes of a file through a window of `window_size`: the
// error code, or every node with its fields and body range.
std::string ParseThroughWindow(const std::string& path, int64_t window_size) {
  OEBFFParser parser(window_size);
  try {
    parser.Parse(path);
  } catch (const COEBFFContainerException& e) {
    return "error " + std::to_string(e.Code());
  }
  return Describe(*parser.TakeRoot());
}

// Windows of a few bytes put every header, delimiter and step-back across
// an edge; the outcome must not change.
TEST(OEBFFParserTest, TinyWindowsReadTheSameContainer) {
  fixtures::TempDir folder;
  std::string good = fixtures::MakeContainer(kPackage, {{"image/gif", "p", "p.gif", "G\r\n--ZEQ\r\n"},
                                                        {"text/css", "c", "c.css", "p{}\r\n"}})
                         .bytes;
  std::vector<std::string> containers = {
      good,
      "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: text/xml\r\n\r\n\r\n\r\n--B--",
      good.substr(0, good.size() - 9),                      // no closing delimiter
      ContainerHeader() + "X-Note: 'a\r\n\tb' c;\r\n\r\n",  // no delimiter
      ContainerHeader() + "X-Note: \"a",                    // unclosed quote
  };
  for (const std::string& bytes : containers) {
    std::string path = folder.Write("c.oeb", bytes);
    std::string expected = ParseThroughWindow(path, WindowedFile::kWindowSize);
    for (int64_t window = 1; window <= 40; ++window)
      EXPECT_EQ(ParseThroughWindow(path, window), expected) << "window " << window << "\n" << bytes;
  }
}

}  // namespace
}  // namespace ikpubx
