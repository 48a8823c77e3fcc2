// What several of vellix-bench's benchmarks build: shelves of book files,
// texts, and the words they are made of. Every maker is deterministic, so
// the fixtures are the same on every run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "harness.h"

namespace vellix::bench {

// The vellix tool, built beside this program.
std::string ToolPath();

// `s` in upper case, in lower case or as written, at random.
std::string WithCase(Rng& rng, std::string s);

// The fixed vocabularies of the sort benchmark: many books share each value.
struct Vocabulary {
  std::vector<std::string> categories, titles, authors;
};
Vocabulary MakeVocabulary();

// `count` book files of 2-4 KB with varied information areas, in the new
// folder `shelf`.
void MakeShelf(const std::string& shelf, size_t count);

// About `bytes` of text in lines of a few words, with some blank lines,
// markup characters and a non-ASCII word.
void MakeText(const std::string& path, size_t bytes);

// `count` short texts (a few hundred bytes each) in `folder`; their paths.
std::vector<std::string> MakeSmallTexts(const std::string& folder, size_t count);

}  // namespace vellix::bench
