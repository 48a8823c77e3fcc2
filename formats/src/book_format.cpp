#include "vellix/formats/book_format.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "binary.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/random.h"

namespace vellix::formats {
namespace {

constexpr size_t kHeaderSize = 24;
constexpr size_t kEntrySize = 20;
constexpr size_t kMaxSourceRecord = 223;  // one-byte fields in the string resource
constexpr char kDataFork[] = "DATA.FRK";
constexpr char kInformationFile[] = "RSRC.INF";

uint16_t U16(std::string_view s, size_t at) {
  return static_cast<uint16_t>((static_cast<unsigned char>(s[at]) << 8) | static_cast<unsigned char>(s[at + 1]));
}

uint32_t U32(std::string_view s, size_t at) {
  return (uint32_t{static_cast<unsigned char>(s[at])} << 24) | (uint32_t{static_cast<unsigned char>(s[at + 1])} << 16) |
         (uint32_t{static_cast<unsigned char>(s[at + 2])} << 8) | uint32_t{static_cast<unsigned char>(s[at + 3])};
}

std::string EntryHeader(std::string_view name, uint32_t size, std::string_view tag) {
  std::string entry;
  entry.reserve(kEntrySize);
  entry.append(name);
  entry.append(4, '\0');
  entry.append(UInt32BE(size));
  entry.append(tag);
  entry.append(4, '\0');
  return entry;
}

// The folder's own name as the book file records it.
std::string FolderNameOf(const std::string& folder) {
  std::filesystem::path p = std::filesystem::absolute(folder).lexically_normal();
  std::string name = p.filename().string();
  if (name.empty()) name = p.parent_path().filename().string();  // "x/RES/" form
  return name;
}

// The given `strings` in place of those of the first seven NUL-ended
// strings of `area`; the others and what follows them stay.
std::string WithStrings(std::string_view area, const std::array<std::optional<std::string>, 7>& strings,
                        const std::string& path) {
  std::string out;
  size_t start = 0;
  for (const std::optional<std::string>& text : strings) {
    size_t nul = area.find('\0', start);
    if (nul == std::string_view::npos)
      Raise(kInvalidArgument, path + ": the book information holds fewer than seven strings");
    if (text && text->find('\0') != std::string::npos)
      Raise(kInvalidArgument, path + ": a book information string holds NUL");
    out.append(text ? std::string_view(*text) : area.substr(start, nul - start)).push_back('\0');
    start = nul + 1;
  }
  out.append(area.substr(start));
  return out;
}

}  // namespace

std::array<std::string, 7> CutInformationStrings(std::string_view text) {
  std::array<std::string, 7> out;
  size_t start = 0;
  for (auto& s : out) {
    size_t nul = text.find('\0', start);
    if (nul == std::string_view::npos) Raise(kInvalidArgument);
    s.assign(text.substr(start, nul - start));
    start = nul + 1;
  }
  return out;
}

std::string AuthorOf(const std::array<std::string, 7>& s) { return TrimSpaces(s[6] + " " + s[5] + " " + s[4]); }

int16_t InformationLength(const InputFile& file) {
  std::string head = file.ReadUpTo(0, kHeaderSize);
  if (head.size() < kHeaderSize) Raise(kInvalidArgument, file.path());
  if (static_cast<unsigned char>(head[22]) >= 128) Raise(kOverflow, file.path());
  return static_cast<int16_t>(U16(head, 22));
}

std::string ReadInformationStrings(const InputFile& file) {
  // One read usually brings the header and the information strings.
  constexpr size_t kFirstRead = 512;
  std::string head = file.ReadUpTo(0, kFirstRead);
  if (head.size() < kHeaderSize) Raise(kInvalidArgument, file.path());
  if (static_cast<unsigned char>(head[22]) >= 128) Raise(kOverflow, file.path());
  size_t length = U16(head, 22);
  if (kBookInfoStringsOffset + length <= head.size() || head.size() == file.size())
    return head.size() > kBookInfoStringsOffset ? head.substr(kBookInfoStringsOffset, length) : "";
  return file.ReadUpTo(kBookInfoStringsOffset, length);
}

std::string BookIdFromInformation(std::string_view info) {
  size_t nul = info.find('\0');
  if (nul == std::string_view::npos) Raise(kInvalidArgument);
  std::string_view id = info.substr(0, nul);
  size_t c1 = id.find(':');
  if (c1 == std::string_view::npos) return std::string(id);
  size_t c2 = id.find(':', c1 + 1);
  if (c2 != std::string_view::npos) return std::string(id.substr(c2 + 1));
  if (id.substr(0, c1) == "None") return std::string(id.substr(c1 + 1));
  return std::string(id);
}

std::string BookIdOfFile(const std::string& path) {
  return NamingFile(path, [&] {
    InputFile file(path);
    return BookIdFromInformation(ReadInformationStrings(file));
  });
}

std::string ReadResourceString(const InputFile& file, std::string_view tag, int id) {
  std::string head = file.ReadUpTo(0, kHeaderSize);
  if (head.size() < 2 || U16(head, 0) != 2) return "";
  if (head.size() < kHeaderSize) Raise(kInvalidArgument, file.path());
  uint64_t count = U16(head, 18);
  uint64_t directory = kHeaderSize + uint64_t{U16(head, 22)} + U16(head, 20);
  std::string entries = file.ReadAt(directory, static_cast<size_t>(kEntrySize * count));
  uint64_t block = directory + kEntrySize * count;
  uint32_t size = 0;
  bool found = false;
  for (uint64_t i = 0; i < count; ++i) {
    std::string_view entry = std::string_view(entries).substr(i * kEntrySize, kEntrySize);
    size = U32(entry, 8);
    if (entry.substr(12, 4) == tag) {
      found = true;
      break;
    }
    block += kEntrySize + size;
  }
  if (!found) return "";
  std::string resource = file.ReadAt(block + kEntrySize, size);
  if (resource.size() < 2) Raise(kSubscriptOutOfRange, file.path());
  if (U16(resource, 0) != 1) return "";
  if (resource.size() < 14) Raise(kSubscriptOutOfRange, file.path());
  uint64_t table = U32(resource, 10);
  if (table >= resource.size()) Raise(kSubscriptOutOfRange, file.path());
  for (uint64_t e = table; e < resource.size(); e += 12) {
    if (e + 10 > resource.size()) Raise(kSubscriptOutOfRange, file.path());
    if (U16(resource, e) != id) continue;
    uint64_t length = U32(resource, e + 2);
    uint64_t offset = U32(resource, e + 6);
    if (offset > resource.size() || length > resource.size() - offset) Raise(kSubscriptOutOfRange, file.path());
    return resource.substr(offset, length);
  }
  return "";
}

SourceRecord ParseSourceRecord(std::string_view record) {
  SourceRecord out;
  size_t c1 = record.find(':');
  if (c1 == std::string_view::npos) Raise(kInvalidArgument);
  if (record.substr(0, c1) == "None") {
    out.source_id = "3";
    out.source_type = "B";
    out.issue_number = -1;
    return out;
  }
  size_t c2 = record.find(':', c1 + 1);
  if (c2 == std::string_view::npos) Raise(kInvalidArgument);
  out.source_id.assign(record.substr(0, c1));
  out.source_type.assign(record.substr(c1 + 1, c2 - c1 - 1));
  static constexpr char kMarker[] = {0, 0, 0, 2};
  size_t marker = record.find(std::string_view(kMarker, 4));
  if (marker == std::string_view::npos) return out;  // no issue: not a periodical
  if (record.size() < marker + 8) Raise(kInvalidArgument);
  uint32_t issue = U32(record, marker + 4);
  if (issue == 0xFFFFFFFFu) {
    out.issue_number = -1;
  } else if (issue > 0x7FFFFFFFu) {
    Raise(kOverflow);
  } else {
    out.issue_number = static_cast<int32_t>(issue);
  }
  std::string_view feed = record.substr(marker + 8);
  out.content_feed_id.assign(feed.substr(0, feed.find('\0')));
  return out;
}

SplitInfo SplitInformation(std::string_view buffer) {
  if (buffer.size() < 24) Raise(kInvalidArgument);
  std::string_view head = buffer.substr(0, 24);
  std::string_view s = buffer.substr(24);
  size_t p0 = s.find('\0');
  size_t c1 = s.find(':');
  size_t c2 = c1 == std::string_view::npos ? c1 : s.find(':', c1 + 1);
  SplitInfo out;
  if (p0 == std::string_view::npos || c1 == std::string_view::npos || c2 == std::string_view::npos || c1 >= p0 ||
      c2 >= p0) {
    out.information.assign(head).append(s);
    return out;
  }
  out.source_record.assign(s.substr(0, c2 + 1));
  size_t p7 = p0;
  for (int k = 0; k < 6 && p7 != std::string_view::npos; ++k) p7 = s.find('\0', p7 + 1);
  if (p7 == std::string_view::npos) Raise(kInvalidArgument);
  if (p7 == s.size() - 1) {
    out.information.assign(head).append(s.substr(c2 + 1));
  } else {
    out.source_record.append(s.substr(p7 + 1));
    out.information.assign(head).append(s.substr(c2 + 1, p7 - c2));
  }
  return out;
}

std::string NewResourceName(const std::string& folder) {
  while (true) {
    std::string name;
    for (int i = 0; i < 4; ++i) name += RandomCapital();
    struct stat st;
    if (::lstat((std::filesystem::path(folder) / name).string().c_str(), &st) != 0) return name;
  }
}

void WriteStringResource(const std::string& folder, const std::string& name, std::string_view text) {
  size_t n = text.size();
  if (n > kMaxSourceRecord) Raise(kOverflow, (std::filesystem::path(folder) / name).string());
  std::string buffer(n + 44, '\0');
  buffer[1] = 1;
  buffer.replace(2, 4, "RSRC");
  buffer[13] = static_cast<char>(n + 32);
  buffer.replace(32, n, text);
  buffer[n + 33] = static_cast<char>(128);
  buffer[n + 37] = static_cast<char>(n);
  buffer[n + 41] = 32;
  AtomicFileWriter out((std::filesystem::path(folder) / name).string());
  out.Write(buffer);
  out.Commit();
}

namespace {

struct Entry {
  std::string name;       // file name in the folder
  std::string disk_name;  // the four bytes recorded in the book file
  uint64_t size = 0;
  std::string tag;
};

// Everything the book file's directory needs, checked before anything is
// written: a refused folder changes nothing.
std::vector<Entry> ReadEntries(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<Entry> entries;
  for (const std::string& name : names) {
    if (name == kInformationFile) continue;
    Entry e;
    e.name = name;
    bool data_fork = name == kDataFork;
    if (data_fork) {
      e.disk_name = "    ";
    } else {
      auto bytes = Utf8ToCp1252(name);
      if (!bytes || bytes->size() != 4)
        Raise(kInvalidArgument,
              (std::filesystem::path(folder) / name).string() + " is not a four-character resource name");
      e.disk_name = *bytes;
    }
    InputFile file((std::filesystem::path(folder) / name).string());
    e.size = file.size();
    if (e.size == 0) Raise(kInvalidArgument, file.path() + " is empty");
    if (e.size > 0xFFFFFFFFu) Raise(kOverflow, file.path());
    if (data_fork) {
      e.tag = "    ";
    } else {
      e.tag = file.ReadUpTo(2, 4);
      e.tag.resize(4, '\0');
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace

void WriteBookFile(const std::string& folder, const std::string& dest) {
  // Refused before the source record below adds a file to the folder.
  CheckWritableTarget(dest);
  std::vector<std::string> names = ListFolder(folder, EntryKind::kFile);
  std::vector<std::string> inputs;
  for (const std::string& name : names) inputs.push_back((std::filesystem::path(folder) / name).string());
  RefuseOverwritingInput(dest, inputs);
  bool has_information = false;
  for (const auto& n : names) has_information = has_information || n == kInformationFile;
  const std::string information_path = (std::filesystem::path(folder) / kInformationFile).string();
  if (!has_information) Raise(kFileNotFound, information_path);
  std::string information_file = ReadWholeFile(information_path);
  if (information_file.size() < kRsrcInfStringsOffset) Raise(kInvalidArgument, information_path);
  SplitInfo split =
      NamingFile(information_path, [&] { return SplitInformation(std::string_view(information_file).substr(12)); });
  std::vector<Entry> entries = ReadEntries(folder, names);
  if (split.information.size() > 0x7FFF) Raise(kOverflow, information_path);
  std::string folder_name = NamingFile(folder, [&] { return ToCp1252OrRaise(FolderNameOf(folder)); });
  if (folder_name.size() > 0xFFFF) Raise(kOverflow, folder);

  if (!split.source_record.empty() && FindResourceFile(folder, "RSRC").empty()) {
    if (entries.size() + 1 > 0xFFFF) Raise(kOverflow, folder);
    std::string name = NewResourceName(folder);
    WriteStringResource(folder, name, split.source_record);
    entries = ReadEntries(folder, ListFolder(folder, EntryKind::kFile));
  }
  if (entries.size() > 0xFFFF) Raise(kOverflow, folder);

  std::vector<BookFilePart> parts;
  parts.reserve(entries.size());
  for (Entry& e : entries) {
    BookFilePart part;
    part.name = std::move(e.disk_name);
    part.tag = std::move(e.tag);
    part.path = (std::filesystem::path(folder) / e.name).string();
    part.size = e.size;
    parts.push_back(std::move(part));
  }
  WriteBookFileParts(dest, split.information, folder_name, parts);
}

void WriteBookFileParts(const std::string& dest, std::string_view information, std::string_view folder_name,
                        const std::vector<BookFilePart>& parts) {
  if (information.size() < 24) Raise(kInvalidArgument, dest + ": the information area is shorter than 24 bytes");
  if (information.size() > 0x7FFF) Raise(kOverflow, dest + ": the information area is longer than 32767 bytes");
  if (folder_name.size() > 0xFFFF) Raise(kOverflow, dest + ": the folder name is longer than 65535 bytes");
  if (parts.size() > 0xFFFF) Raise(kOverflow, dest + ": more than 65535 entries");
  for (const BookFilePart& part : parts) {
    if (part.name.size() != 4 || part.tag.size() != 4)
      Raise(kInvalidArgument, dest + ": an entry name or type tag is not four bytes");
    if (part.DataSize() > 0xFFFFFFFFu) Raise(kOverflow, dest + ": an entry is larger than 4 GiB");
  }

  AtomicFileWriter out(dest);
  std::string header;
  header.append(UInt16BE(2)).append("BOOKVREN").append(8, '\0');
  header.append(UInt16BE(static_cast<uint16_t>(parts.size())));
  header.append(UInt16BE(static_cast<uint16_t>(folder_name.size())));
  header.append(UInt16BE(static_cast<uint16_t>(information.size())));
  out.Write(header);
  out.Write(information);
  out.Write(folder_name);
  for (const BookFilePart& p : parts) out.Write(EntryHeader(p.name, static_cast<uint32_t>(p.DataSize()), p.tag));
  for (const BookFilePart& p : parts) {
    out.Write(EntryHeader(p.name, static_cast<uint32_t>(p.DataSize()), p.tag));
    if (p.path.empty()) {
      out.Write(p.bytes);
    } else {
      InputFile file(p.path);
      out.CopyFrom(file, p.size);
    }
  }
  out.Commit();
}

void ReplaceInformationStrings(const std::string& path, const std::array<std::optional<std::string>, 7>& strings) {
  if (IsFolder(path)) {
    const std::string information = (std::filesystem::path(path) / kInformationFile).string();
    const std::string bytes = ReadWholeFile(information);
    if (bytes.size() < kRsrcInfStringsOffset) Raise(kInvalidArgument, information);
    std::string rewritten = bytes.substr(0, kRsrcInfStringsOffset) +
                            WithStrings(std::string_view(bytes).substr(kRsrcInfStringsOffset), strings, information);
    AtomicFileWriter out(information);
    out.Write(rewritten);
    out.Commit();
    return;
  }
  InputFile file(path);
  std::string header = file.ReadUpTo(0, kHeaderSize);
  if (header.size() < kHeaderSize || header.compare(0, 10, std::string("\0\2BOOKVREN", 10)) != 0)
    Raise(kInvalidArgument, path + ": not a book file");
  const size_t length = U16(header, 22);
  constexpr size_t kCarried = kBookInfoStringsOffset - kHeaderSize;
  if (length < kCarried || length > 0x7FFF) Raise(kInvalidArgument, path + ": the information area's length is wrong");
  const std::string area = file.ReadAt(kHeaderSize, length);
  std::string rewritten =
      area.substr(0, kCarried) + WithStrings(std::string_view(area).substr(kCarried), strings, path);
  if (rewritten.size() > 0x7FFF) Raise(kOverflow, path + ": the book information is longer than 32767 bytes");
  header.replace(22, 2, UInt16BE(static_cast<uint16_t>(rewritten.size())));

  AtomicFileWriter out(path);
  out.Write(header);
  out.Write(rewritten);
  // The rest is copied as it is, a piece at a time: a book may be large.
  constexpr uint64_t kPiece = uint64_t{1} << 20;
  for (uint64_t at = kHeaderSize + length; at < file.size(); at += kPiece)
    out.Write(file.ReadAt(at, static_cast<size_t>(std::min(kPiece, file.size() - at))));
  out.Commit();
}

}  // namespace vellix::formats
