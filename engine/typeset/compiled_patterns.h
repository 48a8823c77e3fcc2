// Hyphenation patterns kept compiled in the cache folder. libhyphen builds
// its state machine from a pattern file each time it loads one, which for
// the big files (German: about a megabyte of patterns) costs seconds of
// CPU; the machine written out as it stands loads in milliseconds.
//
// A compiled file names the pattern file it was made from by path, size
// and modification time, and is used only while those still hold. It ends
// in a CRC-32 of everything before it; a file that is cut short, altered,
// stale or of another version is ignored and made again.
#pragma once

#include <hyphen.h>

#include <string>
#include <string_view>

namespace ikutil::typeset {

// $XDG_CACHE_HOME/vellix-publisher/hyphenation, or the same under
// ~/.cache; "" when neither can be named.
std::string PatternCacheFolder();

// What identifies the pattern file at `path` as it is now (path, size,
// modification time); "" when it cannot be read.
std::string PatternSourceStamp(const std::string& path);

// The loaded patterns as bytes, stamped with `stamp`.
std::string CompilePatterns(const HyphenDict& dict, std::string_view stamp);

// The patterns `bytes` hold, when they are a whole compiled file stamped
// with `stamp` whose indexes all stay inside their tables; else null. The
// result is freed with hnj_hyphen_free.
HyphenDict* LoadCompiledPatterns(std::string_view bytes, std::string_view stamp);

// The patterns of `path`: from their compiled file in `cache_folder` when
// it is current, else loaded by libhyphen and compiled there for the next
// process (quietly skipped when the folder cannot be written). Null when
// the pattern file cannot be read. An empty `cache_folder` caches nothing.
HyphenDict* LoadPatternsCached(const std::string& path, const std::string& cache_folder);

}  // namespace ikutil::typeset
