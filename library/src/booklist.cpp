#include "vellix/booklist.h"

#include <ctime>
#include <filesystem>

#include "booklist_lines.h"
#include "vellix/error.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/settings.h"

namespace vellix {
namespace {

constexpr char kRemoteBookShelfUrl[] =
    "HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\Sites\\RemoteBookShelfUrl";

// One record of the bookshelf text, in single-byte text. The file is opened
// once for its information strings, its source record and its size.
std::string ShelfRecord(const std::string& base_url, const std::string& path) {
  return formats::NamingFile(path, [&] {
    formats::InputFile file(path);
    auto s = formats::CutInformationStrings(formats::ReadInformationStrings(file));
    std::string source_id = "3", source_type = "B";
    bool periodical = false;
    std::string record = formats::ReadResourceString(file, "RSRC", 128);
    if (!record.empty()) {
      formats::SourceRecord r = formats::ParseSourceRecord(record);
      if (!r.source_id.empty()) source_id = r.source_id;
      if (!r.source_type.empty()) source_type = r.source_type;
      periodical = r.issue_number != 0 && r.issue_number != -1;
    }
    std::string author = formats::AuthorOf(s);
    std::string address = base_url + "?BOOK_ID=" + s[0] + "&SOURCE_ID=" + source_id + "&SOURCE_TYPE=" + source_type;
    std::string line = source_id + ":" + source_type + ":" + s[0];
    for (const std::string* column : {&s[3], &author, &s[1]}) line += "\t" + *column;
    line += "\t" + std::to_string(file.size());
    line += "\t" + EscapeUrl(address);
    line += periodical ? "\t1\t21" : "\t1\t17";
    return line;
  });
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// Size / 1024, an exact half going to the even neighbour.
int32_t KilobytesRoundedHalfEven(int32_t size) {
  int32_t q = size / 1024, r = size % 1024;
  if (2 * r > 1024 || (2 * r == 1024 && (q & 1))) ++q;
  return q;
}

// The books listed are the export's inputs: it never replaces one of them.
void WriteExport(const std::string& path, const Books& books, const std::string& text) {
  std::vector<std::string> inputs;
  for (const auto& book : books) inputs.push_back(book->Path());
  formats::RefuseOverwritingInput(path, inputs);
  formats::AtomicFileWriter out(path);
  out.Write(formats::Utf8ToCp1252Lossy(text));
  out.Commit();
}

}  // namespace

std::string PagesAndSizeLine(int16_t pages, int32_t size, bool encrypted) {
  return std::to_string(pages) + (pages == 1 ? " page, " : " pages, ") +
         std::to_string(KilobytesRoundedHalfEven(size)) + " KB" + (encrypted ? "<br />" : ", Not Encrypted<br />");
}

std::string EscapeUrl(std::string_view address) {
  std::string out;
  out.reserve(address.size() + 16);
  for (char c : address) {
    if (c == '-')
      out += "%2D";
    else if (c == '_')
      out += "%5F";
    else
      out += c;
  }
  return out;
}

std::string Book::BookshelfItem(const std::string& base_url) const {
  return "None:" + book_id_ + "\t" + title_ + "\t" + author_ + "\t" + category_ + "\t" + std::to_string(size_) + "\t" +
         base_url + file_name_ + "\t1\t17";
}

std::string Bookshelf::BookshelfText() const {
  if (!file_list_) formats::Raise(formats::kObjectNotSet);
  std::string base = formats::Utf8ToCp1252Lossy(base_url_);
  std::string text = "1\n";
  for (const std::string& path : *file_list_) {
    if (std::filesystem::path(path).extension() != ".imp") continue;
    text += ShelfRecord(base, path);
    text += '\n';
  }
  text += '\n';
  return formats::Cp1252ToUtf8(text);
}

void Bookshelf::CreateBooklist(const std::string& path) {
  if (!books_) return;
  Sort();
  std::string doc;
  auto line = [&doc](const std::string& text) { doc += text + "\r\n"; };
  line("<html>");
  line("<head><title>" + std::filesystem::path(path).stem().string() + "</title>");
  line("<meta name=\"author\" content=\"" + Today() + "\" />");
  line("<meta name=\"genre\" content=\"eBooks\" />");
  line("<style type=\"text/x-oeb1-css\">");
  line("body {margin-left:10pt; margin-right:10pt; x-ikl-widow-push:1; x-ikl-orphan-pull:1}");
  line("p {font-family:serif; font-size:x-small}");
  line(".detail {font-family:serif; font-size:xx-small}");
  line(".ID {font-family:smallfont; font-size:xx-small}");
  line("footer {display:none; display:oeb-page-foot; oeb-column-number:1; margin-top:10pt}");
  line("</style>");
  line("</head>");
  line("<body>");
  line("<footer><span style=\"font-family:smallfont; text-align:center\">" + path + "</span></footer>");
  line("<div style=\"oeb-column-number:2\">");
  std::string category;
  for (const auto& book : *books_) {
    if (book->Category() != category) {
      category = book->Category();
      line("<hr />");
      line("<p>" + category + "</p>");
      line("<hr />");
    }
    line("<p>" + book->Title() + "<br />");
    line("<span class=\"detail\">" + book->Author() + "<br />");
    line(PagesAndSizeLine(book->Pages(), book->Size(), book->Encrypted()));
    line("<span class=\"ID\">" + book->BookId() + "</span><br />");
    line("<a href=\"" + book->Path() + "\">" + std::filesystem::path(book->Path()).stem().string() + "</a></span></p>");
  }
  line("</div>");
  line("</body>");
  line("</html>");
  WriteExport(path, *books_, doc);
}

std::string BookListText(const Books& books, const std::string& base_url) {
  std::string text;
  for (const auto& book : books) text += book->BookshelfItem(base_url) + "\r\n";
  return text;
}

void WriteBookListText(const Books& books, const std::string& base_url, const std::string& path) {
  WriteExport(path, books, BookListText(books, base_url));
}

RemoteBookShelf SplitRemoteBookShelfUrl(const std::string& url) {
  size_t slash = url.find_last_of('/');
  if (slash == std::string::npos) return {"", url};
  return {url.substr(0, slash + 1), url.substr(slash + 1)};
}

RemoteBookShelf RemoteBookShelfLocation() {
  return SplitRemoteBookShelfUrl(ReadUserSetting(kRemoteBookShelfUrl).value_or(""));
}

}  // namespace vellix
