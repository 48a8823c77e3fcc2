// Builds the bundled sample bookshelf: a few book files and one book folder.
//   vellix-make-samples FOLDER
//
// FOLDER is made when missing. An existing one is written into only when it
// is empty or was made by this program (it holds the marker file, or only
// the samples themselves); the samples are replaced and nothing else in it
// is touched.
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <system_error>

#include "book_maker.h"

using namespace vellix::fixtures;
namespace fs = std::filesystem;

namespace {

constexpr char kMarker[] = ".vellix-samples";
constexpr char kUsage[] =
    "usage: vellix-make-samples FOLDER\n"
    "Writes the sample bookshelf (six book files and one book folder) into FOLDER.\n"
    "FOLDER is made when missing; an existing FOLDER must be empty or one this\n"
    "program made. Only the samples are replaced; nothing else is removed.\n";

// Whether `shelf` may be written: missing, empty, marked as ours, or
// holding nothing but samples (as shelves made before the marker do).
bool IsOurs(const fs::path& shelf, const std::set<std::string>& samples, std::string& why) {
  std::error_code ec;
  fs::file_status status = fs::status(shelf, ec);
  if (!fs::exists(status)) return true;
  if (!fs::is_directory(status)) {
    why = "is not a folder";
    return false;
  }
  if (fs::exists(shelf / kMarker, ec)) return true;
  for (const fs::directory_entry& entry : fs::directory_iterator(shelf, ec)) {
    if (samples.count(entry.path().filename().string()) == 0) {
      why = "exists and was not made by vellix-make-samples (it holds " + entry.path().filename().string() + ")";
      return false;
    }
  }
  if (ec) {
    why = "cannot be read: " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (argc != 2 || (argv[1][0] == '-' && argv[1][1] != '\0')) {
    std::cerr << kUsage;
    return 2;
  }
  const fs::path shelf = argv[1];

  struct Sample {
    const char* file;
    Info info;
    std::string source;
  };
  const Sample samples[] = {
      {"ALICEWON.imp", {"ALICE01", "Fiction", "", "Alice's Adventures in Wonderland", "Carroll", "", "Lewis"}, ""},
      {"PRIDEPRJ.imp", {"PRIDE02", "Fiction", "", "Pride and Prejudice", "Austen", "", "Jane"}, ""},
      {"ORIGINSP.imp", {"ORIGIN03", "Science", "", "On the Origin of Species", "Darwin", "", "Charles"}, ""},
      {"DAILYNEW.imp",
       {"DN0304", "News", "", "Daily News", "2002-03-04", "", "Daily,"},
       SourceRecord("SRC7", "P", 7, "dailynews")},
      {"DAILYOLD.imp",
       {"DN0301", "News", "", "Daily News", "2002-03-01", "", "Daily,"},
       SourceRecord("SRC7", "P", 6, "dailynews")},
      {"SALTPEPR.imp", {"SALT05", "cooking", "", "Salt & Pepper", "Cook", "", "A."}, ""},
  };
  constexpr char kFolderSample[] = "TIMEMACH.RES";
  std::set<std::string> names = {kMarker, kFolderSample};
  for (const Sample& s : samples) names.insert(s.file);
  std::string why;
  if (!IsOurs(shelf, names, why)) {
    std::cerr << "vellix-make-samples: " << shelf.string() << " " << why << "\n";
    return 1;
  }
  try {
    fs::create_directories(shelf);
    WriteFile((shelf / kMarker).string(), "Made by vellix-make-samples; it replaces its samples here.\n");
    for (const Sample& s : samples)
      WriteFile((shelf / s.file).string(), SimpleBookFile(s.info, s.source, "sample data fork"));
    // The book folder is the one sample made of several files: it alone is
    // removed before it is made again.
    fs::remove_all(shelf / kFolderSample);
    Info folder_info{"SRC1:B:TIME06", "Fiction", "", "The Time Machine", "Wells", "G.", "H."};
    MakeBookFolder((shelf / kFolderSample).string(), RsrcInf(folder_info), "sample data fork",
                   {{"PIC1", Resource(1, "PICT", "picture bytes")}});
  } catch (const std::exception& e) {
    std::cerr << "vellix-make-samples: " << e.what() << "\n";
    return 1;
  }
  std::cout << shelf.string() << "\n";
  return 0;
}
