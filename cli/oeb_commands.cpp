// vellix oeb check: reads an OEBFF container with the toolkit's reader and
// prints its header fields and where each part's body lies.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "ikpubx/oebff_reader.h"
#include "output.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"

namespace vellix::cli {
namespace {

struct OebOptions {
  std::string file;
  bool json = false;
};

// Shown only for containers this large; smaller ones are read in a blink.
constexpr int64_t kProgressThreshold = 16 << 20;

std::string FailureMessage(const ikpubx::OEBFFReader& reader) {
  if (reader.Result() == ikpubx::E_OUTOFMEMORY) return "Out of memory";
  return ikpubx::COEBFFContainerException::MessageFor(reader.ErrorCode());
}

// Header names and values are 8-bit text; the output is UTF-8.
nlohmann::ordered_json FieldsToJson(const ikpubx::OEBFFNode& node) {
  nlohmann::ordered_json fields = nlohmann::ordered_json::array();
  for (int32_t i = 0; i < node.ChildCount(); ++i) {
    const ikpubx::OEBFFNode& field = *node.Child(i);
    if (field.Kind() != ikpubx::OEBFFNodeKind::kHeaderField) continue;
    nlohmann::ordered_json attributes = nlohmann::ordered_json::array();
    std::string name, value;
    for (int32_t a = 0; field.Attribute(a, &name, &value); ++a)
      attributes.push_back({formats::Cp1252ToUtf8(name), formats::Cp1252ToUtf8(value)});
    fields.push_back({{"name", formats::Cp1252ToUtf8(field.Name())},
                      {"value", formats::Cp1252ToUtf8(field.Value())},
                      {"attributes", attributes}});
  }
  return fields;
}

nlohmann::ordered_json ReaderToJson(const ikpubx::OEBFFReader& reader) {
  nlohmann::ordered_json j;
  j["failed"] = reader.Failed();
  j["code"] = reader.ErrorCode();
  j["message"] = reader.Failed() ? FailureMessage(reader) : std::string("No error");
  j["container_fields"] = reader.Root() ? FieldsToJson(*reader.Root()) : nlohmann::ordered_json::array();
  nlohmann::ordered_json parts = nlohmann::ordered_json::array();
  for (const ikpubx::OEBFFNode* part : reader.Parts())
    parts.push_back(
        {{"body_start", part->BodyStart()}, {"body_end", part->BodyEnd()}, {"fields", FieldsToJson(*part)}});
  j["parts"] = parts;
  return j;
}

// "  Name: value; attr=\"value\"" for every field of `node`.
void PrintFields(const ikpubx::OEBFFNode& node) {
  for (const auto& field : FieldsToJson(node)) {
    std::cout << "  " << field["name"].get<std::string>() << ":";
    std::string value = field["value"].get<std::string>();
    const char* separator = " ";
    if (!value.empty()) {
      std::cout << " " << value;
      separator = "; ";
    }
    for (const auto& attribute : field["attributes"]) {
      std::cout << separator << attribute[0].get<std::string>() << "=\"" << attribute[1].get<std::string>() << "\"";
      separator = "; ";
    }
    std::cout << "\n";
  }
}

void PrintSummary(const std::string& file, const ikpubx::OEBFFReader& reader) {
  int32_t count = reader.PartCount();
  std::cout << file << ": OEBFF container, " << count << (count == 1 ? " part\n" : " parts\n");
  PrintFields(*reader.Root());
  for (int32_t i = 0; i < count; ++i) {
    const ikpubx::OEBFFNode& part = *reader.Part(i);
    int64_t length = part.BodyEnd() - 1 - part.BodyStart();
    std::cout << "Part " << i + 1 << ": body at " << part.BodyStart() << ", " << length
              << (length == 1 ? " byte\n" : " bytes\n");
    PrintFields(part);
  }
}

// A one-line bar on the terminal, redrawn when the percentage moves.
class ProgressBar {
 public:
  bool Update(int64_t done, int64_t size) {
    if (size < kProgressThreshold) return true;
    int percent = static_cast<int>(done * 100 / size);
    if (percent == shown_) return true;
    shown_ = percent;
    std::string bar(static_cast<size_t>(percent / 4), '#');
    bar.resize(25, '.');
    std::cout << "\rReading [" << bar << "] " << percent << "%" << std::flush;
    return true;
  }
  ~ProgressBar() {
    if (shown_ >= 0) std::cout << "\r\033[K" << std::flush;
  }

