// Shared by the document and container fuzz targets: a scratch folder made
// once per process and removed at exit, and a loud failure.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzz {

[[noreturn]] inline void Fail(const char* target, const char* what) {
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

// Never destroyed, so the exit handler that removes it can still read it.
inline const std::string& Scratch() {
  static const std::string* folder = [] {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vellix-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("fuzz", "mkdtemp failed");
    auto* path = new std::string(pattern);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Scratch(), ec);
    });
    return path;
  }();
  return *folder;
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
    Fail("fuzz", "cannot write a scratch file");
}

}  // namespace fuzz
