// Builds OEBFF containers byte by byte, laid out as the suite's container
// writer lays them out, plus the pieces to build ones that depart from it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ikpubx::fixtures {

inline constexpr char kBoundary[] = "ZEQTRVNPOLKHGDJXYIKL2000";
inline constexpr char kStartId[] = "packageIKL2000";

// Lines 1 to 5: MIME-Version and the multipart Content-Type.
std::string ContainerHeader();
// Lines 6 to 10: the empty line, the first delimiter, the package headers.
std::string PackageHeader();
// Lines 11 to 17: the line end that closes the previous body, a delimiter
// and one file's headers.
std::string FileHeader(const std::string& media_type, const std::string& id, const std::string& href);
// Lines 18 and 19: the end of the last body and the closing delimiter.
std::string Footer();

struct Item {
  std::string media_type;
  std::string id;
  std::string href;
  std::string content;
};

struct Container {
  std::string bytes;
  // Where each attached content begins: the package first, then the items.
  std::vector<int64_t> content_offsets;
};

Container MakeContainer(const std::string& package, const std::vector<Item>& items);

// The range the reader records for `content` attached at `offset`: one
// past the CR that follows the content, or, when the content ends in
// CR LF, one past that CR (the pair counts as the delimiter's empty line).
std::pair<int64_t, int64_t> ExpectedBodyRange(int64_t offset, const std::string& content);

// A fresh folder under $TMPDIR (or /tmp), removed with its content.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // Writes `bytes` to a file in the folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

}  // namespace ikpubx::fixtures
