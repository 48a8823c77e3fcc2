#include "vellix/formats/ocf_container.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <pugixml.hpp>

#include "vellix/formats/ascii.h"
#include "vellix/formats/error.h"
#include "vellix/formats/xml.h"

namespace vellix::formats {
namespace {

constexpr std::string_view kMimetype = "application/epub+zip";
constexpr char kContainerXml[] = "META-INF/container.xml";
constexpr char kEncryptionXml[] = "META-INF/encryption.xml";

struct ZipCloser {
  void operator()(zip_t* zip) const { zip_discard(zip); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

// Why an entry name may not be used, or "" when it may.
std::string NameProblem(std::string_view name) {
  if (name.empty()) return "has an empty name";
  if (name.front() == '/') return "has an absolute name";
  if (name.size() >= 2 && name[1] == ':') return "has an absolute name";
  for (unsigned char c : name) {
    if (c == '\\') return "has a backslash in its name";
    if (c < 0x20 || c == 0x7F) return "has a control character in its name";
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return "climbs out of the book with \"..\"";
    start = end + 1;
  }
  return "";
}

bool IsSymbolicLink(zip_t* zip, zip_uint64_t index) {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) != 0) return false;
  return system == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
}

// The first name the central directory lists twice, read straight from the
// archive's bytes ("" when none, or when the directory cannot be walked):
// libzip refuses such an archive without saying which name it was.
std::string RepeatedName(std::string_view zip) {
  auto u16 = [&](size_t at) { return uint32_t(uint8_t(zip[at])) | uint32_t(uint8_t(zip[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (zip.size() < 22) return "";
  size_t end = std::string::npos;
  for (size_t at = zip.size() - 22, stop = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;; --at) {
    if (u32(at) == 0x06054b50) {
      end = at;
      break;
    }
    if (at == stop) break;
  }
  if (end == std::string::npos) return "";
  size_t at = u32(end + 16), count = u16(end + 10);
  std::set<std::string_view> seen;
  for (size_t i = 0; i < count; ++i) {
    if (at + 46 > zip.size() || u32(at) != 0x02014b50) return "";
    size_t name_size = u16(at + 28), extra = u16(at + 30), comment = u16(at + 32);
    if (at + 46 + name_size > zip.size()) return "";
    std::string_view name = zip.substr(at + 46, name_size);
    if (!seen.insert(name).second) return std::string(name);
    at += 46 + name_size + extra + comment;
  }
  return "";
}

std::string ReadAll(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "";
  std::string out;
  char buffer[65536];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, got);
  std::fclose(f);
  return out;
}

std::string RepeatedNameError(const std::string& book, std::string_view zip) {
  std::string name = RepeatedName(zip);
  return name.empty() ? "" : book + ": the entry " + Quoted(name) + " appears twice";
}

}  // namespace

bool IsFontObfuscation(std::string_view algorithm) {
  return algorithm == "http://www.idpf.org/2008/embedding" || algorithm == "http://ns.adobe.com/pdf/enc#RC";
}

std::string OcfContainer::PackageFolder() const {
  size_t slash = package_path_.rfind('/');
  return slash == std::string::npos ? "" : package_path_.substr(0, slash + 1);
}

std::optional<std::string_view> OcfContainer::Read(const std::string& name) const {
  auto it = entries_.find(name);
  if (it == entries_.end()) return std::nullopt;
  return std::string_view(it->second);
}

struct OcfReader {
  OcfReader(zip_t* z, const std::string& b, const OcfLimits& l) : zip(z), book(b), limits(l) {}
  zip_t* zip;
  const std::string& book;
  const OcfLimits& limits;
  std::unique_ptr<OcfContainer> container = std::make_unique<OcfContainer>();
  std::string error;
  bool encrypted = false;

  bool Encrypted(std::string message) {
    encrypted = true;
    return Fail(std::move(message));
  }
  bool Fail(std::string message) {
    error = book + ": " + std::move(message);
    return false;
  }
  bool FailEntry(std::string_view name, const std::string& why) {
    return Fail("the entry " + Quoted(name) + " " + why);
  }

  // Reads one entry whole, counting every byte inflated against the limits.
  bool ReadEntry(zip_uint64_t index, const std::string& name, std::string& out) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip, index, 0, &st) != 0) return FailEntry(name, "cannot be read");
    uint64_t left_total = limits.max_total_bytes - std::min(limits.max_total_bytes, container->expanded_bytes_);
    uint64_t cap = std::min(limits.max_entry_bytes, left_total);
    auto too_large = [&] {
      return FailEntry(name, cap == limits.max_entry_bytes
                                 ? "expands past " + std::to_string(limits.max_entry_bytes) + " bytes"
                                 : "makes the book expand past " + std::to_string(limits.max_total_bytes) + " bytes");
    };
    if ((st.valid & ZIP_STAT_SIZE) && st.size > cap) return too_large();
    std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(zip, index, 0));
    if (!file) return FailEntry(name, std::string("cannot be read: ") + zip_strerror(zip));
    out.clear();
    if (st.valid & ZIP_STAT_SIZE) out.reserve(static_cast<size_t>(st.size));
    char buffer[65536];
    for (;;) {
      zip_int64_t got = zip_fread(file.get(), buffer, sizeof buffer);
      if (got < 0) return FailEntry(name, std::string("is damaged: ") + zip_file_strerror(file.get()));
      if (got == 0) break;
      if (out.size() + static_cast<uint64_t>(got) > cap) return too_large();
      out.append(buffer, static_cast<size_t>(got));
    }
    container->expanded_bytes_ += out.size();
    return true;
  }

