// Writes the seed corpora of the fuzz targets.
//   fuzz_make_corpus CORPUS_FOLDER    (normally fuzz/corpus)
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "book_maker.h"

using namespace vellix::fixtures;

namespace {

// One file of a folder input of fuzz_book_folder: a name selector, four
// name bytes (indexes into A-Z0-9), a chunk.
struct FolderResource {
  std::string name;  // four characters of [A-Z0-9], or "" for an invalid name
  std::string bytes;
};

std::string Chunk(const std::string& bytes) { return U16(uint16_t(bytes.size())) + bytes; }

std::string FolderInput(const std::string& rsrc_inf, const std::string& fork,
                        const std::vector<FolderResource>& resources) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string out(1, char(resources.size()));
  out += Chunk(rsrc_inf) + Chunk(fork);
  for (const FolderResource& r : resources) {
    if (r.name.empty()) {
      out += char(0xF1);  // a five-character name
    } else {
      out += char(0);
      for (char c : r.name) out += char(alphabet.find(c));
    }
    out += Chunk(r.bytes);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_corpus CORPUS_FOLDER\n";
    return 2;
  }
  std::string root = argv[1];
  std::string files = root + "/fuzz_book_file";
  std::string folders = root + "/fuzz_book_folder";
  std::filesystem::create_directories(files);
  std::filesystem::create_directories(folders);

  Info plain;
  Info periodical{"SRC7:P:DN0304", "News", "", "Daily News", "2002-03-04", "", "Daily,"};
  std::string picture = Resource(1, "PICT", "\x12\x34");
  WriteFile(files + "/plain", BookFile(CarriedBytes() + plain.Strings(), "BOOK.RES",
                                       {{"    ", "    ", "fork"}, {"PIC1", "PICT", picture}}));
  std::string daily = SimpleBookFile(periodical, SourceRecord("SRC7", "P", 7, "daily"));
  WriteFile(files + "/periodical", daily);
  WriteFile(files + "/truncated", daily.substr(0, daily.size() - 30));
  WriteFile(files + "/source-only", SimpleBookFile(plain, "SRC1:B:"));
  WriteFile(files + "/none", SimpleBookFile(plain, "None:"));

  Info sourced{"SRC1:B:ID42", "Fiction", "", "A Title", "Writer", "", "Some"};
  std::string trailing = std::string(
      "\0\0\0\x02\0\0\0\x07"
      "feed9\0",
      14);
  WriteFile(folders + "/plain", FolderInput(RsrcInf(plain), "fork", {{"PIC1", picture}}));
  WriteFile(folders + "/source", FolderInput(RsrcInf(sourced, trailing), "fork", {}));
  WriteFile(folders + "/existing-rsrc",
            FolderInput(RsrcInf(sourced, trailing), "fork", {{"SRCR", StringResource("SRC9:P:")}, {"PIC1", picture}}));
  Info none{"None:ID44", "Fiction", "", "A Title", "Writer", "", "Some"};
  WriteFile(folders + "/none", FolderInput(RsrcInf(none), "fork", {}));
  WriteFile(folders + "/bad-name", FolderInput(RsrcInf(plain), "fork", {{"", picture}}));
  return 0;
}
