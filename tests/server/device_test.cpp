// The device's side of the server: the bookshelf text and the addresses in
// it, the book list text, downloads by name with their conditional and
// partial forms, and nothing served from outside the shelf.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "http_client.h"
#include "test_util.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/codepage.h"

namespace vellix::testing {
namespace {

namespace fs = std::filesystem;
using fixtures::Info;
using fixtures::SimpleBookFile;
using fixtures::SourceRecord;
using fixtures::TempDir;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// The address's path and query as a device's URL client sends them: bytes
// a request line cannot carry (spaces, controls, 8-bit) percent-encoded.
std::string TargetOf(const std::string& address, int port) {
  const std::string root = "http://127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(address.rfind(root, 0), 0u) << address;
  std::string target;
  for (unsigned char c : address.substr(root.size())) {
    if (c <= 0x20 || c >= 0x7F) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      target += escaped;
    } else {
      target += static_cast<char>(c);
    }
  }
  return target;
}

class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest() {
    fs::create_directory(shelf_);
    books_["PLAINBOO.imp"] = SimpleBookFile({.id = "1234", .title = "Plain & Simple"});
    books_["DAILYNEW.imp"] = SimpleBookFile({.id = "daily_news-7", .category = "News", .title = "Daily"},
                                            SourceRecord("SRC_1", "P", 7, "feed"));
    books_["ODDIDENT.imp"] = SimpleBookFile({.id = "A&B=C d", .title = "Caf\xE9"},  // a code-page byte
                                            SourceRecord("9", "Q", std::nullopt, ""), std::string(5000, 'x'));
    for (const auto& [name, bytes] : books_) fixtures::WriteFile(shelf_ + "/" + name, bytes);
  }

  TempDir dir_;
  std::string shelf_ = dir_ / "shelf";
  std::map<std::string, std::string> books_;
};

TEST_F(DeviceTest, EveryAddressOfTheBookshelfTextAndBookListGivesItsBookByteForByte) {
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  HttpAnswer list = Get(port, "/list.txt");
  ASSERT_EQ(list.status, 200);
  EXPECT_EQ(list.Header("content-type"), "text/plain; charset=windows-1252");

  // The library's own bookshelf text for the same folder and base.
  Bookshelf library_shelf;
  library_shelf.SetDirectory(shelf_);
  library_shelf.SetBaseURL("http://127.0.0.1:" + std::to_string(port) + "/book");
  EXPECT_EQ(list.body, formats::Utf8ToCp1252Lossy(library_shelf.BookshelfText()));

  std::vector<std::string> lines = Split(list.body, '\n');
  ASSERT_EQ(lines.size(), 2 + books_.size());  // "1", the records, the closing empty line
  size_t followed = 0;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::vector<std::string> columns = Split(lines[i], '\t');
    ASSERT_EQ(columns.size(), 8u) << lines[i];
    HttpAnswer book = Get(port, TargetOf(columns[5], port));
    ASSERT_EQ(book.status, 200) << columns[5];
    const std::string expected_name = columns[1] == "Daily"            ? "DAILYNEW.imp"
                                      : columns[1] == "Plain & Simple" ? "PLAINBOO.imp"
                                                                       : "ODDIDENT.imp";
    EXPECT_EQ(book.body, books_[expected_name]) << columns[5];
    EXPECT_EQ(book.Header("content-disposition").find("filename=\"" + expected_name + "\""), 12u);
    ++followed;
  }
  EXPECT_EQ(followed, 3u);

  // The same query fully percent-encoded, as a careful client sends it.
  HttpAnswer encoded = Get(port, "/book?BOOK%5FID=1234&SOURCE%5FID=3&SOURCE%5FTYPE=B");
  EXPECT_EQ(encoded.body, books_["PLAINBOO.imp"]);
  EXPECT_EQ(Get(port, "/book?BOOK%5FID=1234&SOURCE%5FID=3&SOURCE%5FTYPE=X").status, 404);
  EXPECT_EQ(Get(port, "/book?BOOK%5FID=nothing&SOURCE%5FID=3&SOURCE%5FTYPE=B").status, 404);

  HttpAnswer booklist = Get(port, "/booklist.txt");
  ASSERT_EQ(booklist.status, 200);
  std::vector<std::string> items = Split(booklist.body, '\n');
  ASSERT_EQ(items.size(), books_.size());
  for (const std::string& item : items) {
    ASSERT_EQ(item.back(), '\r');
    std::vector<std::string> columns = Split(item.substr(0, item.size() - 1), '\t');
    ASSERT_EQ(columns.size(), 8u);
    const std::string name = columns[5].substr(columns[5].rfind('/') + 1);
    EXPECT_EQ(Get(port, TargetOf(columns[5], port)).body, books_[name]) << columns[5];
  }
}

