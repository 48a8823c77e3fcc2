#include "vellix/server/shelf_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "connections.h"
#include "http_text.h"
#include "ikutil/device_settings.h"
#include "ikutil/epub_export.h"
#include "log_writer.h"
#include "opds.h"
#include "page_images.h"
#include "pages.h"
#include "publisher.h"
#include "request_probe.h"
#include "shelf_index.h"
#include "vellix/booklist.h"
#include "vellix/formats/codepage.h"

namespace vellix::server {
namespace {

using httplib::Request;
using httplib::Response;

constexpr char kHtmlPolicy[] =
    "default-src 'none'; img-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// An open book file whose bytes are served from the descriptor opened for
// the request: a book replaced meanwhile (our writers rename) goes on being
// served whole from the old file.
struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

bool IsHostChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == ':' || c == '[' || c == ']' || c == '_';
}

// The paths no request may use, whatever it asks for: parent steps,
// backslashes, NUL and empty segments.
bool SuspiciousPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return true;
  if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos) return true;
  if (path.find("//") != std::string::npos) return true;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return true;
    start = end + 1;
  }
  return false;
}

bool ParseInt(const std::string& text, long long low, long long high, long long* out) {
  if (text.empty() || text.size() > 9) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

}  // namespace

struct ShelfServer::Impl {
  ServeOptions options;
  HttpCore http;
  ConnectionLoop loop;
  ShelfIndex index;
  PageImages images;
  Publisher publisher;
  std::mutex log_mutex;
  LogWriter stderr_log{STDERR_FILENO};
  std::mutex text_mutex;
  std::map<std::string, std::pair<uint64_t, std::string>> list_texts;  // base -> (generation, text)
  std::mutex epub_mutex;
  std::map<std::string, std::pair<std::string, std::shared_ptr<const std::string>>> epubs;  // path -> (etag, bytes)

  explicit Impl(ServeOptions o)
      : options(std::move(o)),
        loop(http, Limits(options)),
        index(options.shelf, [this](const std::string& line) { Note(line); }),
        images(options.page_cache_books),
        publisher(
            options.shelf, [this] { index.Refresh(); }, [this](const std::string& line) { Note(line); }) {
    Routes();
  }

  static ConnectionLimits Limits(const ServeOptions& o) {
    ConnectionLimits limits;
    limits.header_timeout_ms = o.header_timeout_ms;
    limits.idle_timeout_ms = o.idle_timeout_ms;
    limits.keep_alive_ms = o.keep_alive_ms;
    limits.max_connections = o.max_connections;
    return limits;
  }

  void Note(const std::string& line) {
    std::lock_guard lock(log_mutex);
    if (options.log)
      options.log(line);
    else
      stderr_log.Line(line);
  }

  // --- addresses ---

  // The address devices reach this server at, ending in "/".
  std::string Root(const Request& req) const {
    if (!options.base_url.empty()) {
      std::string root = options.base_url;
      if (root.back() != '/') root += '/';
      return root;
    }
    std::string host = req.get_header_value("Host");
    bool plain = !host.empty() && host.size() < 256;
    for (char c : host) plain = plain && IsHostChar(c);
    if (!plain)
      host = (req.local_addr.find(':') != std::string::npos ? "[" + req.local_addr + "]" : req.local_addr) + ":" +
             std::to_string(req.local_port);
    return "http://" + host + "/";
  }

  // --- the device side ---

  std::string ShelfText(const std::string& base, const ShelfSnapshot& shelf) {
    {
      std::lock_guard lock(text_mutex);
      auto it = list_texts.find(base);
      if (it != list_texts.end() && it->second.first == shelf.generation) return it->second.second;
    }
    const std::string base_bytes = formats::Utf8ToCp1252Lossy(base);
    std::string text = "1\n";
    for (const auto& book : shelf.books)
      text += book->record_head + "\t" + EscapeUrl(base_bytes + book->record_query) + book->record_tail + "\n";
    text += "\n";
    std::lock_guard lock(text_mutex);
    if (list_texts.size() > 64) list_texts.clear();
    list_texts[base] = {shelf.generation, text};
    return text;
  }