 private:
  int shown_ = -1;
};

}  // namespace

void AddOebCommands(CLI::App& app, int& exit_code) {
  auto opts = std::make_shared<OebOptions>();
  // The container writer's command may have opened the group already.
  auto named_oeb = [](CLI::App* sub) { return sub->get_name() == "oeb"; };
  std::vector<CLI::App*> existing = app.get_subcommands(named_oeb);
  CLI::App* oeb = existing.empty() ? nullptr : existing.front();
  if (!oeb) {
    oeb = app.add_subcommand("oeb", "Write and check OEBFF containers");
    oeb->require_subcommand(1);
  }

  CLI::App* pack = oeb->add_subcommand("pack", "Pack a package and the files of its manifest into one container");
  pack->add_option("OPF", opts->file, "Package document (.opf); writes <folder>/<name>.oeb")->required();
  pack->callback([opts, &exit_code] {
    std::filesystem::path opf(CleanPath(opts->file));
    std::string folder = opf.has_parent_path() ? opf.parent_path().string() : ".";
    std::string name = opf.filename().string();
    // The library packs <folder>/<name>.opf: any other name would pack a
    // different file than the one the user named.
    if (opf.extension() != ".opf" || opf.stem().empty())
      formats::Raise(formats::kInvalidArgument, opf.string() + " is not a package (its name must end in \".opf\")");
    if (!formats::IsFolder(folder)) formats::Raise(formats::kPathNotFound, folder);
    if (formats::IsFolder(opf)) formats::Raise(formats::kPathFileAccess, opf.string() + " is a folder");
    if (!formats::IsFile(opf)) formats::Raise(formats::kFileNotFound, opf.string());
    name = opf.stem().string();
    Book::PackProgress progress;
    bool drawn = false;
    if (::isatty(STDOUT_FILENO))
      progress = [&drawn](size_t done, size_t total) {
        if (total < 20) return;  // a few parts are packed in a blink
        drawn = true;
        std::string bar(done * 25 / total, '#');
        bar.resize(25, '.');
        std::cout << "\rPacking [" << bar << "] " << done << "/" << total << std::flush;
      };
    std::vector<std::string> skipped = Book().BuildOEBFile(name, folder, progress);
    if (drawn) std::cout << "\r\033[K" << std::flush;
    for (const std::string& href : skipped)
      std::cerr << "vellix: not packed, outside the package's folder: " << href << "\n";
    std::cout << (folder == "/" ? "" : folder) << "/" << name << ".oeb\n";
    exit_code = kExitOk;
  });

  CLI::App* check = oeb->add_subcommand("check", "Read a container as the toolkit does and describe it");
  check->add_option("FILE", opts->file, "OEBFF container (.oeb)")->required();
  check->add_flag("--json", opts->json, "Print a JSON object");
  check->callback([opts, &exit_code] {
    std::unique_ptr<ikpubx::OEBFFReader> reader;
    {
      ProgressBar bar;
      ikpubx::OEBFFReader::Progress progress;
      if (::isatty(STDOUT_FILENO)) progress = [&bar](int64_t done, int64_t size) { return bar.Update(done, size); };
      reader = std::make_unique<ikpubx::OEBFFReader>(opts->file, progress);
    }
    exit_code = reader->Failed() ? kExitError : kExitOk;
    if (opts->json) {
      PrintJson(ReaderToJson(*reader));
    } else if (reader->Failed()) {
      // Worded apart from automation errors: the code is the container
      // reader's own, not a run-time error number.
      std::cerr << "vellix: container error " << reader->ErrorCode() << ": " << FailureMessage(*reader) << "\n";
    } else {
      PrintSummary(opts->file, *reader);
    }
  });
}

}  // namespace vellix::cli
