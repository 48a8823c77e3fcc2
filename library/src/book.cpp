#include "vellix/book.h"

#include <sys/stat.h>

#include <filesystem>

#include "book_format.h"
#include "fileio.h"
#include "vellix/codepage.h"
#include "vellix/error.h"
#include "vellix/helpers.h"

namespace vellix {
namespace {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string TrimSpaces(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

std::string DeviceField(std::string_view raw) {
  return EscapeMarkup(Cp1252ToUtf8(TrimSpaces(raw)));
}

}  // namespace

void Book::Load(const std::string& book_path) {
  path_.clear();
  extension_.clear();
  struct stat st;
  if (book_path.empty() || ::stat(book_path.c_str(), &st) != 0) return;
  if (S_ISREG(st.st_mode)) {
    path_ = book_path;
    extension_ = LowerAscii(ExtensionPart(book_path));
    if (extension_ == "imp") LoadBookFile();
    // Documents and packages keep the metadata they were given for now.
  } else if (S_ISDIR(st.st_mode) && book_path.size() >= 3 &&
             LowerAscii(book_path.substr(book_path.size() - 3)) == "res") {
    path_ = book_path;
    extension_ = "res";
    LoadBookFolder();
  }
}

void Book::SetInformation(const std::string& info_bytes) {
  auto s = CutInformationStrings(info_bytes);
  category_ = DeviceField(s[1]);
  title_ = DeviceField(s[3]);
  author_ = DeviceField(s[6] + " " + s[5] + " " + s[4]);
  book_id_ = DeviceField(s[0]);
}

void Book::LoadBookFile() {
  InputFile file(path_);
  SetInformation(ReadInformationStrings(file));
  file_name_ = FileNamePart(path_);
  if (file.size() > 0x7FFFFFFF) Raise(kOverflow);
  size_ = static_cast<int32_t>(file.size());
}

bool Book::LoadBookFolder() {
  std::string information_path = JoinPath(path_, "RSRC.INF");
  if (!IsFile(information_path)) return false;
  std::string information = ReadWholeFile(information_path);
  SetInformation(information.size() > kRsrcInfStringsOffset
                     ? information.substr(kRsrcInfStringsOffset)
                     : std::string());
  size_ = 0;
  pages_ = 0;
  encrypted_ = false;
  std::string full = std::filesystem::absolute(path_).lexically_normal().string();
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  path_ = full;
  return true;
}

void Book::Save(const std::string& destination) {
  std::string dest = destination;
  if (dest.empty()) dest = JoinPath(ParentPart(path_), BaseNamePart(path_) + ".imp");
  if (extension_ == "res") {
    WriteBookFile(path_, dest);
  } else if (extension_ == "htm" || extension_ == "html" || extension_ == "odf" ||
             extension_ == "opf") {
    Raise(kNotSupported, "Publishing documents and packages is not available in this build");
  }
  // Book files, containers, text and unknown kinds: nothing to write.
}

std::string Book::GetResourceString(const std::string& resource, int16_t id) const {
  InputFile file(path_);
  return Cp1252ToUtf8(ReadResourceString(file, ToCp1252OrRaise(resource), id));
}

Variant Book::ParseRSRC(const std::string& rsrc, std::string& source_id, std::string& source_type,
                        std::string& content_feed_id, int32_t& issue_number) const {
  SourceRecord r = ParseSourceRecord(ToCp1252OrRaise(rsrc));
  source_id = Cp1252ToUtf8(r.source_id);
  source_type = Cp1252ToUtf8(r.source_type);
  content_feed_id = Cp1252ToUtf8(r.content_feed_id);
  issue_number = r.issue_number;
  return Variant();
}

void Book::SetPath(const std::string& path) {
  path_ = path;
  InputFile file(path_);
  std::string record = ReadResourceString(file, "RSRC", 128);
  if (record.empty()) return;
  SourceRecord r = ParseSourceRecord(record);
  source_id_ = Cp1252ToUtf8(r.source_id);
  source_type_ = Cp1252ToUtf8(r.source_type);
  content_feed_id_ = Cp1252ToUtf8(r.content_feed_id);
  issue_number_ = r.issue_number;
}

Variant Book::Content() const {
  try {
    std::string bytes = ReadWholeFile(path_);
    return Variant(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  } catch (const std::exception&) {  // no such file, a folder, too large
    return Variant();
  }
}

}  // namespace vellix
