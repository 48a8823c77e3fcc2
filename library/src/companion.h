// Where publishing puts the files it makes from a source: the document
// made from a text, the package made from a document. They go beside the
// source, so that the source's own references still count from their
// folder; into the user's cache folder when the source's folder cannot be
// written. A file the suite did not write is never replaced: its name is
// passed over for the next free one.
#pragma once

#include <string>

namespace vellix {

// Ends every companion file, so that the next publishing knows it may
// replace it. An XML comment, allowed after the root element.
inline constexpr char kCompanionMark[] = "<!-- made by Vellix Publisher from its source; made again each time -->";

// "<folder>/<stem><extension>", or "<stem>-2<extension>" and so on when that
// name holds a file the suite did not write; <folder> is the source's own,
// or the cache folder for it when the source's folder is read-only.
// Throws AutomationError when no such name is found or the cache folder
// cannot be made.
std::string CompanionPath(const std::string& source, const std::string& extension);

// Ends the file `path`, just written by the suite, with kCompanionMark.
void MarkAsCompanion(const std::string& path);

// True when `path` is a file that ends with kCompanionMark.
bool IsCompanionFile(const std::string& path);

// "$XDG_CACHE_HOME/vellix-publisher" (or "~/.cache/vellix-publisher").
std::string SuiteCacheFolder();

// Held while the files made from one source are written and a book is built
// from them, so that two processes publishing the same source (or "a.txt"
// and "a.md" of one folder) do not write over each other's page and package
// and build one package, with one book identifier, twice. An advisory lock
// on one of a fixed set of lock files in the cache folder, chosen by the
// source's folder and base name: sources that share a lock file by chance
// only wait for each other. Where no lock file can be made, nothing is held.
class CompanionLock {
 public:
  explicit CompanionLock(const std::string& source);
  ~CompanionLock();
  CompanionLock(const CompanionLock&) = delete;
  CompanionLock& operator=(const CompanionLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace vellix