TEST_F(DeviceTest, BaseUrlComesFromTheOptionOrTheHostAndDamagedBooksAreLeftOut) {
  fixtures::WriteFile(shelf_ + "/DAMAGED.imp", "not a book at all");
  {
    RunningServer server({.shelf = shelf_, .base_url = "https://books.example.org/shelf/"});
    HttpAnswer list = Get(server.port(), "/list.txt");
    EXPECT_NE(list.body.find("\thttps://books.example.org/shelf/book?BOOK%5FID=1234&SOURCE%5FID=3&SOURCE%5FTYPE=B\t"),
              std::string::npos);
    EXPECT_EQ(Split(list.body, '\n').size(), 5u);  // the damaged book is not listed
    EXPECT_NE(server.Log().find("DAMAGED.imp"), std::string::npos);
    // The address's own path is answered too, as a proxy passes it on.
    EXPECT_EQ(Get(server.port(), "/shelf/book?BOOK_ID=1234&SOURCE_ID=3&SOURCE_TYPE=B").body, books_["PLAINBOO.imp"]);
  }
  RunningServer server({.shelf = shelf_});
  HttpAnswer list = Get(server.port(), "/list.txt", "Host: shelf.local:8080\r\n");
  EXPECT_NE(list.body.find("\thttp://shelf.local:8080/book?BOOK%5FID=1234&"), std::string::npos);
  // A Host that is no host name is not written into the list.
  list = Get(server.port(), "/list.txt", "Host: evil\"<x>/\r\n");
  EXPECT_EQ(list.body.find("evil"), std::string::npos);
  EXPECT_NE(list.body.find("\thttp://127.0.0.1:" + std::to_string(server.port()) + "/book?"), std::string::npos);
}

TEST_F(DeviceTest, DownloadsAnswerRangesConditionsAndHead) {
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  const std::string& bytes = books_["ODDIDENT.imp"];
  HttpAnswer whole = Get(port, "/books/ODDIDENT.imp");
  ASSERT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, bytes);
  EXPECT_EQ(whole.Header("accept-ranges"), "bytes");
  const std::string etag = whole.Header("etag");
  const std::string modified = whole.Header("last-modified");
  ASSERT_FALSE(etag.empty());
  ASSERT_FALSE(modified.empty());

  HttpAnswer part = Get(port, "/books/ODDIDENT.imp", "Range: bytes=100-199\r\n");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, bytes.substr(100, 100));
  EXPECT_EQ(part.Header("content-range"), "bytes 100-199/" + std::to_string(bytes.size()));
  HttpAnswer tail = Get(port, "/books/ODDIDENT.imp", "Range: bytes=-10\r\n");
  EXPECT_EQ(tail.body, bytes.substr(bytes.size() - 10));
  HttpAnswer rest = Get(port, "/books/ODDIDENT.imp", "Range: bytes=4000-\r\n");
  EXPECT_EQ(rest.body, bytes.substr(4000));
  EXPECT_EQ(Get(port, "/books/ODDIDENT.imp", "Range: bytes=999999-\r\n").status, 416);
  // A resumed download of a file that changed starts over.
  HttpAnswer stale = Get(port, "/books/ODDIDENT.imp", "Range: bytes=100-199\r\nIf-Range: \"old\"\r\n");
  EXPECT_EQ(stale.status, 200);
  EXPECT_EQ(stale.body, bytes);

  EXPECT_EQ(Get(port, "/books/ODDIDENT.imp", "If-None-Match: " + etag + "\r\n").status, 304);
  EXPECT_EQ(Get(port, "/books/ODDIDENT.imp", "If-Modified-Since: " + modified + "\r\n").status, 304);
  EXPECT_EQ(Get(port, "/books/ODDIDENT.imp", "If-None-Match: \"other\"\r\n").status, 200);
  HttpAnswer list = Get(port, "/list.txt");
  EXPECT_EQ(Get(port, "/list.txt", "If-None-Match: " + list.Header("etag") + "\r\n").status, 304);

  HttpAnswer head = Request(port, "HEAD", "/books/ODDIDENT.imp");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), std::to_string(bytes.size()));
  EXPECT_TRUE(head.body.empty());

  // Text goes compressed to clients that take it.
  HttpAnswer gz = Get(port, "/list.txt", "Accept-Encoding: gzip\r\n");
  EXPECT_EQ(gz.Header("content-encoding"), "gzip");
  EXPECT_NE(gz.body, list.body);

  // One access log line per request, in the common log format.
  EXPECT_NE(server.Log().find("127.0.0.1 - - ["), std::string::npos);
  EXPECT_NE(server.Log().find("] \"GET /books/ODDIDENT.imp HTTP/1.1\" 206 100\n"), std::string::npos);
}

