// The container reader's outcomes: the tree and body ranges it records for
// good containers, and the error code for each way a container goes wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ikpubx/oebff_reader.h"
#include "oebff_parser.h"
#include "test_util.h"
#include "windowed_file.h"

namespace ikpubx {
namespace {

namespace fixtures = vellix::fixtures;
using fixtures::ContainerHeader;
using fixtures::Footer;
using fixtures::Item;
using fixtures::kBoundary;
using fixtures::PackageHeader;

const std::string kPackage = "<?xml version=\"1.0\"?>\r\n<package/>";
const std::string kDelimiter = std::string("--") + kBoundary;
const std::string kBoundaryParam = std::string("boundary=\"") + kBoundary + "\"";

struct Field {
  std::string name, value;
  std::vector<std::pair<std::string, std::string>> attributes;
  bool operator==(const Field&) const = default;
};

std::vector<Field> FieldsOf(const OEBFFNode& node) {
  std::vector<Field> fields;
  for (int32_t i = 0; i < node.ChildCount(); ++i) {
    const OEBFFNode& f = *node.Child(i);
    if (f.Kind() != OEBFFNodeKind::kHeaderField) continue;
    Field field{f.Name(), f.Value(), {}};
    std::string n, v;
    for (int32_t a = 0; f.Attribute(a, &n, &v); ++a) field.attributes.emplace_back(n, v);
    fields.push_back(field);
  }
  return fields;
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
    return ContainerHeader() + PackageHeader() + kPackage + "\r\n" + kDelimiter + "\r\n" + block + "\r\n" +
           "body" + Footer();
  }

  fixtures::TempDir folder_;
};

TEST_F(OEBFFReaderTest, WriterLayoutYieldsOnePartPerFileWithExactBodies) {
  std::string binary("\x00\x01\r\xff\r\n--ZEQTRVNPOLKHGDJXYIKL200X\n\r\r\n-", 38);
  std::vector<Item> items = {
      {"text/x-oeb1-document", "ch1", "text/ch1.html", "<p>Hello</p>"},
      {"image/gif", "pic", "pic.gif", binary},
      {"text/css", "css", "style.css", "p { margin: 0 }\r\n"},  // loses its CR LF
      {"text/plain", "missing", "gone.txt", ""},                 // empty body
      {"text/plain", "crlf", "crlf.txt", "\r\n"},
  };
  fixtures::Container c = fixtures::MakeContainer(kPackage, items);
  // Bytes after the closing delimiter (an older, longer file's tail) are ignored.
  auto reader = Read(c.bytes + "stale tail\r\n--" + kBoundary + "\r\ngarbage");

  ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
  EXPECT_EQ(reader->Diagnostic(), "");
  ASSERT_EQ(reader->PartCount(), 6);

  const OEBFFNode& root = *reader->Root();
  std::vector<Field> container = {
      {"MIME-Version", "1.0", {}},
      {"Content-Type",
       "multipart/related",
       {{"type", "application/x-oeb1"}, {"start", "packageIKL2000"}, {"boundary", kBoundary}}},
  };
  EXPECT_EQ(FieldsOf(root), container);

  std::vector<std::string> contents = {kPackage};
  for (const Item& item : items) contents.push_back(item.content);
  for (int32_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const OEBFFNode& part = *reader->Part(i);
    EXPECT_EQ(part.Parent(), &root);
    EXPECT_EQ(part.ContainerPath(), folder_.path() + "/book.oeb");
    auto expected = fixtures::ExpectedBodyRange(c.content_offsets[static_cast<size_t>(i)],
                                                contents[static_cast<size_t>(i)]);
    EXPECT_EQ(part.BodyStart(), expected.first);
    EXPECT_EQ(part.BodyEnd(), expected.second);
  }

  EXPECT_EQ(FieldsOf(*reader->Part(0)),
            (std::vector<Field>{{"Content-Type", "text/xml", {}}, {"Content-ID", "packageIKL2000", {}}}));
  EXPECT_EQ(FieldsOf(*reader->Part(1)), (std::vector<Field>{
                                            {"Content-Type", "text/x-oeb1-document", {}},
                                            {"Content-OEB-ID", "ch1", {}},
                                            {"Content-Disposition", "", {{"href", "text/ch1.html"}}},
                                            {"Content-Transfer-Encoding", "binary", {}},
                                        }));
}

TEST_F(OEBFFReaderTest, FilesThatAreNoContainer) {
  EXPECT_EQ(std::make_unique<OEBFFReader>(folder_.path() + "/missing.oeb")->ErrorCode(), kOEBFFFileNotFound);
  EXPECT_EQ(std::make_unique<OEBFFReader>(folder_.path())->ErrorCode(), kOEBFFFileNotFound);  // a folder
  EXPECT_EQ(CodeOf("<html><body>Hello</body></html>\r\n"), kOEBFFInvalidMimeHeaders);
  EXPECT_EQ(CodeOf(""), kOEBFFInvalidMimeHeaders);
  EXPECT_EQ(CodeOf("MIME-Version:1.0\r\n\r\n"), kOEBFFInvalidMimeHeaders);  // no blank after ":"
  EXPECT_EQ(CodeOf("MIME-Version 1.0\r\n\r\n"), kOEBFFInvalidMimeHeaders);
  // LF alone does not end a header line.
  std::string lf_only;
  for (char ch : fixtures::MakeContainer(kPackage, {}).bytes)
    if (ch != '\r') lf_only += ch;
  EXPECT_EQ(CodeOf(lf_only), kOEBFFInvalidAttributeValue);

  auto reader = Read(ContainerHeader() + "\r\nno delimiter follows\r\n");
  EXPECT_EQ(reader->ErrorCode(), kOEBFFInvalidContainer);
  EXPECT_EQ(reader->Diagnostic(), "Invalid OEBFF Container\r\nError 0x0000000A\r\n");
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
      {"MIME-Version: 1.0\r\nContent-Type: multipart/related; type=\"application/x-oeb1\"\r\n",
       kOEBFFInvalidContainer},
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
  auto reader = Read(WithContainerHeaders(ContainerHeader() +
                                          "X-Blank: \"    \"\r\n"
                                          "X-Lines: 'first\r\n\tsecond\r\n\tthird\r\n'\r\n"
                                          "X-Tokens: abc def;\r\n\tghi\r\n"
                                          "X-Param: name = \"it's\"; other='x'\r\n"));
  ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
  std::vector<Field> fields = FieldsOf(*reader->Root());
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[2], (Field{"X-Blank", "", {}}));
  EXPECT_EQ(fields[3], (Field{"X-Lines", "first second third", {}}));
  EXPECT_EQ(fields[4], (Field{"X-Tokens", "abcdefghi", {}}));
  EXPECT_EQ(fields[5], (Field{"X-Param", "", {{"name", "it's"}, {"other", "x"}}}));
}