  bool ReadContainerXml(const std::string& text) {
    XmlDocument doc;
    LoadXmlText(text, doc);
    if (!doc.parsed) return Fail(std::string(kContainerXml) + " is not well-formed XML");
    for (pugi::xml_node rootfiles : doc.Root().children()) {
      if (LocalName(rootfiles) != "rootfiles") continue;
      for (pugi::xml_node rootfile : rootfiles.children()) {
        if (LocalName(rootfile) != "rootfile") continue;
        std::string media = rootfile.attribute("media-type").value();
        if (!media.empty() && media != "application/oebps-package+xml") continue;
        std::string path = PercentDecoded(TrimAscii(rootfile.attribute("full-path").value(), kXmlBlanks));
        if (path.empty()) continue;
        container->package_path_ = path;
        return true;
      }
    }
    return Fail(std::string(kContainerXml) + " names no package document");
  }

  // Marks obfuscated fonts; refuses any other encrypted resource.
  bool ReadEncryptionXml(const std::string& text) {
    XmlDocument doc;
    LoadXmlText(text, doc);
    if (!doc.parsed) return Fail(std::string(kEncryptionXml) + " is not well-formed XML");
    for (pugi::xml_node data : doc.Root().children()) {
      if (LocalName(data) != "EncryptedData" && LocalName(data) != "EncryptedKey") continue;
      std::string algorithm, uri;
      for (pugi::xml_node child : data.children()) {
        if (LocalName(child) == "EncryptionMethod") algorithm = child.attribute("Algorithm").value();
        if (LocalName(child) == "CipherData")
          for (pugi::xml_node reference : child.children())
            if (LocalName(reference) == "CipherReference") uri = PercentDecoded(reference.attribute("URI").value());
      }
      if (LocalName(data) == "EncryptedKey" || !IsFontObfuscation(algorithm))
        return Encrypted(uri.empty() ? "is encrypted" : "is encrypted (" + Quoted(uri) + ")");
      container->obfuscated_fonts_.insert(uri);
    }
    return true;
  }

  bool Read() {
    zip_int64_t count = zip_get_num_entries(zip, 0);
    if (count < 0) return Fail("is not a readable zip archive");
    if (static_cast<uint64_t>(count) > limits.max_entries)
      return Fail("holds " + std::to_string(count) + " entries, more than " + std::to_string(limits.max_entries));

    // Every name is checked before any content is read.
    std::set<std::string, std::less<>> seen;
    std::vector<std::pair<zip_uint64_t, std::string>> files;
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
      const char* raw = zip_get_name(zip, i, ZIP_FL_ENC_GUESS);
      if (!raw) return Fail("entry " + std::to_string(i + 1) + " has no readable name");
      std::string name = raw;
      if (std::string why = NameProblem(name); !why.empty()) return FailEntry(name, why);
      if (!seen.insert(name).second) return FailEntry(name, "appears twice");
      if (IsSymbolicLink(zip, i)) return FailEntry(name, "is a symbolic link");
      zip_stat_t st;
      zip_stat_init(&st);
      if (zip_stat_index(zip, i, 0, &st) != 0) return FailEntry(name, "cannot be read");
      if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return Encrypted("is encrypted (" + Quoted(name) + ")");
      if (name.back() == '/') continue;  // a folder
      files.emplace_back(i, name);
    }