TEST_F(DeviceTest, NothingOutsideTheShelfIsServed) {
  // A real book beside the shelf and a link to it inside: both must stay out.
  fixtures::WriteFile(dir_ / "SECRET.imp", SimpleBookFile(Info{}));
  fixtures::WriteFile(dir_ / "passwd", "root:x:0:0");
  fs::create_symlink(dir_ / "SECRET.imp", shelf_ + "/LINKOUT.imp");
  fs::create_symlink(shelf_ + "/PLAINBOO.imp", shelf_ + "/LINKIN.imp");
  fixtures::WriteFile(shelf_ + "/notes.txt", "not a book");
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  for (const std::string& target : std::vector<std::string>{
           "/books/../SECRET.imp", "/books/%2e%2e/SECRET.imp", "/books/%2E%2E%2FSECRET.imp", "/books/..%2fSECRET.imp",
           "/books/..%5cSECRET.imp", "/books/%2e%2e%5cSECRET.imp", "/books//SECRET.imp", "/..%2fSECRET.imp",
           "/books/%2F" + (dir_ / "SECRET.imp"), "/books/" + (dir_ / "SECRET.imp"), "/books/LINKOUT.imp",
           "/books/LINKOUT", "/books/notes.txt", "/books/notes", "/books/%00PLAINBOO.imp", "/static/../../passwd",
           "/list.txt/../../passwd", "/books/PLAINBOO.imp/../../passwd", "/opds/../../passwd"}) {
    HttpAnswer answer = Get(port, target);
    EXPECT_EQ(answer.status, 404) << target;
    EXPECT_EQ(answer.body.find("root:x"), std::string::npos) << target;
  }
  EXPECT_EQ(Get(port, "/list.txt").body.find("LINKOUT"), std::string::npos);
  // A link that stays inside the shelf is a book like any other.
  EXPECT_EQ(Get(port, "/books/LINKIN.imp").body, books_["PLAINBOO.imp"]);
}

TEST_F(DeviceTest, BooksAddedReplacedAndRemovedOnDiskShowWithoutRestart) {
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  EXPECT_EQ(Split(Get(port, "/list.txt").body, '\n').size(), 5u);
  Info added{.id = "NEW1", .title = "Freshly Added"};
  // As our writers do: a temporary file renamed into place.
  fixtures::WriteFile(shelf_ + "/.tmp-new", SimpleBookFile(added));
  fs::rename(shelf_ + "/.tmp-new", shelf_ + "/FRESHADD.imp");
  HttpAnswer list = Get(port, "/list.txt");
  EXPECT_NE(list.body.find("Freshly Added"), std::string::npos);
  EXPECT_NE(Get(port, "/").body.find("Freshly Added"), std::string::npos);

  added.title = "Replaced Title";
  fixtures::WriteFile(shelf_ + "/.tmp-new", SimpleBookFile(added));
  fs::rename(shelf_ + "/.tmp-new", shelf_ + "/FRESHADD.imp");
  EXPECT_NE(Get(port, "/list.txt").body.find("Replaced Title"), std::string::npos);

  fs::remove(shelf_ + "/FRESHADD.imp");
  EXPECT_EQ(Get(port, "/list.txt").body.find("Replaced Title"), std::string::npos);
  EXPECT_EQ(Get(port, "/books/FRESHADD.imp").status, 404);
}

TEST_F(DeviceTest, SlowAndSilentClientsAreCutOffAndOthersStillServed) {
  RunningServer server({.shelf = shelf_, .header_timeout_ms = 1000, .idle_timeout_ms = 600, .max_connections = 4});
  const int port = server.port();
  // Silent: connects and sends nothing. Trickling: a byte every 200 ms,
  // never idle long enough for the idle limit, cut off by the header limit.
  int silent = Connect(port);
  int trickle = Connect(port);
  ASSERT_GE(silent, 0);
  ASSERT_GE(trickle, 0);
  const auto start = std::chrono::steady_clock::now();
  const std::string partial =
      "GET /list.txt HTTP/1.1\r\nHost: x\r\nX-Slow: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
  bool trickle_closed = false;
  for (size_t i = 0; i < partial.size() && !trickle_closed; ++i) {
    if (::send(trickle, &partial[i], 1, MSG_NOSIGNAL) != 1) trickle_closed = true;
    pollfd p{trickle, POLLIN, 0};
    if (::poll(&p, 1, 200) > 0) {
      char c;
      trickle_closed = ::recv(trickle, &c, 1, 0) <= 0;
    }
  }
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(trickle_closed);
  EXPECT_LT(waited, 3.0);
  char c;
  pollfd p{silent, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_LE(::recv(silent, &c, 1, 0), 0);
  ::close(silent);
  ::close(trickle);
  EXPECT_EQ(Get(port, "/list.txt").status, 200);

  // More connections than the limit: the extra ones wait their turn.
  std::vector<int> idle;
  for (int i = 0; i < 6; ++i) idle.push_back(Connect(port));
  HttpAnswer answer = Get(port, "/list.txt");
  EXPECT_EQ(answer.status, 200);
  for (int fd : idle) ::close(fd);
}

}  // namespace
}  // namespace vellix::testing
