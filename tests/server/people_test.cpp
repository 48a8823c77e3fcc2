// The server's side for people and reader apps: the catalogue, a book's
// page and reader with its page images, and the OPDS catalogue.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <array>
#include <filesystem>

#include "http_client.h"
#include "opds.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

namespace vellix::testing {
namespace {

namespace fs = std::filesystem;
using fixtures::Info;
using fixtures::SimpleBookFile;
using fixtures::TempDir;
using server::kOpdsAcquisitionRel;
using server::kOpdsThumbnailRel;

// Width, height and bit depth from a PNG's header.
std::array<uint32_t, 3> PngHeaderOf(const std::string& png) {
  if (png.size() < 33 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {};
  auto be32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = at; i < at + 4; ++i) v = v << 8 | static_cast<unsigned char>(png[i]);
    return v;
  };
  return {be32(16), be32(20), static_cast<unsigned char>(png[24])};
}

// One book of the suite's own making: a text published through the library.
std::string PublishText(const std::string& shelf_dir, const std::string& folder, const std::string& title) {
  std::string text;
  for (int i = 1; i <= 60; ++i)
    text += "Paragraph " + std::to_string(i) +
            " of the walk: the river bends, the path follows it, and the light "
            "changes on the water as the afternoon goes on.\n\n";
  const std::string source = folder + "/walk.txt";
  fixtures::WriteFile(source, text);
  Bookshelf shelf;
  shelf.Load(shelf_dir);
  auto book = std::make_shared<Book>();
  book->Load(source);
  book->SetTitle(title);
  book->SetAuthor("Tom Hale");
  book->SetCategory("Travel");
  std::string written;
  shelf.Add(book, nullptr, &written);
  return fs::path(written).stem().string();
}

class PeopleTest : public ::testing::Test {
 protected:
  PeopleTest() {
    fs::create_directory(shelf_);
    fixtures::WriteFile(shelf_ + "/MARKEDUP.imp", SimpleBookFile({.id = "M1",
                                                                  .category = "Poetry",
                                                                  .title = "<script>alert(1)</script> & more",
                                                                  .author_last = "O'Brien \"Q\""}));
    fixtures::WriteFile(shelf_ + "/ZEBRACRO.imp",
                        SimpleBookFile({.id = "Z9", .category = "Fiction", .title = "Zebra Crossing"}));
  }
  TempDir dir_;
  std::string shelf_ = dir_ / "shelf";
};

TEST_F(PeopleTest, CatalogueShowsStoredStringsAsTextFiltersSortsAndNeedsNoScript) {
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  HttpAnswer page = Get(port, "/");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_NE(page.Header("content-security-policy").find("script-src 'self'"), std::string::npos);
  EXPECT_NE(page.Header("content-security-policy").find("default-src 'none'"), std::string::npos);
  // The title is text: its markup escaped once for the page, never live.
  EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; more"), std::string::npos);
  EXPECT_EQ(page.body.find("<script>alert"), std::string::npos);
  EXPECT_NE(page.body.find("O&#39;Brien &quot;Q&quot;"), std::string::npos);
  EXPECT_NE(page.body.find("2 books"), std::string::npos);
  EXPECT_NE(page.body.find("src=\"/books/MARKEDUP/thumbnail.png\" loading=\"lazy\""), std::string::npos);
  // No upload form without a token.
  EXPECT_EQ(page.body.find("action=\"/publish\""), std::string::npos);
  // Every script comes from the server's own file.
  EXPECT_EQ(page.body.find("<script>"), std::string::npos);
  EXPECT_EQ(Get(port, "/static/app.js").status, 200);

  HttpAnswer found = Get(port, "/?q=zebra");
  EXPECT_NE(found.body.find("1 book of 2"), std::string::npos);
  EXPECT_EQ(found.body.find("MARKEDUP"), std::string::npos);
  HttpAnswer by_category = Get(port, "/?sort=category&order=desc");
  EXPECT_LT(by_category.body.find("MARKEDUP"), by_category.body.find("ZEBRACRO"));  // Poetry before Fiction
  HttpAnswer by_title = Get(port, "/?sort=title");
  EXPECT_LT(by_title.body.find("MARKEDUP"), by_title.body.find("ZEBRACRO"));  // "<script>" before "Zebra"
  // A search text is shown back as text too.
  HttpAnswer echoed = Get(port, "/?q=%22%3E%3Cb%3E");
  EXPECT_NE(echoed.body.find("value=\"&quot;&gt;&lt;b&gt;\""), std::string::npos);

  HttpAnswer gz = Get(port, "/", "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(gz.Header("content-encoding"), "gzip");
}

TEST_F(PeopleTest, ReaderPagesAreDrawnByTheViewerAtTheAskedSize) {
  const std::string id = PublishText(shelf_, dir_.path(), "A Walk by the River");
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  HttpAnswer page = Get(port, "/books/" + id);
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<h1>A Walk by the River</h1>"), std::string::npos);
  EXPECT_NE(page.body.find("Page 1 of "), std::string::npos);
  EXPECT_NE(page.body.find("href=\"/books/" + id + "?page=2\""), std::string::npos);
  EXPECT_NE(page.body.find("href=\"/books/" + id + ".imp\" download"), std::string::npos);

  HttpAnswer image = Get(port, "/books/" + id + "/pages/1.png");
  ASSERT_EQ(image.status, 200);
  EXPECT_EQ(image.Header("content-type"), "image/png");
  EXPECT_EQ(PngHeaderOf(image.body), (std::array<uint32_t, 3>{480, 640, 4}));
  HttpAnswer small = Get(port, "/books/" + id + "/pages/2.png?width=300&height=400&depth=8");
  EXPECT_EQ(PngHeaderOf(small.body), (std::array<uint32_t, 3>{300, 400, 8}));
  EXPECT_NE(small.body, Get(port, "/books/" + id + "/pages/1.png?width=300&height=400&depth=8").body);
  HttpAnswer zoomed = Get(port, "/books/" + id + "?zoom=1");
  EXPECT_NE(zoomed.body.find("/pages/1.png?zoom=1"), std::string::npos);

  for (const auto& [page, status] :
       {std::pair{"9999.png", 404}, {"0.png", 404}, {"1.png?width=5", 400}, {"1.png?depth=3", 400}})
    EXPECT_EQ(Get(port, "/books/" + id + "/pages/" + page).status, status) << page;
  HttpAnswer thumbnail = Get(port, "/books/" + id + "/thumbnail.png");
  ASSERT_EQ(thumbnail.status, 200);
  EXPECT_LE(PngHeaderOf(thumbnail.body)[0], 120u);

  // A book the viewer cannot lay out still has its page, saying so.
  HttpAnswer broken = Get(port, "/books/ZEBRACRO");
  EXPECT_EQ(broken.status, 200);
  EXPECT_NE(broken.body.find("cannot be shown"), std::string::npos);
  EXPECT_EQ(Get(port, "/books/ZEBRACRO/thumbnail.png").status, 404);
}

TEST_F(PeopleTest, EachBookIsOfferedAsEpubInTheCatalogueAndOpds) {
  const std::string id = PublishText(shelf_, dir_.path(), "A Walk by the River");
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  const std::string href = "/books/" + id + ".epub";
  EXPECT_NE(Get(port, "/").body.find("href=\"" + href + "\" type=\"application/epub+zip\" download"),
            std::string::npos);
  EXPECT_NE(Get(port, "/books/" + id).body.find("href=\"" + href + "\""), std::string::npos);
  pugi::xml_document feed;
  ASSERT_TRUE(feed.load_string(Get(port, "/opds/all").body.c_str()));
  EXPECT_TRUE(feed.select_node(("/feed/entry/link[@rel='" + std::string(kOpdsAcquisitionRel) + "'][@href='" + href +
                                "'][@type='application/epub+zip']")
                                   .c_str()));

  HttpAnswer epub = Get(port, href);
  ASSERT_EQ(epub.status, 200);
  EXPECT_EQ(epub.Header("content-type"), "application/epub+zip");
  // A zip whose first entry is the stored media type.
  EXPECT_EQ(epub.body.substr(0, 4), std::string("PK\3\4"));
  EXPECT_EQ(epub.body.substr(30, 28), "mimetypeapplication/epub+zip");
  EXPECT_NE(epub.Header("content-disposition").find(id + ".epub"), std::string::npos);
  EXPECT_EQ(Get(port, href, "If-None-Match: " + epub.Header("etag") + "\r\n").status, 304);
  EXPECT_EQ(Get(port, href).body, epub.body);
  // A book file the suite did not build has no EPUB; nothing else is named.
  EXPECT_EQ(Get(port, "/books/ZEBRACRO.epub").status, 404);
  EXPECT_EQ(Get(port, "/books/NOSUCH.epub").status, 404);
}

TEST_F(PeopleTest, OpdsCatalogueNavigatesByCategoryAndAuthorAndSearches) {
  RunningServer server({.shelf = shelf_});
  const int port = server.port();
  auto feed = [&](const std::string& target, pugi::xml_document* doc) {
    HttpAnswer answer = Get(port, target);
    EXPECT_EQ(answer.status, 200) << target;
    EXPECT_TRUE(doc->load_string(answer.body.c_str())) << target << "\n" << answer.body;
    return answer;
  };
  pugi::xml_document root;
  HttpAnswer answer = feed("/opds", &root);
  EXPECT_NE(answer.Header("content-type").find("profile=opds-catalog;kind=navigation"), std::string::npos);
  EXPECT_TRUE(root.select_node("/feed/link[@rel='search'][@href='/opds/opensearch.xml']"));
  EXPECT_TRUE(root.select_node("/feed/entry/link[@href='/opds/categories']"));
  EXPECT_TRUE(root.select_node("/feed/entry/link[@href='/opds/authors']"));

  pugi::xml_document categories;
  feed("/opds/categories", &categories);
  EXPECT_TRUE(categories.select_node("/feed/entry[title='Poetry']/link[@href='/opds/categories/Poetry']"));
  pugi::xml_document poetry;
  feed("/opds/categories/Poetry", &poetry);
  auto entries = poetry.select_nodes("/feed/entry");
  ASSERT_EQ(entries.size(), 1u);
  pugi::xml_node entry = entries.first().node();
  EXPECT_STREQ(entry.child_value("title"), "<script>alert(1)</script> & more");
  pugi::xml_node acquisition = entry.find_child_by_attribute("link", "rel", kOpdsAcquisitionRel);
  EXPECT_STREQ(acquisition.attribute("href").value(), "/books/MARKEDUP.imp");
  EXPECT_EQ(acquisition.attribute("length").as_ullong(), fs::file_size(shelf_ + "/MARKEDUP.imp"));
  EXPECT_STREQ(entry.find_child_by_attribute("link", "rel", kOpdsThumbnailRel).attribute("href").value(),
               "/books/MARKEDUP/thumbnail.png");

  pugi::xml_document authors;
  feed("/opds/authors", &authors);
  EXPECT_EQ(authors.select_nodes("/feed/entry").size(), 2u);
  pugi::xml_document search;
  feed("/opds/search?q=zebra", &search);
  EXPECT_EQ(search.select_nodes("/feed/entry").size(), 1u);
  pugi::xml_document description;
  feed("/opds/opensearch.xml", &description);
  EXPECT_STREQ(description.select_node("//Url").node().attribute("template").value(), "/opds/search?q={searchTerms}");
  EXPECT_EQ(Get(port, "/opds/categories/Nothing").status, 404);
}

}  // namespace
}  // namespace vellix::testing
