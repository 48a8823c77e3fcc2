// The container reader's outcomes: the tree and body ranges it records for
// good containers, and the error code for each way a container goes wrong.
#include <gtest/gtest.h>

#include <filesystem>
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
using vellix::formats::OEBFFParser;
using vellix::formats::WindowedFile;
using namespace std::string_literals;

const std::string kPackage = "<?xml version=\"1.0\"?>\r\n<package/>";
const std::string kDelimiter = std::string("--") + kBoundary;

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
  // The error code of reading `bytes`, 0 when read; a failed reader holds nothing.
  int32_t CodeOf(const std::string& bytes) {
    auto reader = Read(bytes);
    if (!reader->Failed()) return 0;
    EXPECT_TRUE(reader->Root() == nullptr && reader->PartCount() == 0 && reader->Parts().empty());
    EXPECT_EQ(reader->Result(), E_FAIL);
    return reader->ErrorCode();
  }
  fixtures::TempDir folder_;
};

// One part per file with its exact body, and progress through the file.
TEST_F(OEBFFReaderTest, WriterLayoutYieldsExactBodiesWithProgress) {
  std::string binary("\x00\x01\r\xff\r\n--ZEQTRVNPOLKHGDJXYIKL200X\n\r\r\n-", 38);
  std::vector<fixtures::Item> items = {
      {"text/x-oeb1-document", "ch1", "text/ch1.html", "<p>Hello</p>"},
      {"image/gif", "pic", "pic.gif", binary},
      {"text/css", "css", "style.css", "p { margin: 0 }\r\n"},  // loses its CR LF
      {"text/plain", "missing", "gone.txt", ""},                // empty body
      {"text/plain", "crlf", "crlf.txt", "\r\n"},
      {"a/b", "big", "big", std::string(3 * WindowedFile::kWindowSize, 'x')},  // across several windows
  };
  fixtures::Container c = fixtures::MakeContainer(kPackage, items);
  // Values blank, folded over lines, of several tokens, and with parameters.
  const std::string fields =
      "X-Blank: \"    \"\r\nX-Lines: 'first\r\n\tsecond\r\n\tthird\r\n'\r\nX-Tokens: abc def;\r\n\tghi\r\n"
      "X-Param: name = \"it's\"; other='x'\r\n";
  // A preamble before the first delimiter is skipped; bytes after the closing
  // delimiter (an older, longer file's tail) are ignored.
  const std::string before = fields + "\r\nThis is a multi-part message.\r\n";
  auto reader = Read(ContainerHeader() + before + c.bytes.substr(ContainerHeader().size()) + "stale tail\r\n" +
                     kDelimiter + "\r\ngarbage");
  ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
  EXPECT_EQ(reader->Diagnostic(), "");
  ASSERT_EQ(reader->PartCount(), 7);
  fixtures::ExpectGolden("reader_layout.txt", Describe(*reader->Root()));
  items.insert(items.begin(), {"", "", "", kPackage});
  for (int32_t i = 0; i < 7; ++i) {
    const OEBFFNode& part = *reader->Part(i);
    EXPECT_EQ(part.Parent(), reader->Root());
    EXPECT_EQ(part.ContainerPath(), folder_ / "book.oeb");
    auto offset = c.content_offsets[size_t(i)] + static_cast<int64_t>(before.size());
    EXPECT_EQ(std::make_pair(part.BodyStart(), part.BodyEnd()),
              fixtures::ExpectedBodyRange(offset, items[size_t(i)].content))
        << i;
  }
  std::string path = folder_ / "book.oeb";  // progress runs forward and may stop the reading
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

// Every way a file fails to be a container, the code it reads with, and the
// headers it must still accept.
TEST_F(OEBFFReaderTest, EveryWayAContainerGoesWrong) {
  std::string good = fixtures::MakeContainer(kPackage, {{"text/plain", "a", "a.txt", "A"}}).bytes;
  std::string lf_only = good;  // LF alone does not end a header line
  std::erase(lf_only, '\r');
  auto with_fields = [](const std::string& lines) { return lines + PackageHeader() + kPackage + Footer(); };
  auto with_part = [](const std::string& block) {  // a second part with this header block
    return ContainerHeader() + PackageHeader() + kPackage + "\r\n" + kDelimiter + "\r\n" + block + "\r\nbody" +
           Footer();
  };

  const std::string note = ContainerHeader() + "X-Note: \"", v1 = "MIME-Version: 1.0\r\n";
  const std::string type = "Content-Type: multipart/related; type=\"application/x-oeb1\"; ";
  const std::string param = std::string("boundary=\"") + kBoundary + "\"\r\n";
  const std::string gif = "Content-Type: image/gif\r\n", id = "Content-OEB-ID: a\r\n";
  const std::string href = "Content-Disposition: href=\"a.gif\"\r\n", gzip = "Content-Type: application/x-gzip\r\n";
  const std::pair<std::string, int32_t> cases[] = {
      {"<html><body>Hello</body></html>\r\n", kOEBFFInvalidMimeHeaders},
      {"", kOEBFFInvalidMimeHeaders},
      {"MIME-Version:1.0\r\n\r\n", kOEBFFInvalidMimeHeaders},  // no blank after ":"
      {"MIME-Version 1.0\r\n\r\n", kOEBFFInvalidMimeHeaders},
      {lf_only, kOEBFFInvalidAttributeValue},
      {"MIME-Version: 1.0", kOEBFFInvalidAttributeValue},  // a field cut off by the end
      {ContainerHeader() + "X-Last: 1", kOEBFFInvalidAttributeValue},
      {good.substr(0, good.size() - Footer().size()) + "\r\n", kOEBFFInvalidContainer},  // the last body never ends
      {with_fields(note + "caf\xe9\"\r\n"), kOEBFFIllegalCharacter},
      {with_fields(note + "a\x01\"\r\n"), kOEBFFIllegalCharacter},
      {with_fields(note + std::string("a\0b\"\r\n", 6)), kOEBFFUnexpectedEnd},
      {note + "never closed", kOEBFFUnexpectedEnd},
      // What the writer puts out unchecked: an href above 0x7F, an id that is no token.
      {fixtures::MakeContainer(kPackage, {{"image/gif", "p", "pi\xe8.gif", "G"}}).bytes, kOEBFFIllegalCharacter},
      {fixtures::MakeContainer(kPackage, {{"image/gif", "p#1", "p.gif", "G"}}).bytes, kOEBFFInvalidAttributeValue},
      // The container's own header.
      {with_fields(v1 + "Content-Type: multipart/related; " + param), 0},
      {with_fields(v1 + "Content-Type: MULTIPART/Related;\r\n TYPE=\"Application/X-OEB1\";\r\n BOUNDARY = \"" +
                   kBoundary + "\"\r\nX-Other: ignored\r\n"),
       0},
      {with_fields("MIME-Version: 1.1\r\n" + type + param), kOEBFFInvalidContainer},
      {with_fields(v1 + "Content-Type: multipart/mixed; " + param), kOEBFFInvalidContainer},
      {with_fields(v1 + "Content-Type: multipart/related; type=\"text/html\"; " + param), kOEBFFInvalidContainer},
      {with_fields(v1 + "Content-Type: multipart/related; type=\"application/x-oeb1\"\r\n"), kOEBFFInvalidContainer},
      {with_fields(v1 + "Content-Type: multipart/related\r\n"), kOEBFFInvalidContainer},
      {with_fields(type + param), kOEBFFInvalidContainer},  // no MIME-Version
      {with_fields("mime-version: 1.0\r\n" + type + param), kOEBFFInvalidContainer},
      {with_fields(v1 + type + "boundary=" + kBoundary + "\r\n"), kOEBFFInvalidAttributeValue},
      {with_fields(v1 + "Content-Type: \"multipart/related\"; " + param),
       kOEBFFInvalidAttributeValue},  // a quoted value may not take ";"
      // A part's header.
      {with_part("Content-Type: text/xml\r\n"), 0},
      {with_part("Content-Type: TEXT/XML\r\nContent-Disposition: inline\r\n"), 0},
      {with_part(gif + href), kOEBFFInvalidPart},
      {with_part("Content-Type: image/svg+xml\r\n" + id + href), kOEBFFInvalidAttributeValue},
      {with_part(gif + "content-oeb-id: a\r\n" + href), kOEBFFInvalidPart},
      {with_part(id + href), kOEBFFInvalidPart},
      {with_part(gif + id + "Content-Disposition: inline\r\n"), kOEBFFInvalidPart},
      {with_part(gif + id + "Content-Disposition: file=\"a.gif\"\r\n"), kOEBFFInvalidPart},
      {with_part(gzip + id + href), kOEBFFInvalidPart},
      {with_part("Content-Uncompressed-Type: image/gif\r\n" + gzip + id + href), kOEBFFInvalidPart},
      {with_part(gzip + "Content-Uncompressed-Type: image/gif\r\n" + id + href), 0},
  };
  for (const auto& [bytes, code] : cases) EXPECT_EQ(CodeOf(bytes), code) << bytes;

  auto reader = Read(ContainerHeader() + "\r\nno delimiter follows\r\n");
  EXPECT_EQ(reader->Diagnostic(), "Invalid OEBFF Container\r\nError 0x0000000A\r\n");
}

TEST_F(OEBFFReaderTest, ContainerPaths) {
  // 499 characters are fine, 500 are too many, even when the file exists.
  std::string deep;
  while (folder_.path().size() + deep.size() < 400) {
    deep += std::string(50, 'd') + "/";
    std::filesystem::create_directory(folder_ / deep);
  }
  size_t fill = 499 - folder_.path().size() - 1 - deep.size() - 4;
  std::string at_limit = deep + std::string(fill, 'n') + ".oeb", over = deep + std::string(fill + 1, 'n') + ".oeb";
  std::string good = fixtures::MakeContainer(kPackage, {}).bytes;
  for (const std::string& name : {at_limit, "caf\xc3\xa9 \xe2\x82\xac.oeb"s})  // é and € are in the code page
    EXPECT_EQ(OEBFFReader(folder_.Write(name, good)).ErrorCode(), 0) << name;
  // Characters the code page lacks, or no text at all.
  for (const std::string& name : {over, "\xc4\x81.oeb"s, "\xe2\x86\x92.oeb"s, "\xf0\x9f\x93\x96.oeb"s, "\xff\xfe.oeb"s})
    EXPECT_EQ(OEBFFReader(folder_.Write(name, good)).ErrorCode(), kOEBFFFileNotFound) << name;
  for (const std::string& path : {folder_ / "missing.oeb", folder_.path(), "a\0b"s})  // missing, a folder, a NUL
    EXPECT_EQ(OEBFFReader(path).ErrorCode(), kOEBFFFileNotFound) << path;
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
TEST_F(OEBFFReaderTest, TinyWindowsReadTheSameContainer) {
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
    std::string path = folder_.Write("c.oeb", bytes);
    std::string expected = ParseThroughWindow(path, WindowedFile::kWindowSize);
    for (int64_t window = 1; window <= 40; ++window)
      EXPECT_EQ(ParseThroughWindow(path, window), expected) << "window " << window << "\n" << bytes;
  }
}

}  // namespace
}  // namespace ikpubx
