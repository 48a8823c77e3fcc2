// Arbitrary bytes as a source document and its style sheet: the input up to
// its first 0 byte is "doc.htm", the rest both "style.css" and the picture
// "pic" (which the seeds' documents link). Compiling and checking must never crash, and the
// edition must hold together: every index in range, every link and table
// of contents entry inside the flow.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "compiler.h"
#include "source_files.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_compile_source: %s\n", what);
  std::abort();
}

bool Inside(const ikutil::FlowPosition& p, const ikutil::DeviceEdition& e) {
  return e.blocks.empty() ? p.block == 0 && p.offset == 0 : p.block < e.blocks.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  size_t split = bytes.find('\0');
  ikutil::MemorySourceFiles files;
  files.files["doc.htm"] = bytes.substr(0, split);
  files.files["style.css"] = split == std::string::npos ? std::string() : bytes.substr(split + 1);
  files.files["pic"] = files.files["style.css"];

  ikutil::CompileSettings settings;
  settings.device_width = 64;
  settings.device_height = 64;
  uint64_t last = 0;
  settings.progress = [&](uint64_t parsed) {
    if (parsed < last) Fail("progress went backwards");
    last = parsed;
  };
  ikutil::EditionCompiler compiler(files, settings, [](const ikutil::Problem& p) {
    if (p.severity < 0 || p.severity > 2) Fail("bad severity");
  });
  ikutil::CompileStatus status = compiler.AddDocument("doc.htm");
  if (status == ikutil::CompileStatus::kCancelled) Fail("cancelled without being asked");
  ikutil::DeviceEdition e = compiler.Finish();

  for (const ikutil::Block& b : e.blocks) {
    if (b.style >= e.block_styles.size()) Fail("block style out of range");
    if (b.kind == ikutil::BlockKind::kImage && b.image >= e.images.size()) Fail("image out of range");
    for (const ikutil::Run& r : b.runs) {
      if (r.style >= e.text_styles.size()) Fail("text style out of range");
      if (r.link != ikutil::kNoLink && r.link >= e.links.size()) Fail("link out of range");
      if (r.text.empty()) Fail("empty run");
    }
  }
  for (const ikutil::Link& l : e.links)
    if (!l.external && !l.broken && !Inside(l.target, e)) Fail("link target outside the flow");
  for (const ikutil::TocEntry& t : e.toc)
    if (!Inside(t.target, e)) Fail("table of contents entry outside the flow");
  for (const ikutil::GreyImage& g : e.images)
    if (g.width > 64 || g.height > 64 || g.pixels.size() != size_t{g.width} * g.height) Fail("bad image size");

  ikutil::CheckDocument(files, "doc.htm", {"doc.htm", "style.css", "pic"}, [](const ikutil::Problem&) {});
  return 0;
}