  std::string BookListText(const std::string& base, const ShelfSnapshot& shelf) {
    std::string text;
    for (const auto& book : shelf.books)
      text += "None:" + book->book_id + "\t" + book->title + "\t" + book->author + "\t" + book->category + "\t" +
              std::to_string(book->size) + "\t" + base + book->file_name + "\t1\t17\r\n";
    return formats::Utf8ToCp1252Lossy(text);
  }

  // The book a device's address names: its query keys and values decoded,
  // or, for identifiers that hold "&" or "=" (which the bookshelf text
  // leaves as they are), the whole query decoded and compared.
  const BookEntry* DeviceBook(const Request& req, const ShelfSnapshot& shelf) {
    if (req.has_param("BOOK_ID") && req.has_param("SOURCE_ID") && req.has_param("SOURCE_TYPE")) {
      const std::string id = req.get_param_value("BOOK_ID");
      const std::string source_id = req.get_param_value("SOURCE_ID");
      const std::string source_type = req.get_param_value("SOURCE_TYPE");
      for (const auto& book : shelf.books)
        if (book->raw_id == id && book->source_id == source_id && book->source_type == source_type) return book.get();
    }
    const size_t q = req.target.find('?');
    if (q == std::string::npos) return nullptr;
    const std::string query = "?" + PercentDecode(req.target.substr(q + 1));
    for (const auto& book : shelf.books)
      if (book->record_query == query) return book.get();
    return nullptr;
  }

  bool NotModified(const Request& req, Response& res, const std::string& etag, std::time_t mtime) {
    if (req.has_header("If-None-Match")) {
      const std::string tags = req.get_header_value("If-None-Match");
      if (tags == "*" || tags.find(etag) != std::string::npos) {
        const_cast<Request&>(req).ranges.clear();
        res.status = 304;
        return true;
      }
      return false;
    }
    if (mtime >= 0 && req.has_header("If-Modified-Since")) {
      std::time_t since = ParseHttpDate(req.get_header_value("If-Modified-Since"));
      if (since >= 0 && mtime <= since) {
        const_cast<Request&>(req).ranges.clear();
        res.status = 304;
        return true;
      }
    }
    return false;
  }

  void SendText(const Request& req, Response& res, const std::string& body, const std::string& type,
                const std::string& etag) {
    res.set_header("ETag", etag);
    res.set_header("Vary", "Accept-Encoding");
    res.set_header("Cache-Control", "no-cache");
    if (NotModified(req, res, etag, -1)) return;
    res.set_content(body, type);
  }

