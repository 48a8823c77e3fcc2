#include "bench_fixtures.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "book_maker.h"

namespace vellix::bench {

namespace fx = vellix::fixtures;

namespace {

const char* const kCategoryWords[] = {"Fiction",   "Science",   "History",  "News",   "Cooking",   "Poetry", "Travel",
                                      "Art",       "Biography", "Children", "Drama",  "Economics", "Essays", "Fantasy",
                                      "Gardening", "Law",       "Music",    "Nature", "Religion",  "Sports"};
const char* const kTitleWords[] = {"Silent", "Crimson", "Hidden", "Northern", "Last",  "Broken",
                                   "Golden", "Winter",  "Lost",   "Distant",  "Quiet", "Wild"};
const char* const kTitleNouns[] = {"River",  "Garden", "City",    "Voyage",  "Letters", "Empire",
                                   "Island", "Harbor", "Machine", "Orchard", "Night",   "Crown",
                                   "Storm",  "Atlas",  "Mirror",  "Road",    "Kingdom"};
const char* const kFirstNames[] = {"Anna",  "Boris", "Clara",   "David", "Elena", "Frank", "Greta",
                                   "Henri", "Ines",  "Jonas",   "Karin", "Lukas", "Maria", "Nils",
                                   "Olga",  "Pavel", "Quentin", "Rosa",  "Sven",  "Tomas"};
const char* const kLastNames[] = {"Adler", "Berg",   "Castro", "Dahl", "Engel",  "Falk",  "Gruber",        "Holm",
                                  "Ibsen", "Jansen", "Keller", "Lind", "Moreau", "Novak", "\xC3\x96stberg"};

template <size_t N>
const char* Pick(Rng& rng, const char* const (&words)[N]) {
  return words[rng.Below(N)];
}

}  // namespace

std::string ToolPath() {
  std::string tool = (std::filesystem::path(SelfPath()).parent_path() / "vellix").string();
  if (::access(tool.c_str(), X_OK) != 0) Fail("the vellix tool is not built: " + tool);
  return tool;
}

std::string WithCase(Rng& rng, std::string s) {
  switch (rng.Below(4)) {
    case 0:
      for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      break;
    case 1:
      for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      break;
    default:
      break;  // as written
  }
  return s;
}

Vocabulary MakeVocabulary() {
  Vocabulary v;
  for (const char* c : kCategoryWords) v.categories.push_back(c);
  for (int i = 0; v.titles.size() < 200; ++i) {
    std::string t = std::string("The ") + kTitleWords[i % 12] + " " + kTitleNouns[(i / 12) % 17];
    if (i >= 12 * 17) t += " " + std::to_string(i);
    v.titles.push_back(t);
  }
  for (int i = 0; v.authors.size() < 300; ++i)
    v.authors.push_back(std::string(kFirstNames[i % 20]) + " " + kLastNames[(i / 20) % 15]);
  return v;
}

// `count` book files of 2-4 KB with varied information areas.
void MakeShelf(const std::string& shelf, size_t count) {
  std::filesystem::create_directory(shelf);
  Rng rng(42);
  for (size_t i = 0; i < count; ++i) {
    fx::Info info;
    info.id = "BK" + std::to_string(100000 + i);
    info.category = WithCase(rng, Pick(rng, kCategoryWords));
    info.title =
        std::string(Pick(rng, kTitleWords)) + " " + Pick(rng, kTitleNouns) + " " + std::to_string(rng.Below(1000));
    info.author_first = Pick(rng, kFirstNames);
    info.author_last = Pick(rng, kLastNames);
    if (rng.Below(3) == 0) info.author_middle = std::string(1, static_cast<char>('A' + rng.Below(26))) + ".";
    std::string fork = RandomBytes(rng, 2048 + rng.Below(2049));
    char name[32];
    std::snprintf(name, sizeof name, "%c%c%c%05zu.imp", static_cast<char>('A' + rng.Below(26)),
                  static_cast<char>('A' + rng.Below(26)), static_cast<char>('A' + rng.Below(26)), i);
    WriteWholeFile(shelf + "/" + name, fx::SimpleBookFile(info, "", fork));
  }
}

// About `bytes` of text in lines of a few words, with some blank lines,
// markup characters and a non-ASCII word.
void MakeText(const std::string& path, size_t bytes) {
  Rng rng(7);
  std::string text;
  static const char* const kWords[] = {"the", "reader", "turned",  "a",          "page", "caf\xC3\xA9",
                                       "<b>", "&",      "quietly", "\"quoted\"", "and",  "night"};
  while (text.size() < bytes) {
    size_t words = 4 + rng.Below(12);
    for (size_t w = 0; w < words; ++w) {
      text += kWords[rng.Below(12)];
      text += ' ';
    }
    text += rng.Below(6) == 0 ? "\n\n" : "\n";
  }
  WriteWholeFile(path, text);
}

// `count` short texts (a few hundred bytes each) in `folder`; their paths.
std::vector<std::string> MakeSmallTexts(const std::string& folder, size_t count) {
  std::filesystem::create_directories(folder);
  Rng rng(7);
  std::vector<std::string> paths;
  for (size_t i = 0; i < count; ++i) {
    std::string text;
    for (int line = 0; line < 6; ++line) {
      text += Pick(rng, kTitleWords);
      text += " ";
      text += Pick(rng, kTitleNouns);
      text += " of " + std::to_string(rng.Below(1000)) + " lines, said " + Pick(rng, kFirstNames) + ".\n";
    }
    char name[32];
    std::snprintf(name, sizeof name, "note%04zu.txt", i);
    paths.push_back(folder + "/" + name);
    WriteWholeFile(paths.back(), text);
  }
  return paths;
}

}  // namespace vellix::bench
