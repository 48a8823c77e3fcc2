// The benchmarks of vellix-bench, each in a file of its own, and the roads
// that vellix-bench also runs as processes of their own (see ChildRun in
// vellix_bench.cpp). main picks the sizes; each benchmark prints its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellix::bench {

// shelf_load_bench.cpp: loading a shelf and sorting its books.
void BenchLoad(size_t count, int reps);
void BenchSort(size_t count, int reps);
// The load baseline: lists `folder` and reads the header and information
// area of each file with plain system calls; returns the files read.
size_t PosixScan(const std::string& folder, uint64_t& checksum);

// text_bench.cpp: a text converted to a document.
void BenchText(size_t bytes, int reps);
// The text baseline: every line of `from` copied to `to` with CR LF.
void CopyLines(const std::string& from, const std::string& to);

// package_bench.cpp: a package made of a document.
void BenchPackage(size_t elements, int reps);

// pack_bench.cpp: a package's files packed into one container.
void BenchPack(size_t files, size_t each, int reps);

// convert_bench.cpp: a book folder loaded and saved as a book file.
void BenchConvert(size_t data_fork_bytes, size_t resource_bytes, int reps);

// memory_bench.cpp: the tool's peak memory.
void BenchMemory(size_t books, size_t text_bytes, int reps);

// publish_bench.cpp: a text published as a device book.
void BenchPublish(size_t bytes, int reps, bool with_peer);
// The whole road of the text `txt` into the device book `folder`/out/BOOK.imp.
void PublishText(const std::string& txt, const std::string& folder);

// shelfadd_bench.cpp: texts added to a shelf.
void BenchShelfAdd(size_t count, int reps, bool with_peer);

// view_bench.cpp: a published book drawn and paged through, against mutool.
void BenchView(size_t bytes, int reps, bool with_peer);
void BenchProof(size_t open_bytes, int32_t pages, int reps);

}  // namespace vellix::bench