  void SendBook(const Request& req, Response& res, const BookEntry& book) {
    auto file = std::make_shared<OpenFile>();
    file->fd = ::open(book.path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (file->fd < 0 || ::fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) return NotFound(res);
    const int64_t mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    const std::string etag = EntityTag(st.st_size, mtime_ns, st.st_ino);
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", HttpDate(st.st_mtim.tv_sec));
    res.set_header("Accept-Ranges", "bytes");
    res.set_header("Cache-Control", "no-cache");
    if (NotModified(req, res, etag, st.st_mtim.tv_sec)) return;
    // A resumed download whose file changed meanwhile starts again whole.
    if (req.has_header("If-Range") && req.get_header_value("If-Range") != etag)
      const_cast<Request&>(req).ranges.clear();
    if (!req.ranges.empty()) {
      // Only single ranges inside the file; anything else is unsatisfiable.
      bool satisfiable = req.ranges.size() == 1;
      for (const auto& [first, last] : req.ranges) {
        if (first >= 0 && first >= st.st_size) satisfiable = false;
        if (first < 0 && last <= 0) satisfiable = false;
      }
      if (!satisfiable) {
        const_cast<Request&>(req).ranges.clear();
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(st.st_size));
        res.set_content("", "text/plain");
        return;
      }
    }
    res.set_header("Content-Disposition", "attachment; filename=\"" + SafeQuoted(book.file_name) +
                                              "\"; filename*=UTF-8''" + EncodeUrlPart(book.file_name));
    if (static_cast<uint64_t>(st.st_size) <= kKeptBookSize) {
      // Most books are small: kept in memory per version, sent in one piece.
      if (auto bytes = KeptBook(file->fd, etag, static_cast<size_t>(st.st_size)))
        return res.set_content(*bytes, "application/octet-stream");
      return NotFound(res);
    }
    res.set_content_provider(static_cast<size_t>(st.st_size), "application/octet-stream",
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                               char buffer[64 * 1024];
                               while (length > 0) {
                                 ssize_t n = ::pread(file->fd, buffer, std::min(length, sizeof buffer),
                                                     static_cast<off_t>(offset));
                                 if (n <= 0) return false;
                                 if (!sink.write(buffer, static_cast<size_t>(n))) return false;
                                 offset += static_cast<size_t>(n);
                                 length -= static_cast<size_t>(n);
                               }
                               return true;
                             });
  }

  static constexpr uint64_t kKeptBookSize = uint64_t{4} * 1024 * 1024;
  static constexpr uint64_t kKeptBooksTotal = uint64_t{128} * 1024 * 1024;
  std::mutex kept_mutex;
  std::map<std::string, std::shared_ptr<const std::string>> kept_books;  // etag -> bytes
  uint64_t kept_total = 0;

  std::shared_ptr<const std::string> KeptBook(int fd, const std::string& etag, size_t size) {
    {
      std::lock_guard lock(kept_mutex);
      if (auto it = kept_books.find(etag); it != kept_books.end()) return it->second;
    }
    auto bytes = std::make_shared<std::string>(size, '\0');
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::pread(fd, bytes->data() + done, size - done, static_cast<off_t>(done));
      if (n <= 0) return nullptr;
      done += static_cast<size_t>(n);
    }
    std::lock_guard lock(kept_mutex);
    if (kept_total + size > kKeptBooksTotal) {
      kept_books.clear();
      kept_total = 0;
    }
    kept_books.emplace(etag, bytes);
    kept_total += size;
    return bytes;
  }

  // A book's EPUB, made from its file on the first asking and kept while the
  // file stays the same; one is made at a time, as each costs a whole read.
  std::shared_ptr<const std::string> EpubOf(const BookEntry& book) {
    constexpr size_t kKeptEpubs = 8;
    std::lock_guard<std::mutex> lock(epub_mutex);
    auto kept = epubs.find(book.path);
    if (kept != epubs.end() && kept->second.first == book.etag) return kept->second.second;
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "vellix-epub-XXXXXX").string();
    if (ec || !::mkdtemp(pattern.data())) return nullptr;
    const std::filesystem::path folder = pattern;
    const std::string out = (folder / "book.epub").string();
    std::shared_ptr<const std::string> bytes;
    ikutil::EpubExportResult exported = ikutil::ExportEpub(book.path, out);
    if (exported.ok) {
      std::ifstream in(out, std::ios::binary);
      bytes = std::make_shared<const std::string>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
      Note("no EPUB of " + book.file_name + ": " + exported.error);
    }
    std::filesystem::remove_all(folder, ec);
    if (!bytes) return nullptr;
    if (epubs.size() >= kKeptEpubs && kept == epubs.end()) epubs.erase(epubs.begin());
    epubs[book.path] = {book.etag, bytes};
    return bytes;
  }

  void SendEpub(const Request& req, Response& res, const BookEntry& book) {
    const std::string etag = "\"" + book.etag.substr(1, book.etag.size() - 2) + "-epub\"";
    res.set_header("ETag", etag);
    res.set_header("Cache-Control", "no-cache");
    if (NotModified(req, res, etag, -1)) return;
    std::shared_ptr<const std::string> bytes = EpubOf(book);
    if (!bytes) return NotFound(res);
    const std::string name = book.id + ".epub";
    res.set_header("Content-Disposition",
                   "attachment; filename=\"" + SafeQuoted(name) + "\"; filename*=UTF-8''" + EncodeUrlPart(name));
    res.set_content(*bytes, kEpubType);
  }

  static std::string SafeQuoted(const std::string& name) {
    std::string out;
    for (char c : name) out += (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c & 0x80) ? '_' : c;
    return out;
  }

  // --- people ---

  // Rendered catalogues, per shelf version and query: a big shelf's page
  // is built once, not for every visitor.
  std::mutex catalogue_mutex;
  std::map<std::string, std::pair<uint64_t, std::shared_ptr<const std::string>>> catalogues;

  std::shared_ptr<const std::string> Catalogue(const ShelfSnapshot& shelf, const CatalogueQuery& query) {
    const std::string key = query.sort + (query.descending ? "-" : "+") + query.search;
    {
      std::lock_guard lock(catalogue_mutex);
      auto it = catalogues.find(key);
      if (it != catalogues.end() && it->second.first == shelf.generation) return it->second.second;
    }
    auto html = std::make_shared<const std::string>(CataloguePage(shelf, query, !options.upload_token.empty()));
    std::lock_guard lock(catalogue_mutex);
    if (catalogues.size() >= 32) catalogues.clear();
    catalogues[key] = {shelf.generation, html};
    return html;
  }

  void SendHtml(Response& res, const std::string& html, int status = 200) {
    res.status = status;
    res.set_header("Content-Security-Policy", kHtmlPolicy);
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Cache-Control", "no-cache");
    res.set_content(html, "text/html; charset=utf-8");
  }

  void NotFound(Response& res) { SendHtml(res, NotFoundPage(), 404); }

  bool ReadScreen(const Request& req, Screen* screen, std::string* query) {
    const ikutil::DeviceSettings device = ikutil::ReadDeviceSettings();
    screen->width = device.width;
    screen->height = device.height;
    screen->depth = device.depth;
    long long v = 0;
    if (req.has_param("width")) {
      if (!ParseInt(req.get_param_value("width"), ikutil::kMinPageSide, ikutil::kMaxPageSide, &v)) return false;
      screen->width = static_cast<int32_t>(v);
      *query += "&width=" + std::to_string(v);
    }
    if (req.has_param("height")) {
      if (!ParseInt(req.get_param_value("height"), ikutil::kMinPageSide, ikutil::kMaxPageSide, &v)) return false;
      screen->height = static_cast<int32_t>(v);
      *query += "&height=" + std::to_string(v);
    }
    if (req.has_param("depth")) {
      if (!ParseInt(req.get_param_value("depth"), 1, 8, &v) || (v != 1 && v != 2 && v != 4 && v != 8)) return false;
      screen->depth = static_cast<int16_t>(v);
      *query += "&depth=" + std::to_string(v);
    }
    if (req.has_param("zoom")) {
      const std::string z = req.get_param_value("zoom");
      screen->zoom = z == "1" || z == "true" || z.empty();
      if (screen->zoom) *query += "&zoom=1";
    }
    // Pages of a large screen cost memory: no more than a big monitor's.
    return static_cast<int64_t>(screen->width) * screen->height <= 4096ll * 4096ll;
  }

  void BookRoutes(const Request& req, Response& res, const ShelfSnapshot& shelf, const std::string& rest) {
    // rest: "NAME.imp", "NAME.epub", "ID", "ID/thumbnail.png" or "ID/pages/N.png"
    const size_t slash = rest.find('/');
    const std::string head = rest.substr(0, slash);
    if (slash == std::string::npos && head.size() > 4 && head.compare(head.size() - 4, 4, ".imp") == 0) {
      if (const BookEntry* book = shelf.Find(head.substr(0, head.size() - 4))) return SendBook(req, res, *book);
    }
    if (slash == std::string::npos && head.size() > 5 && head.compare(head.size() - 5, 5, ".epub") == 0) {
      if (const BookEntry* book = shelf.Find(head.substr(0, head.size() - 5))) return SendEpub(req, res, *book);
    }
    const BookEntry* book = shelf.Find(head);
    if (!book) return NotFound(res);
    Screen screen;
    std::string query;
    if (!ReadScreen(req, &screen, &query)) return SendHtml(res, NotFoundPage(), 400);
    const std::string version = book->etag;

    if (slash == std::string::npos) {
      ReaderView view;
      long long page = 1;
      if (req.has_param("page") && !ParseInt(req.get_param_value("page"), 1, 1000000, &page)) return NotFound(res);
      view.page_count = images.PageCount(book->path, version, screen, &view.layout_error);
      view.page = static_cast<int>(std::min<long long>(page, std::max(1, view.page_count)));
      view.reader_query = EscapeHtml(query);
      view.image_query = query.empty() ? "" : EscapeHtml("?" + query.substr(1));
      return SendHtml(res, BookPage(*book, view));
    }
    const std::string sub = rest.substr(slash + 1);
    PageResult result;
    if (sub == "thumbnail.png") {
      result = images.Thumbnail(book->path, version, screen);
    } else if (sub.rfind("pages/", 0) == 0 && sub.size() > 10 && sub.compare(sub.size() - 4, 4, ".png") == 0) {
      long long page = 0;
      if (!ParseInt(sub.substr(6, sub.size() - 10), 1, 1000000, &page)) return NotFound(res);
      const std::string etag = "\"" + version.substr(1, version.size() - 2) + "-" + std::to_string(page) + query + "\"";
      res.set_header("ETag", etag);
      if (NotModified(req, res, etag, -1)) return;
      result = images.Page(book->path, version, screen, static_cast<int32_t>(page));
    } else {
      return NotFound(res);
    }
    if (!result.ok) return NotFound(res);
    res.set_header("Cache-Control", "no-cache");
    res.set_content(result.png, "image/png");
  }

  // --- routes ---

  void Get(const Request& req, Response& res) {
    const std::string& path = req.path;
    if (SuspiciousPath(path)) return NotFound(res);
    auto shelf = index.Current();
    const std::string root = Root(req);

    // A device's book address: BaseURL is the root's "book".
    if (path == "/book" || ((path == "/" || DeviceBasePath(path)) && req.has_param("BOOK_ID"))) {
      if (const BookEntry* book = DeviceBook(req, *shelf)) return SendBook(req, res, *book);
      return NotFound(res);
    }
    if (path == "/list.txt") {
      const std::string text = ShelfText(root + "book", *shelf);
      return SendText(
          req, res, text, "text/plain; charset=windows-1252",
          "\"s" + std::to_string(shelf->generation) + "-" + std::to_string(std::hash<std::string>{}(root)) + "\"");
    }
    if (path == "/booklist.txt") {
      return SendText(
          req, res, BookListText(root + "books/", *shelf), "text/plain; charset=windows-1252",
          "\"b" + std::to_string(shelf->generation) + "-" + std::to_string(std::hash<std::string>{}(root)) + "\"");
    }
    if (path == "/") {
      CatalogueQuery query;
      query.search = req.get_param_value("q");
      const std::string sort = req.get_param_value("sort");
      if (sort == "author" || sort == "category" || sort == "size") query.sort = sort;
      query.descending = req.get_param_value("order") == "desc";
      return SendHtml(res, *Catalogue(*shelf, query));
    }
    if (path == "/static/style.css") return SendText(req, res, kStyleSheet, "text/css; charset=utf-8", "\"css1\"");
    if (path == "/static/app.js") return SendText(req, res, kScript, "text/javascript; charset=utf-8", "\"js1\"");
    if (path.rfind("/books/", 0) == 0) return BookRoutes(req, res, *shelf, path.substr(7));
    if (path == "/opds" || path.rfind("/opds/", 0) == 0) {
      OpdsAnswer answer = OpdsFeed(*shelf, path, req.get_param_value("q"));
      if (!answer.found) return NotFound(res);
      res.set_header("Cache-Control", "no-cache");
      res.set_content(answer.body, answer.type + ";charset=utf-8");
      return;
    }
    if (path.rfind("/publish/", 0) == 0 && !options.upload_token.empty())
      return PublishStatus(req, res, path.substr(9));
    NotFound(res);
  }

  bool DeviceBasePath(const std::string& path) const {
    if (options.base_url.empty()) return false;
    // The path part of the given address, which a proxy may pass on.
    const size_t scheme = options.base_url.find("://");
    const size_t start = options.base_url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    std::string base_path = start == std::string::npos ? "/" : options.base_url.substr(start);
    if (base_path.back() != '/') base_path += '/';
    return path == base_path + "book";
  }

  // --- publishing ---

  void Refuse(const Request& req, Response& res, int status, const std::string& why) {
    res.status = status;
    if (status == 401) res.set_header("WWW-Authenticate", "Bearer realm=\"vellix\"");
    if (req.get_header_value("Accept").find("application/json") != std::string::npos)
      res.set_content(nlohmann::json{{"error", why}}.dump(), "application/json");
    else
      SendHtml(res,
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Not published</title></head>"
               "<body><h1>Not published</h1><p>" +
                   EscapeHtml(why) + "</p><p><a href=\"/\">The shelf</a></p></body></html>\n",
               status);
  }

  bool TokenMatches(const std::string& given) const {
    return !given.empty() && ConstantTimeEquals(given, options.upload_token);
  }

  void Publish(const Request& req, Response& res, const httplib::ContentReader& content_reader) {
    if (options.upload_token.empty()) return NotFound(res);
    // A token in the header is checked before a byte of the body is read.
    const std::string authorization = req.get_header_value("Authorization");
    const bool header_token = authorization.rfind("Bearer ", 0) == 0;
    if (header_token && !TokenMatches(authorization.substr(7))) return Refuse(req, res, 401, "wrong upload token");
    if (!req.is_multipart_form_data()) return Refuse(req, res, 400, "expected a multipart form");

    std::map<std::string, httplib::MultipartFormData> fields;
    std::string current;
    uint64_t received = 0;
    bool too_large = false;
    const bool read = content_reader(
        [&](const httplib::MultipartFormData& part) {
          current = part.name;
          fields[current] = part;
          fields[current].content.clear();
          return true;
        },
        [&](const char* data, size_t length) {
          received += length;
          if (received > options.max_upload) {
            too_large = true;
            return false;
          }
          fields[current].content.append(data, length);
          return true;
        });
    if (too_large) return Refuse(req, res, 413, "larger than the upload limit");
    if (!read) return Refuse(req, res, 400, "malformed multipart body");
    if (!header_token && (!fields.count("token") || !TokenMatches(fields["token"].content)))
      return Refuse(req, res, 401, "missing or wrong upload token");
    if (!fields.count("file") || fields["file"].filename.empty()) return Refuse(req, res, 400, "no file in the form");
    if (Publisher::AcceptedExtension(fields["file"].filename).empty())
      return Refuse(req, res, 400, "only " + Publisher::AcceptedKindsText() + " is published");

    Upload upload;
    upload.file_name = fields["file"].filename;
    upload.bytes = std::move(fields["file"].content);
    for (auto [name, into] : {std::pair{"title", &upload.title}, std::pair{"author", &upload.author},
                              std::pair{"category", &upload.category}})
      if (fields.count(name)) *into = fields[name].content;
    for (const std::string* text : {&upload.title, &upload.author, &upload.category})
      if (formats::Cp1252ToUtf8(formats::Utf8ToCp1252Lossy(*text)) != *text)
        return Refuse(req, res, 400, "title, author and category must be text the device can show");
    auto job = publisher.Submit(std::move(upload));
    const std::string status = "/publish/" + job->id();
    if (req.get_header_value("Accept").find("application/json") != std::string::npos) {
      res.status = 202;
      res.set_header("Location", status);
      res.set_content(nlohmann::json{{"job", job->id()}, {"status", status}, {"events", status + "/events"}}.dump(),
                      "application/json");
    } else {
      res.set_redirect(status, 303);
    }
  }

  void PublishStatus(const Request& req, Response& res, const std::string& rest) {
    const bool events = rest.size() > 7 && rest.compare(rest.size() - 7, 7, "/events") == 0;
    auto job = publisher.Find(events ? rest.substr(0, rest.size() - 7) : rest);
    if (!job) return NotFound(res);
    if (!events) return SendHtml(res, PublishStatusPage(job->id(), job->id()));
    (void)req;
    res.set_header("Cache-Control", "no-cache");
    auto seen = std::make_shared<size_t>(0);
    res.set_chunked_content_provider("text/event-stream", [job, seen](size_t, httplib::DataSink& sink) {
      bool finished = false;
      auto fresh = job->EventsAfter(*seen, 15000, &finished);
      for (const std::string& event : fresh)
        if (!sink.write(event.data(), event.size())) return false;
      *seen += fresh.size();
      if (fresh.empty() && !finished) {
        // A comment keeps proxies from closing a quiet stream.
        static const char kKeepAlive[] = ": waiting\n\n";
        if (!sink.write(kKeepAlive, sizeof kKeepAlive - 1)) return false;
      }
      if (finished && fresh.empty()) sink.done();
      return true;
    });
  }

  void Log(const Request& req, const Response& res) {
    std::string bytes = res.get_header_value("Content-Length");
    if (bytes.empty()) bytes = req.method == "HEAD" || res.body.empty() ? "-" : std::to_string(res.body.size());
    std::string target = req.target;
    for (char& c : target)
      if (static_cast<unsigned char>(c) < 0x20 || c == '"') c = '?';
    Note((req.remote_addr.empty() ? "-" : req.remote_addr) + " - - " + LogTime(std::time(nullptr)) + " \"" +
         req.method + " " + target + " " + req.version + "\" " + std::to_string(res.status) + " " + bytes);
  }

  void Routes() {
    http.set_payload_max_length(options.max_upload + uint64_t{1024} * 1024);
    http.set_read_timeout(options.idle_timeout_ms / 1000, time_t{options.idle_timeout_ms % 1000} * 1000);
    http.set_write_timeout(options.idle_timeout_ms / 1000, time_t{options.idle_timeout_ms % 1000} * 1000);
    http.set_keep_alive_max_count(100);
    http.set_keep_alive_timeout(std::max(1, options.keep_alive_ms / 1000));
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Server", "vellix"}});
    http.set_pre_routing_handler([this](const Request& req, Response& res) {
      const uint64_t length = req.get_header_value<uint64_t>("Content-Length");
      if (req.has_header("Content-Length") && length > options.max_upload + uint64_t{1024} * 1024) {
        Refuse(req, res, 413, "larger than the upload limit");
        return httplib::Server::HandlerResponse::Handled;
      }
      ConnectionLoop::HeadersDone(length);
      // Reads are answered here, without a pattern match per request.
      if (req.method == "GET" || req.method == "HEAD") {
        Get(req, res);
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    http.Post("/publish", [this](const Request& req, Response& res, const httplib::ContentReader& reader) {
      Publish(req, res, reader);
    });
    http.set_error_handler([this](const Request& req, Response& res) {
      if (res.status == 404 && res.body.empty()) NotFound(res);
      (void)req;
    });
    http.set_exception_handler([this](const Request&, Response& res, std::exception_ptr ep) {
      std::string what = "unknown";
      try {
        std::rethrow_exception(ep);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
        // Not a std::exception: nothing more to say than "unknown", and
        // the request is still answered below.
      }
      Note("error: " + what);
      res.status = 500;
      res.set_content("Internal error\n", "text/plain");
    });
    http.set_logger([this](const Request& req, const Response& res) { Log(req, res); });
  }
};

ShelfServer::ShelfServer(ServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

ShelfServer::~ShelfServer() = default;

bool ShelfServer::Bind(std::string* error) {
  if (!impl_->loop.Bind(impl_->options.bind, impl_->options.port, error)) return false;
  impl_->index.Refresh();
  return true;
}

int ShelfServer::Port() const { return impl_->loop.Port(); }

void ShelfServer::Run() {
  impl_->loop.Run();
  impl_->publisher.Finish();
}

void ShelfServer::Stop() { impl_->loop.Stop(); }

namespace {

// A stream over a request held in memory, whose answer is kept.
class MemoryStream : public httplib::Stream {
 public:
  explicit MemoryStream(const std::string& input) : input_(input) {}
  bool is_readable() const override { return offset_ < input_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, input_.size() - offset_);
    std::memcpy(ptr, input_.data() + offset_, n);
    offset_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    output.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 8080;
  }
  socket_t socket() const override { return -1; }
  std::string output;

 private:
  const std::string& input_;
  size_t offset_ = 0;
};

}  // namespace

std::string RequestProbe::Answer(ShelfServer& server, const std::string& request) {
  MemoryStream stream(request);
  bool closed = false;
  server.impl_->http.process_request(stream, true, closed, nullptr);
  return stream.output;
}

}  // namespace vellix::server
