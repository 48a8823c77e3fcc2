// Arbitrary bytes as an OEBFF container. The reader must never crash or let
// an exception out; a failure must leave it empty with a known code; an
// accepted container must have every body inside the file, in order, each
// followed by a delimiter. The parser must reach the same outcome through
// a window of a few bytes as through the full one.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "ikpubx/oebff_reader.h"
#include "vellix/formats/oebff_parser.h"

namespace {

std::string g_folder;  // made once per process, removed at exit
std::string g_path;    // "<folder>/fuzz.oeb", rewritten by every input

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_oebff_reader: %s\n", what);
  std::abort();
}

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

bool MakeFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-oebff.XXXXXX";
  if (!::mkdtemp(pattern.data())) Fail("cannot make a folder");
  g_folder = pattern;
  g_path = g_folder + "/fuzz.oeb";
  std::atexit(RemoveFolder);
  return true;
}

void WriteContainer(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(g_path.c_str(), "wb");
  if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
    Fail("cannot write the container");
}

bool EqualsIgnoreCase(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

// The boundary the container check settled on: the last "boundary"
// parameter of a "Content-Type" field.
std::string BoundaryOf(const ikpubx::OEBFFNode& root) {
  std::string boundary, name, value;
  for (int32_t i = 0; i < root.ChildCount(); ++i) {
    const ikpubx::OEBFFNode& field = *root.Child(i);
    if (field.Kind() != ikpubx::OEBFFNodeKind::kHeaderField || field.Name() != "Content-Type") continue;
    for (int32_t a = 0; field.Attribute(a, &name, &value); ++a)
      if (EqualsIgnoreCase(name, "boundary")) boundary = value;
  }
  return boundary;
}

bool DelimiterAt(const uint8_t* data, size_t size, size_t at, const std::string& form) {
  return at + form.size() <= size && std::memcmp(data + at, form.data(), form.size()) == 0;
}

void CheckAccepted(const ikpubx::OEBFFReader& reader, const uint8_t* data, size_t size) {
  if (reader.ErrorCode() != 0 || !reader.Diagnostic().empty() || reader.Result() != ikpubx::S_OK)
    Fail("accepted with an error");
  const ikpubx::OEBFFNode* root = reader.Root();
  if (!root || root->Kind() != ikpubx::OEBFFNodeKind::kContainer) Fail("no root");
  if (reader.PartCount() < 1 || static_cast<size_t>(reader.PartCount()) != reader.Parts().size()) Fail("part count");
  std::string boundary = BoundaryOf(*root);
  std::string plain = "\r\n--" + boundary, after_empty_line = "\r\n\r\n--" + boundary;
  int64_t previous_end = 0;
  for (int32_t i = 0; i < reader.PartCount(); ++i) {
    const ikpubx::OEBFFNode* part = reader.Part(i);
    if (!part || part->Kind() != ikpubx::OEBFFNodeKind::kPart || part->Parent() != root) Fail("bad part node");
    if (!part->HasChildren()) Fail("part without header fields");
    int64_t start = part->BodyStart(), end = part->BodyEnd();
    if (start < previous_end || end < start + 1 || end > static_cast<int64_t>(size)) Fail("body out of order or range");
    size_t cr = static_cast<size_t>(end - 1);
    if (!DelimiterAt(data, size, cr, plain) && !DelimiterAt(data, size, cr, after_empty_line))
      Fail("body not followed by a delimiter");
    previous_end = end;
  }
}

void CheckFailed(const ikpubx::OEBFFReader& reader) {
  if (reader.Root() || reader.PartCount() != 0 || !reader.Parts().empty()) Fail("failed but kept a tree");
  int32_t code = reader.ErrorCode();
  if (reader.Result() == ikpubx::E_OUTOFMEMORY) return;
  if (code != 1 && code != 5 && code != 6 && code != 8 && code != 10 && code != 11) Fail("unexpected code");
  std::string expected = std::string(ikpubx::COEBFFContainerException::MessageFor(code)) + "\r\nError 0x0000000" +
                         "0123456789ABCDEF"[code] + "\r\n";
  if (reader.Diagnostic() != expected) Fail("diagnostic text");
}

// Error code, or part count and every body range, read through `window`.
std::string Outcome(int64_t window) {
  vellix::formats::OEBFFParser parser(window);
  try {
    parser.Parse(g_path);
  } catch (const ikpubx::COEBFFContainerException& e) {
    return "error " + std::to_string(e.Code());
  }
  std::string out = std::to_string(parser.PartCount());
  std::unique_ptr<ikpubx::OEBFFNode> root = parser.TakeRoot();
  for (int32_t i = 0; i < root->ChildCount(); ++i) {
    const ikpubx::OEBFFNode& node = *root->Child(i);
    out += " " + node.Name() + "=" + node.Value() + "@" + std::to_string(node.BodyStart()) + "-" +
           std::to_string(node.BodyEnd()) + "/" + std::to_string(node.ChildCount());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = MakeFolder();
  (void)ready;
  WriteContainer(data, size);
  try {
    ikpubx::OEBFFReader reader(g_path);
    if (reader.Failed())
      CheckFailed(reader);
    else
      CheckAccepted(reader, data, size);
    // A window of 1 to 32 bytes, picked by the input's length.
    if (Outcome(vellix::formats::WindowedFile::kWindowSize) != Outcome(1 + static_cast<int64_t>(size % 32)))
      Fail("a small window changed the outcome");
  } catch (...) {
    Fail("an exception escaped");
  }
  return 0;
}