    auto find = [&](std::string_view wanted) -> const std::pair<zip_uint64_t, std::string>* {
      for (const auto& file : files)
        if (file.second == wanted) return &file;
      return nullptr;
    };
    std::string text;
    if (const auto* mimetype = find("mimetype")) {
      if (!ReadEntry(mimetype->first, mimetype->second, text)) return false;
      if (TrimmedAscii(text, kXmlBlanks) != kMimetype)
        return Fail("is not an EPUB book: its mimetype is " + Quoted(TrimmedAscii(text, kXmlBlanks)));
    }
    const auto* container_xml = find(kContainerXml);
    if (!container_xml) return Fail(std::string("is not an EPUB book: it has no ") + kContainerXml);
    if (!ReadEntry(container_xml->first, container_xml->second, text) || !ReadContainerXml(text)) return false;
    if (const auto* encryption = find(kEncryptionXml))
      if (!ReadEntry(encryption->first, encryption->second, text) || !ReadEncryptionXml(text)) return false;
    if (!find(container->package_path_))
      return Fail("the package document " + Quoted(container->package_path_) + " is missing");

    container->expanded_bytes_ = 0;
    for (const auto& [index, name] : files) {
      if (container->obfuscated_fonts_.count(name)) continue;
      if (limits.package_only && name != container->package_path_) continue;
      std::string bytes;
      if (!ReadEntry(index, name, bytes)) return false;
      container->names_.push_back(name);
      container->entries_.emplace(name, std::move(bytes));
    }
    return true;
  }
};

namespace {

OcfOpenResult Finish(zip_t* zip, const std::string& book, const OcfLimits& limits) {
  ZipHandle handle(zip);
  OcfReader reader(zip, book, limits);
  OcfOpenResult result;
  if (reader.Read())
    result.container = std::move(reader.container);
  else
    result.error = reader.error;
  result.encrypted = reader.encrypted;
  return result;
}

std::string OpenError(const std::string& book, zip_error_t* error) {
  std::string why = zip_error_strerror(error);
  zip_error_fini(error);
  return book + ": is not a readable zip archive (" + why + ")";
}

}  // namespace

std::string BuildOcfArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!buffer) Raise(kOutOfMemory, "EPUB container");
  zip_source_keep(buffer);
  std::unique_ptr<zip_source_t, void (*)(zip_source_t*)> keep(buffer, zip_source_free);
  zip_t* zip = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (!zip) Raise(kDeviceIOError, std::string("EPUB container: ") + zip_error_strerror(&error));
  auto add = [&](const std::string& name, const std::string& bytes, bool store) {
    zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
    zip_int64_t index = source ? zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      std::string why = zip_strerror(zip);
      zip_discard(zip);
      Raise(kDeviceIOError, "EPUB container: " + name + ": " + why);
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 6);
  };
  static const std::string kMimetypeText(kMimetype);
  add("mimetype", kMimetypeText, true);
  for (const auto& [name, bytes] : entries) add(name, bytes, false);
  if (zip_close(zip) != 0) {
    std::string why = zip_strerror(zip);
    zip_discard(zip);
    Raise(kDeviceIOError, "EPUB container: " + why);
  }
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_source_stat(buffer, &st) != 0 || zip_source_open(buffer) != 0) Raise(kDeviceIOError, "EPUB container");
  std::string out(static_cast<size_t>(st.size), '\0');
  zip_int64_t got = zip_source_read(buffer, out.data(), out.size());
  zip_source_close(buffer);
  if (got < 0 || static_cast<uint64_t>(got) != st.size) Raise(kDeviceIOError, "EPUB container");
  return out;
}

OcfOpenResult OpenOcfContainer(const std::string& path, const OcfLimits& limits) {
  try {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {nullptr, path + ": no such file"};
    if (!S_ISREG(st.st_mode)) return {nullptr, path + ": not a file"};
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!zip) {
      if (code == ZIP_ER_EXISTS && st.st_size <= (64 << 20))
        if (std::string repeated = RepeatedNameError(path, ReadAll(path)); !repeated.empty())
          return {nullptr, repeated};
      zip_error_t error;
      zip_error_init_with_code(&error, code);
      return {nullptr, OpenError(path, &error)};
    }
    return Finish(zip, path, limits);
  } catch (const std::bad_alloc&) {
    return {nullptr, path + ": out of memory"};
  }
}

OcfOpenResult OpenOcfContainerFromBytes(std::string_view bytes, const std::string& display_name,
                                        const OcfLimits& limits) {
  try {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!source) return {nullptr, OpenError(display_name, &error)};
    zip_t* zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!zip) {
      zip_source_free(source);
      if (zip_error_code_zip(&error) == ZIP_ER_EXISTS)
        if (std::string repeated = RepeatedNameError(display_name, bytes); !repeated.empty()) {
          zip_error_fini(&error);
          return {nullptr, repeated};
        }
      return {nullptr, OpenError(display_name, &error)};
    }
    zip_error_fini(&error);
    return Finish(zip, display_name, limits);
  } catch (const std::bad_alloc&) {
    return {nullptr, display_name + ": out of memory"};
  }
}

}  // namespace vellix::formats