TEST_F(OEBFFReaderTest, BytesAQuotedValueMayNotHold) {
  std::string head = ContainerHeader() + "X-Note: \"";
  EXPECT_EQ(CodeOf(WithContainerHeaders(head + "caf\xe9\"\r\n")), kOEBFFIllegalCharacter);
  EXPECT_EQ(CodeOf(WithContainerHeaders(head + "a\x01\"\r\n")), kOEBFFIllegalCharacter);
  EXPECT_EQ(CodeOf(WithContainerHeaders(head + std::string("a\0b\"\r\n", 6))), kOEBFFUnexpectedEnd);
  EXPECT_EQ(CodeOf(head + "never closed"), kOEBFFUnexpectedEnd);
  // What the writer puts out unchecked: an href above 0x7F, an id that is no token.
  EXPECT_EQ(CodeOf(fixtures::MakeContainer(kPackage, {{"image/gif", "p", "pi\xe8.gif", "G"}}).bytes),
            kOEBFFIllegalCharacter);
  EXPECT_EQ(CodeOf(fixtures::MakeContainer(kPackage, {{"image/gif", "p#1", "p.gif", "G"}}).bytes),
            kOEBFFInvalidAttributeValue);
  auto reader = Read(fixtures::MakeContainer(kPackage, {{"image/gif", "p 1", "p.gif", "G"}}).bytes);
  ASSERT_FALSE(reader->Failed());
  EXPECT_EQ(reader->Part(1)->Child(1)->Value(), "p1");
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
      {"Content-Type: image/gif\r\nContent-OEB-ID: a\r\nContent-Disposition: file=\"a.gif\"\r\n",
       kOEBFFInvalidPart},
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

TEST_F(OEBFFReaderTest, DelimitersAndContainerEnd) {
  std::string good = fixtures::MakeContainer(kPackage, {{"text/plain", "a", "a.txt", "A"}}).bytes;
  // Without the closing delimiter, the last body never ends.
  EXPECT_EQ(CodeOf(good.substr(0, good.size() - Footer().size()) + "\r\n"), kOEBFFInvalidContainer);
  // A header field cut off by the end of the file.
  EXPECT_EQ(CodeOf("MIME-Version: 1.0"), kOEBFFInvalidAttributeValue);
  EXPECT_EQ(CodeOf(ContainerHeader() + "X-Last: 1"), kOEBFFInvalidAttributeValue);

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

// A container spans several windows; headers and delimiters fall across
// a window's edge at every offset.
TEST_F(OEBFFReaderTest, ContainersLargerThanOneWindow) {
  const int64_t edge = WindowedFile::kWindowSize;
  std::string filler;
  for (int i = 0; filler.size() < 300000; ++i) filler += "line " + std::to_string(i) + "\r\n-\r\n--ZEQ\r\n\r\n";
  for (int64_t shift = -200; shift <= 40; ++shift) {
    SCOPED_TRACE(shift);
    // The second part's header block and its delimiter cross the first
    // window's edge; the third part's body crosses two more.
    int64_t package_size = edge - static_cast<int64_t>(ContainerHeader().size() + PackageHeader().size()) + shift;
    std::string package = filler.substr(0, static_cast<size_t>(package_size));
    std::vector<Item> items = {{"text/css", "css", "s.css", "p{}"}, {"text/plain", "big", "big.txt", filler}};
    fixtures::Container c = fixtures::MakeContainer(package, items);
    auto reader = Read(c.bytes);
    ASSERT_FALSE(reader->Failed()) << reader->Diagnostic();
    ASSERT_EQ(reader->PartCount(), 3);
    std::vector<std::string> contents = {package, items[0].content, items[1].content};
    for (size_t i = 0; i < 3; ++i) {
      auto expected = fixtures::ExpectedBodyRange(c.content_offsets[i], contents[i]);
      EXPECT_EQ(reader->Part(static_cast<int32_t>(i))->BodyStart(), expected.first);
      EXPECT_EQ(reader->Part(static_cast<int32_t>(i))->BodyEnd(), expected.second);
    }
    EXPECT_EQ(reader->Part(1)->Child(2)->Name(), "Content-Disposition");
  }
  // A container header block that crosses the edge itself.
  for (int64_t pad = edge - 40; pad <= edge + 5; ++pad) {
    std::string headers = "X-Pad: " + std::string(static_cast<size_t>(pad), 'x') + "\r\n" + ContainerHeader();
    EXPECT_EQ(CodeOf(WithContainerHeaders(headers)), 0) << pad;
  }
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
  std::string big(3 * WindowedFile::kWindowSize, 'x');
  std::string path = folder_.Write("big.oeb", fixtures::MakeContainer(kPackage, {{"a/b", "b", "b", big}}).bytes);
  int64_t last = -1;
  auto forward = [&](int64_t done, int64_t size) {
    EXPECT_TRUE(done > last && done < size);
    last = done;
    return true;
  };
  EXPECT_FALSE(OEBFFReader(path, forward).Failed());
  EXPECT_GT(last, 2 * WindowedFile::kWindowSize);
  EXPECT_EQ(OEBFFReader(path, [](int64_t, int64_t) { return false; }).ErrorCode(), kOEBFFUserAborted);
  EXPECT_EQ(OEBFFReader(path, [](int64_t, int64_t) -> bool { throw 42; }).ErrorCode(), kOEBFFUserAborted);
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
  auto describe = [](const OEBFFNode& node) {
    std::string text;
    for (const Field& f : FieldsOf(node)) {
      text += f.name + "=" + f.value;
      for (const auto& [n, v] : f.attributes) text += ";" + n + "=" + v;
      text += "\n";
    }
    return text;
  };
  std::unique_ptr<OEBFFNode> root = parser.TakeRoot();
  std::string out = describe(*root);
  for (int32_t i = 0; i < root->ChildCount(); ++i) {
    const OEBFFNode& part = *root->Child(i);
    if (part.Kind() != OEBFFNodeKind::kPart) continue;
    out += std::to_string(part.BodyStart()) + "-" + std::to_string(part.BodyEnd()) + "\n" + describe(part);
  }
  return out;
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
