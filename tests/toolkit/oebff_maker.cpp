#include "oebff_maker.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ikpubx::fixtures {

namespace {
const std::string kCrLf = "\r\n";
const std::string kDelimiter = std::string("--") + kBoundary;
}  // namespace

std::string ContainerHeader() {
  return "MIME-Version: 1.0" + kCrLf +                                 //
         "Content-Type: multipart/related;" + kCrLf +                  //
         "\ttype=\"application/x-oeb1\";" + kCrLf +                    //
         "\tstart=\"" + kStartId + "\";" + kCrLf +                     //
         "\tboundary=\"" + kBoundary + "\"" + kCrLf;
}

std::string PackageHeader() {
  return kCrLf + kDelimiter + kCrLf + "Content-Type: text/xml" + kCrLf + "Content-ID: " + kStartId + kCrLf + kCrLf;
}

std::string FileHeader(const std::string& media_type, const std::string& id, const std::string& href) {
  return kCrLf + kDelimiter + kCrLf +                         //
         "Content-Type: " + media_type + kCrLf +              //
         "Content-OEB-ID: " + id + kCrLf +                    //
         "Content-Disposition: href=\"" + href + "\"" + kCrLf +  //
         "Content-Transfer-Encoding: binary" + kCrLf + kCrLf;
}

std::string Footer() { return kCrLf + kDelimiter + "--" + kCrLf; }

Container MakeContainer(const std::string& package, const std::vector<Item>& items) {
  Container c;
  c.bytes = ContainerHeader() + PackageHeader();
  c.content_offsets.push_back(static_cast<int64_t>(c.bytes.size()));
  c.bytes += package;
  for (const Item& item : items) {
    c.bytes += FileHeader(item.media_type, item.id, item.href);
    c.content_offsets.push_back(static_cast<int64_t>(c.bytes.size()));
    c.bytes += item.content;
  }
  c.bytes += Footer();
  return c;
}

std::pair<int64_t, int64_t> ExpectedBodyRange(int64_t offset, const std::string& content) {
  int64_t length = static_cast<int64_t>(content.size());
  if (content.size() >= 2 && content.compare(content.size() - 2, 2, kCrLf) == 0) length -= 2;
  return {offset, offset + length + 1};
}

TempFolder::TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/oebff-test.XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file);
  return file;
}

}  // namespace ikpubx::fixtures
