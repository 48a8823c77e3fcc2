#include "vellix/formats/oebff_package.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/oebff_writer.h"
#include "vellix/formats/xml.h"

namespace vellix::formats {

bool StaysInsideFolder(const std::string& folder, const std::string& href) {
  if (href.empty() || href[0] == '/') return false;
  std::filesystem::path relative(href);
  for (const auto& part : relative)
    if (part == "..") return false;
  std::error_code ec;
  std::filesystem::path base = std::filesystem::weakly_canonical(folder, ec);
  if (ec) return false;
  std::filesystem::path target = std::filesystem::weakly_canonical(base / relative, ec);
  if (ec) return false;
  auto b = base.begin(), t = target.begin();
  for (; b != base.end(); ++b, ++t)
    if (t == target.end() || *b != *t) return false;
  return true;
}

bool StaysInsideParentFolder(const std::string& folder, const std::string& href) {
  if (!href.starts_with("../")) return false;
  std::string rest = href.substr(3);
  if (rest.empty() || rest[0] == '/' || rest.starts_with("../")) return false;
  std::error_code ec;
  std::filesystem::path own = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
  if (ec || !own.has_parent_path() || own.parent_path() == own) return false;
  std::filesystem::path parent = own.parent_path();
  auto same = [&](const std::filesystem::path& shared) {
    std::error_code shared_ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(shared, shared_ec);
    return !shared_ec && canonical == parent;
  };
  if (parent == parent.root_path() || same("/tmp") || same("/var/tmp") ||
      same(std::filesystem::temp_directory_path(ec)))
    return false;
  if (const char* home = std::getenv("HOME"); home && *home && same(home)) return false;
  return StaysInsideFolder(parent.string(), rest);
}

namespace {

std::vector<OEBFFManifestPart> ManifestParts(const XmlDocument& doc, const std::string& opf,
                                             const std::string& directory) {
  if (!doc.parsed) return {};
  pugi::xml_node manifest = doc.Root().child("manifest");
  if (!manifest) Raise(kObjectNotSet, opf + ": the package has no manifest");
  std::vector<OEBFFManifestPart> parts;
  for (pugi::xml_node item : manifest.children()) {
    if (item.type() != pugi::node_element) continue;
    pugi::xml_attribute id = item.attribute("id"), href = item.attribute("href"),
                        media_type = item.attribute("media-type");
    if (!id || !href || !media_type) Raise(kInvalidUseOfNull, opf);
    parts.push_back({media_type.value(), id.value(), href.value(), StaysInsideFolder(directory, href.value())});
    // Id and media type are written unquoted, so each must be one header
    // token; a gzip part would need a header this writer does not write.
    const OEBFFManifestPart& added = parts.back();
    std::string where = opf + ": manifest item " + std::to_string(parts.size()) + " (id \"" + added.id + "\")";
    if (!OEBFFIsHeaderToken(Utf8ToCp1252Lossy(added.id)))
      Raise(kInvalidArgument, where + " has an id a container cannot carry");
    if (!OEBFFIsHeaderToken(Utf8ToCp1252Lossy(added.media_type)) ||
        LowerAscii(added.media_type) == "application/x-gzip")
      Raise(kInvalidArgument,
            where + " has the media type \"" + added.media_type + "\", which a container cannot carry");
  }
  return parts;
}

}  // namespace

std::vector<OEBFFManifestPart> ReadOEBFFManifest(const std::string& opf, const std::string& directory) {
  XmlDocument doc;
  LoadXmlFile(opf, doc);
  return ManifestParts(doc, opf, directory);
}

std::vector<OEBFFManifestPart> ReadOEBFFManifestText(std::string_view package_text, const std::string& opf,
                                                     const std::string& directory) {
  XmlDocument doc;
  LoadXmlText(package_text, doc);
  return ManifestParts(doc, opf, directory);
}

void AppendOEBFFBody(AtomicFileWriter& out, const std::string& file_path) {
  if (!IsFile(file_path)) return;
  InputFile file(file_path);
  // Copied in pieces; each is searched, and so is the seam with the end of
  // the one before, so a delimiter that straddles two pieces is found too.
  static const std::string delimiter = OEBFFBodyDelimiter();
  const size_t keep = delimiter.size() - 1;
  std::string tail;  // the last `keep` bytes copied so far
  for (uint64_t offset = 0; offset < file.size();) {
    std::string piece = file.ReadUpTo(offset, 1 << 20);
    if (piece.empty()) break;
    offset += piece.size();
    std::string seam = tail + piece.substr(0, keep);
    if (piece.find(delimiter) != std::string::npos || seam.find(delimiter) != std::string::npos)
      Raise(kInvalidArgument,
            "The file \"" + file_path + "\" holds the container's part delimiter and cannot be packed");
    // A short piece leaves part of the old tail in the new one.
    tail = piece.size() >= keep ? piece.substr(piece.size() - keep)
                                : seam.substr(seam.size() - std::min(seam.size(), keep));
    out.Write(piece);
  }
}

}  // namespace vellix::formats
