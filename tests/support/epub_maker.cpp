#include "epub_maker.h"

#include <zip.h>
#include <zlib.h>

#include <stdexcept>

namespace vellix::fixtures {
namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::string RawDeflate(const std::string& bytes) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, bytes.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

std::string GreyPng(uint32_t width, uint32_t height, const std::string& rows) {
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string out;
    uint32_t n = static_cast<uint32_t>(data.size());
    out += static_cast<char>(n >> 24);
    out += static_cast<char>(n >> 16);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n);
    std::string body = type + data;
    out += body;
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()));
    out += static_cast<char>(crc >> 24);
    out += static_cast<char>(crc >> 16);
    out += static_cast<char>(crc >> 8);
    out += static_cast<char>(crc);
    return out;
  };
  std::string header;
  for (uint32_t v : {width, height}) {
    header += static_cast<char>(v >> 24);
    header += static_cast<char>(v >> 16);
    header += static_cast<char>(v >> 8);
    header += static_cast<char>(v);
  }
  header += std::string("\x08\0\0\0\0", 5);
  uLongf size = compressBound(rows.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(rows.data()), rows.size());
  packed.resize(size);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", packed) + chunk("IEND", "");
}

namespace {

// A grey PNG of 8 x 8 pixels, a dark square on white.
std::string TinyPng() {
  std::string raw;
  for (int y = 0; y < 8; ++y) {
    raw += '\0';
    for (int x = 0; x < 8; ++x) raw += (x > 1 && x < 6 && y > 1 && y < 6) ? '\x20' : '\xFF';
  }
  return GreyPng(8, 8, raw);
}

const char kContainer[] =
    "<?xml version=\"1.0\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "  <rootfiles><rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
    "</rootfiles>\n</container>\n";

std::string Xhtml(const std::string& title, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
         "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">\n"
         "<head><title>" +
         title + "</title><link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/></head>\n<body>\n" + body +
         "\n</body>\n</html>\n";
}

}  // namespace

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) throw std::runtime_error("cannot write " + path);
  for (const ZipEntry& entry : entries) {
    zip_source_t* source = zip_source_buffer(zip, entry.bytes.data(), entry.bytes.size(), 0);
    zip_int64_t index = zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      zip_discard(zip);
      throw std::runtime_error("cannot add " + entry.name);
    }
    if (entry.name == "mimetype") zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  }
  if (zip_close(zip) != 0) {
    zip_discard(zip);
    throw std::runtime_error("cannot finish " + path);
  }
}

std::string RawZip(const std::vector<RawZipEntry>& entries) {
  std::string out, directory;
  for (const RawZipEntry& e : entries) {
    std::string data = e.deflate ? RawDeflate(e.bytes) : e.bytes;
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.bytes.data()), e.bytes.size()));
    uint32_t size =
        e.declared_size >= 0 ? static_cast<uint32_t>(e.declared_size) : static_cast<uint32_t>(e.bytes.size());
    uint32_t offset = static_cast<uint32_t>(out.size());
    uint16_t method = e.deflate ? 8 : 0;
    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, 0);
    Put16(out, method);
    Put32(out, 0);
    Put32(out, crc);
    Put32(out, static_cast<uint32_t>(data.size()));
    Put32(out, size);
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, 0);
    out += e.name;
    out += data;
    Put32(directory, 0x02014b50);
    Put16(directory, 0x0314);  // made by Unix
    Put16(directory, 20);
    Put16(directory, 0);
    Put16(directory, method);
    Put32(directory, 0);
    Put32(directory, crc);
    Put32(directory, static_cast<uint32_t>(data.size()));
    Put32(directory, size);
    Put16(directory, static_cast<uint32_t>(e.name.size()));
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, e.unix_mode << 16);
    Put32(directory, offset);
    directory += e.name;
  }
  uint32_t directory_offset = static_cast<uint32_t>(out.size());
  out += directory;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(directory.size()));
  Put32(out, directory_offset);
  Put16(out, 0);
  return out;
}

