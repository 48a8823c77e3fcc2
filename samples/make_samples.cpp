// Builds the bundled sample bookshelf: a few book files and one book folder.
//   vellix-make-samples FOLDER
#include <filesystem>
#include <iostream>

#include "book_maker.h"

using namespace vellix::fixtures;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: vellix-make-samples FOLDER\n";
    return 2;
  }
  std::string shelf = argv[1];
  std::filesystem::remove_all(shelf);
  std::filesystem::create_directories(shelf);

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
  for (const Sample& s : samples) WriteFile(shelf + "/" + s.file, SimpleBookFile(s.info, s.source, "sample data fork"));

  Info folder_info{"SRC1:B:TIME06", "Fiction", "", "The Time Machine", "Wells", "G.", "H."};
  MakeBookFolder(shelf + "/TIMEMACH.RES", RsrcInf(folder_info), "sample data fork",
                 {{"PIC1", Resource(1, "PICT", "picture bytes")}});
  std::cout << shelf << "\n";
  return 0;
}
