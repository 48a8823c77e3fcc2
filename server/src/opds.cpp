#include "opds.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>
#include <tuple>

#include "http_text.h"

namespace vellix::server {
namespace {

std::string AtomTime(int64_t ns) {
  std::time_t when = static_cast<std::time_t>(ns / 1000000000);
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string Latest(const std::vector<const BookEntry*>& books) {
  int64_t latest = 0;
  for (const BookEntry* b : books) latest = std::max(latest, b->mtime_ns);
  return AtomTime(latest);
}

std::string FeedStart(const std::string& id, const std::string& title, const std::string& self,
                      const std::string& self_type, const std::string& updated) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:dc=\"http://purl.org/dc/terms/\" "
         "xmlns:opds=\"http://opds-spec.org/2010/catalog\" "
         "xmlns:opensearch=\"http://a9.com/-/spec/opensearch/1.1/\">\n"
         "<id>" +
         EscapeHtml(id) + "</id>\n<title>" + EscapeHtml(title) + "</title>\n<updated>" + updated +
         "</updated>\n<author><name>Vellix bookshelf</name></author>\n"
         "<link rel=\"self\" href=\"" +
         EscapeHtml(self) + "\" type=\"" + self_type + "\"/>\n<link rel=\"start\" href=\"/opds\" type=\"" +
         kOpdsNavigationType + "\"/>\n<link rel=\"up\" href=\"/opds\" type=\"" + kOpdsNavigationType +
         "\"/>\n<link rel=\"search\" href=\"/opds/opensearch.xml\" type=\"" + kOpenSearchType + "\"/>\n";
}

std::string NavigationEntry(const std::string& id, const std::string& title, const std::string& href,
                            const std::string& content, const std::string& updated) {
  return "<entry>\n<title>" + EscapeHtml(title) + "</title>\n<id>" + EscapeHtml(id) + "</id>\n<updated>" + updated +
         "</updated>\n<link rel=\"subsection\" href=\"" + EscapeHtml(href) + "\" type=\"" + kOpdsAcquisitionType +
         "\"/>\n<content type=\"text\">" + EscapeHtml(content) + "</content>\n</entry>\n";
}

std::string BookEntryXml(const BookEntry& book) {
  const std::string base = "/books/" + EncodeUrlPart(book.id);
  std::string xml = "<entry>\n<title>" + EscapeHtml(book.title_text) +
                    "</title>\n<id>urn:vellix:book:" + EscapeHtml(EncodeUrlPart(book.id)) + "</id>\n<updated>" +
                    AtomTime(book.mtime_ns) + "</updated>\n";
  if (!book.author_text.empty()) xml += "<author><name>" + EscapeHtml(book.author_text) + "</name></author>\n";
  if (!book.category_text.empty())
    xml += "<category term=\"" + EscapeHtml(book.category_text) + "\" label=\"" + EscapeHtml(book.category_text) +
           "\"/>\n";
  if (!book.book_id.empty()) xml += "<dc:identifier>" + EscapeHtml(book.book_id) + "</dc:identifier>\n";
  xml += std::string("<link rel=\"") + kOpdsAcquisitionRel + "\" href=\"/books/" +
         EscapeHtml(EncodeUrlPart(book.file_name)) + "\" type=\"application/octet-stream\" length=\"" +
         std::to_string(book.size) + "\" title=\"" + EscapeHtml(book.file_name) + "\"/>\n";
  // The same book as EPUB, for reader apps that do not read book files.
  xml += std::string("<link rel=\"") + kOpdsAcquisitionRel + "\" href=\"" + base + ".epub\" type=\"" + kEpubType +
         "\" title=\"" + EscapeHtml(book.id) + ".epub\"/>\n";
  xml +=
      std::string("<link rel=\"") + kOpdsThumbnailRel + "\" href=\"" + base + "/thumbnail.png\" type=\"image/png\"/>\n";
  xml += std::string("<link rel=\"") + kOpdsImageRel + "\" href=\"" + base + "/pages/1.png\" type=\"image/png\"/>\n";
  xml += "<link rel=\"alternate\" href=\"" + base + "\" type=\"text/html\"/>\n";
  xml += "<content type=\"text\">" + std::to_string(book.size) + " bytes</content>\n</entry>\n";
  return xml;
}

std::string Acquisition(const std::string& id, const std::string& title, const std::string& self,
                        const std::vector<const BookEntry*>& books) {
  std::string xml = FeedStart(id, title, self, kOpdsAcquisitionType, Latest(books));
  for (const BookEntry* b : books) xml += BookEntryXml(*b);
  return xml + "</feed>\n";
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

OpdsAnswer OpdsFeed(const ShelfSnapshot& shelf, const std::string& path, const std::string& search) {
  std::vector<const BookEntry*> all;
  for (const auto& b : shelf.books) all.push_back(b.get());
  const std::string updated = Latest(all);

  if (path == "/opds" || path == "/opds/") {
    std::string xml = FeedStart("urn:vellix:shelf", "Bookshelf", "/opds", kOpdsNavigationType, updated);
    xml += NavigationEntry("urn:vellix:shelf:all", "All books", "/opds/all", std::to_string(all.size()) + " books",
                           updated);
    xml += "<entry>\n<title>By category</title>\n<id>urn:vellix:shelf:categories</id>\n<updated>" + updated +
           "</updated>\n<link rel=\"subsection\" href=\"/opds/categories\" type=\"" + kOpdsNavigationType +
           "\"/>\n<content type=\"text\">Books by category</content>\n</entry>\n";
    xml += "<entry>\n<title>By author</title>\n<id>urn:vellix:shelf:authors</id>\n<updated>" + updated +
           "</updated>\n<link rel=\"subsection\" href=\"/opds/authors\" type=\"" + kOpdsNavigationType +
           "\"/>\n<content type=\"text\">Books by author</content>\n</entry>\n";
    return {true, kOpdsNavigationType, xml + "</feed>\n"};
  }
  if (path == "/opds/all")
    return {true, kOpdsAcquisitionType, Acquisition("urn:vellix:shelf:all", "All books", path, all)};

  for (const auto& [kind, field, label] :
       {std::tuple{std::string("categories"), &BookEntry::category_text, std::string("Category")},
        std::tuple{std::string("authors"), &BookEntry::author_text, std::string("Author")}}) {
    const std::string list = "/opds/" + kind;
    if (path == list) {
      std::map<std::string, std::vector<const BookEntry*>> groups;
      for (const BookEntry* b : all) groups[b->*field].push_back(b);
      std::string xml = FeedStart("urn:vellix:shelf:" + kind, "By " + Lower(label), list, kOpdsNavigationType, updated);
      for (const auto& [name, books] : groups) {
        const std::string shown = name.empty() ? "(none)" : name;
        xml +=
            NavigationEntry("urn:vellix:shelf:" + kind + ":" + EncodeUrlPart(name), shown,
                            list + "/" + EncodeUrlPart(name), std::to_string(books.size()) + " books", Latest(books));
      }
      return {true, kOpdsNavigationType, xml + "</feed>\n"};
    }
    if (path.rfind(list + "/", 0) == 0) {
      const std::string name = path.substr(list.size() + 1);
      std::vector<const BookEntry*> books;
      for (const BookEntry* b : all)
        if (b->*field == name) books.push_back(b);
      if (books.empty()) return {};
      return {true, kOpdsAcquisitionType,
              Acquisition("urn:vellix:shelf:" + kind + ":" + EncodeUrlPart(name), label + ": " + name,
                          list + "/" + EncodeUrlPart(name), books)};
    }
  }

  if (path == "/opds/search") {
    const std::string needle = Lower(search);
    std::vector<const BookEntry*> books;
    for (const BookEntry* b : all)
      if (Lower(b->title_text).find(needle) != std::string::npos ||
          Lower(b->author_text).find(needle) != std::string::npos ||
          Lower(b->category_text).find(needle) != std::string::npos)
        books.push_back(b);
    return {true, kOpdsAcquisitionType,
            Acquisition("urn:vellix:shelf:search:" + EncodeUrlPart(search), "Search: " + search,
                        "/opds/search?q=" + EncodeUrlPart(search), books)};
  }
  if (path == "/opds/opensearch.xml") {
    return {true, kOpenSearchType,
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<OpenSearchDescription xmlns=\"http://a9.com/-/spec/opensearch/1.1/\">\n"
                        "<ShortName>Bookshelf</ShortName>\n<Description>Search the books of this shelf by title, "
                        "author or category</Description>\n<InputEncoding>UTF-8</InputEncoding>\n"
                        "<OutputEncoding>UTF-8</OutputEncoding>\n"
                        "<Url type=\"") +
                kOpdsAcquisitionType + "\" template=\"/opds/search?q={searchTerms}\"/>\n</OpenSearchDescription>\n"};
  }
  return {};
}

}  // namespace vellix::server