std::vector<ZipEntry> SampleEpub::Entries() const {
  bool three = version == 3;
  std::string creator =
      three ? "<dc:creator id=\"author\">" + author + "</dc:creator>\n<meta refines=\"#author\" property=\"file-as\">" +
                  author_file_as +
                  "</meta>\n<meta refines=\"#author\" property=\"role\" scheme=\"marc:relators\">aut</meta>\n"
                  "<dc:creator id=\"ill\">Ann Other</dc:creator>\n"
                  "<meta refines=\"#ill\" property=\"role\" scheme=\"marc:relators\">ill</meta>\n"
            : "<dc:creator opf:role=\"ill\">Ann Other</dc:creator>\n<dc:creator opf:file-as=\"" + author_file_as +
                  "\" opf:role=\"aut\">" + author + "</dc:creator>\n";
  std::string opf =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"" +
      std::string(three ? "3.0" : "2.0") +
      "\" unique-identifier=\"bookid\">\n"
      "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:opf=\"http://www.idpf.org/2007/opf\">\n"
      "<dc:identifier id=\"isbn\">978-0-00-000000-2</dc:identifier>\n"
      "<dc:identifier id=\"bookid\">urn:uuid:12345678-1234-4234-8234-123456789abc</dc:identifier>\n"
      "<dc:title>" +
      title + "</dc:title>\n" + creator + "<dc:language>en</dc:language>\n<dc:subject>" + subject +
      "</dc:subject>\n<dc:subject>Walking</dc:subject>\n" +
      (three ? "<meta property=\"dcterms:modified\">2026-01-01T00:00:00Z</meta>\n" : "") + "</metadata>\n<manifest>\n" +
      (three ? "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n" : "") +
      "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
      "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"
      "<item id=\"notes\" href=\"notes.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
      "<item id=\"c1\" href=\"ch1.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
      "<item id=\"c2\" href=\"chapter%20two.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
      "<item id=\"map\" href=\"images/map.png\" media-type=\"image/png\"/>\n"
      "</manifest>\n<spine toc=\"ncx\">\n"
      "<itemref idref=\"notes\" linear=\"no\"/>\n<itemref idref=\"c1\"/>\n<itemref idref=\"c2\"/>\n"
      "</spine>\n</package>\n";
  std::string ch1 = Xhtml(
      "One",
      "<section><h1>Morning</h1>\n<p>The path starts at the old <span class=\"mill\">mill</span>.</p>\n"
      "<figure><img src=\"images/map.png\" alt=\"A map\"/><figcaption>The map of the walk</figcaption></figure>\n"
      "<p>Bring water<sup><a epub:type=\"noteref\" href=\"notes.xhtml#n1\">1</a></sup> for the way.</p></section>");
  std::string ch2 = Xhtml("Two",
                          "<article><header><h1>Noon</h1></header>\n<h2 id=\"bridge\">The bridge</h2>\n"
                          "<p style=\"text-shadow: 1px 1px red; font-weight: bold\">Cross the bridge slowly.</p>\n"
                          "<aside><p>A side note.</p></aside>\n<footer><p>End of noon.</p></footer></article>");
  std::string notes = Xhtml("Notes", "<aside epub:type=\"footnote\" id=\"n1\"><p>Water is heavy.</p></aside>");
  std::string css =
      "@charset \"utf-8\";\np { text-indent: 1em; margin: 0 }\n.mill { font-style: italic; color: #333; "
      "box-shadow: 1px 1px; }\nh1 { page-break-before: always; -webkit-hyphens: auto; }\n"
      "figcaption { text-align: center; -webkit-hyphens: auto }\n";
  std::string nav = Xhtml("Contents",
                          "<nav epub:type=\"toc\" id=\"toc\"><h1>Contents</h1><ol>\n"
                          "<li><a href=\"ch1.xhtml\">Part One: Morning</a></li>\n"
                          "<li><a href=\"chapter%20two.xhtml\">Part Two: Noon</a><ol>\n"
                          "<li><a href=\"chapter%20two.xhtml#bridge\">Crossing the bridge</a></li></ol></li>\n"
                          "</ol></nav>");
  std::string prefix = three ? "Old " : "";
  std::string ncx =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" "
      "version=\"2005-1\">\n<head><meta name=\"dtb:uid\" content=\"urn:uuid:12345678-1234-4234-8234-123456789abc\"/>"
      "</head>\n<docTitle><text>" +
      title +
      "</text></docTitle>\n<navMap>\n"
      "<navPoint id=\"p1\" playOrder=\"1\"><navLabel><text>" +
      prefix +
      "Part One: Morning</text></navLabel><content src=\"ch1.xhtml\"/></navPoint>\n"
      "<navPoint id=\"p2\" playOrder=\"2\"><navLabel><text>" +
      prefix +
      "Part Two: Noon</text></navLabel><content src=\"chapter%20two.xhtml\"/>\n"
      "  <navPoint id=\"p3\" playOrder=\"3\"><navLabel><text>" +
      prefix +
      "Crossing the bridge</text></navLabel><content src=\"chapter%20two.xhtml#bridge\"/></navPoint>\n"
      "</navPoint>\n</navMap>\n</ncx>\n";
  std::vector<ZipEntry> entries = {{"mimetype", "application/epub+zip"},
                                   {"META-INF/container.xml", kContainer},
                                   {"OEBPS/content.opf", opf},
                                   {"OEBPS/toc.ncx", ncx},
                                   {"OEBPS/style.css", css},
                                   {"OEBPS/notes.xhtml", notes},
                                   {"OEBPS/ch1.xhtml", ch1},
                                   {"OEBPS/chapter two.xhtml", ch2},
                                   {"OEBPS/images/map.png", TinyPng()}};
  if (three) entries.push_back({"OEBPS/nav.xhtml", nav});
  return entries;
}

std::vector<std::string> SampleEpub::Words() {
  return {"Morning", "The",  "path",  "starts", "at",     "the",   "old",   "mill.",  "[A",
          "map]",    "The",  "map",   "of",     "the",    "walk",  "Bring", "water1", "for",
          "the",     "way.", "Noon",  "The",    "bridge", "Cross", "the",   "bridge", "slowly.",
          "A",       "side", "note.", "End",    "of",     "noon.", "Water", "is",     "heavy."};
}

std::vector<ZipEntry> MinimalEpub(const std::string& chapter, std::vector<ZipEntry> extra) {
  std::string opf =
      "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
      "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
      "<dc:identifier id=\"id\">urn:uuid:00000000-0000-4000-8000-000000000001</dc:identifier>"
      "<dc:title>Small</dc:title><dc:language>en</dc:language></metadata>"
      "<manifest><item id=\"c\" href=\"c.xhtml\" media-type=\"application/xhtml+xml\"/></manifest>"
      "<spine><itemref idref=\"c\"/></spine></package>\n";
  std::vector<ZipEntry> entries = {{"mimetype", "application/epub+zip"},
                                   {"META-INF/container.xml", kContainer},
                                   {"OEBPS/content.opf", opf},
                                   {"OEBPS/c.xhtml", Xhtml("Small", chapter)}};
  for (ZipEntry& e : extra) entries.push_back(std::move(e));
  return entries;
}

}  // namespace vellix::fixtures
