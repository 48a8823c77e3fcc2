// Arbitrary bytes as a project file: a load either fails, reporting why,
// or gives fields that a save writes and a second load reads back
// unchanged; saving the reloaded project writes the same file again.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_common.h"
#include "ikutil/params.h"
#include "ikutil/ui_helper.h"
#include "vellix/formats/file_io.h"

namespace {

class CountingHelper : public ikutil::COEBPackageUIHelper {
 public:
  int Display(const std::string& message, const std::string&, int line, int) override {
    if (message.empty() || line < -1 || line == 0) fuzz::Fail("fuzz_project_loader", "a problem without text or place");
    ++shown;
    return 0;
  }
  int shown = 0;
};

std::string Describe(const ikutil::CBookParams& p) {
  std::ostringstream out;
  out << p.book_file_name << '\n'
      << p.book_id << '\n'
      << p.book_title << '\n'
      << p.category << '\n'
      << p.sub_category << '\n'
      << p.author_first_name << '\n'
      << p.author_middle_name << '\n'
      << p.author_last_name << '\n'
      << p.language << '\n'
      << int{p.encrypt} << int{p.compress} << int{p.implode} << int{p.reserved_flag_after_implode}
      << int{p.reserved_flag_before_underline} << int{p.underline_links} << int{p.logging} << int{p.delete_fallbacks}
      << int{p.is_periodical} << '\n'
      << p.zoom << ' ' << p.css << ' ' << p.widow_lines << ' ' << p.orphan_lines << ' ' << p.build_target << ' '
      << p.rle_trigger << '\n'
      << p.content_feed_id << '\n'
      << p.current_issue << '\n'
      << p.DestDir() << '\n'
      << p.LogDir() << '\n'
      << p.ProjectFormat() << '\n';
  for (size_t i = 0; i < p.NumSources(); ++i) {
    const ikutil::CSourceFile& s = *p.Source(i);
    out << "source " << s.file_name << '|' << s.status << '|' << s.item_id << '|' << s.media_type << '\n';
  }
  for (const ikutil::ProjectResource& r : p.Resources())
    out << "resource " << r.id << '|' << r.href << '|' << r.media_type << '\n';
  return out.str();
}

[[noreturn]] void Differ(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "--- first\n%s\n--- second\n%s\n", a.c_str(), b.c_str());
  fuzz::Fail("fuzz_project_loader", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CountingHelper helper;
  ikutil::CBookParams first;
  first.SetUIHelper(&helper);
  std::string before = Describe(first);
  if (!first.LoadFromText(text, "fuzz.opf", size % 2 == 0)) {
    if (helper.shown != 1) fuzz::Fail("fuzz_project_loader", "a failed load reported other than one problem");
    if (Describe(first) != before) Differ("a failed load changed the fields", before, Describe(first));
    return 0;
  }

  const std::string saved = fuzz::Scratch() + "/project.opf";
  const std::string resaved = fuzz::Scratch() + "/again.opf";
  first.project_file_path = saved;
  if (!first.Save()) fuzz::Fail("fuzz_project_loader", "a loaded project could not be saved");
  ikutil::CBookParams second;
  second.SetUIHelper(&helper);
  int problems = helper.shown;
  if (!second.Load(saved, false)) fuzz::Fail("fuzz_project_loader", "a saved project did not load");
  if (helper.shown != problems) fuzz::Fail("fuzz_project_loader", "a saved project has problems");
  if (Describe(first) != Describe(second))
    Differ("save and load changed the fields", Describe(first), Describe(second));

  second.project_file_path = resaved;
  if (!second.Save()) fuzz::Fail("fuzz_project_loader", "a reloaded project could not be saved");
  std::string a = vellix::formats::ReadWholeFile(saved), b = vellix::formats::ReadWholeFile(resaved);
  if (a != b) Differ("saving a reloaded project wrote another file", a, b);
  return 0;
}
