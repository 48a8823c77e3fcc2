// Publishing by upload: refused without the token, over the size limit or
// with a broken form, and, with all in order, published on a worker with
// the build's events streamed, the book then on every list.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "http_client.h"
#include "test_util.h"

namespace vellix::testing {
namespace {

namespace fs = std::filesystem;
using fixtures::Names;
using fixtures::TempDir;

constexpr char kBoundary[] = "----vellixtestboundary";

std::string Part(const std::string& name, const std::string& value, const std::string& file_name = "") {
  std::string part = std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
  if (!file_name.empty()) part += "; filename=\"" + file_name + "\"\r\nContent-Type: text/plain";
  return part + "\r\n\r\n" + value + "\r\n";
}

std::string Form(const std::vector<std::string>& parts) {
  std::string body;
  for (const std::string& p : parts) body += p;
  return body + "--" + kBoundary + "--\r\n";
}

const std::string kFormType = std::string("Content-Type: multipart/form-data; boundary=") + kBoundary + "\r\n";

// The address of the build's events that an accepted upload's JSON names.
std::string EventsUrl(const HttpAnswer& accepted) {
  const size_t at = accepted.body.find("\"events\":\"");
  EXPECT_NE(at, std::string::npos) << accepted.body;
  return at == std::string::npos ? "" : accepted.body.substr(at + 10, accepted.body.find('"', at + 10) - at - 10);
}

class PublishTest : public ::testing::Test {
 protected:
  PublishTest() { fs::create_directory(shelf_); }
  TempDir dir_;
  std::string shelf_ = dir_ / "shelf";
  std::string text_ = "The first line of the notes.\n\nA second paragraph, short.\n";
};

TEST_F(PublishTest, RefusalsWriteNothing) {
  RunningServer server({.shelf = shelf_, .upload_token = "s3cret-token", .max_upload = 4096});
  const int port = server.port();
  const std::string form = Form({Part("title", "Notes"), Part("file", text_, "notes.txt")});
  const std::string with_token = Form({Part("token", "s3cret-token"), Part("file", text_, "notes.txt")});

  const std::string bearer = "Authorization: Bearer s3cret-token\r\n";
  auto post = [&](const std::string& headers, const std::string& body) {
    return Request(port, "POST", "/publish", headers, body).status;
  };
  EXPECT_EQ(post(kFormType, form), 401);
  EXPECT_EQ(post(kFormType + "Authorization: Bearer wrong\r\n", form), 401);
  EXPECT_EQ(post(kFormType, Form({Part("token", "s3cret-tokem"), Part("file", text_, "notes.txt")})), 401);
  // Over the limit, by its declared length or by what arrives.
  EXPECT_EQ(post(kFormType, Form({Part("token", "s3cret-token"), Part("file", std::string(8000, 'a'), "big.txt")})),
            413);
  HttpAnswer huge = Request(port, "POST", "/publish", kFormType + bearer + "Content-Length: 999999999999\r\n");
  EXPECT_TRUE(huge.status == 413 || huge.closed_early);
  // Broken or wrong forms.
  EXPECT_EQ(post(kFormType + bearer,
                 std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nno end"),
            400);
  EXPECT_EQ(post("Content-Type: text/plain\r\n" + bearer, "just text"), 400);
  EXPECT_EQ(post(kFormType, Form({Part("token", "s3cret-token"), Part("file", "x", "run.sh")})), 400);
  // The kinds are the shelf's own, less a package: it names files that
  // cannot come with it.
  HttpAnswer package =
      Request(port, "POST", "/publish", kFormType + bearer, Form({Part("file", "<package/>", "book.opf")}));
  EXPECT_EQ(package.status, 400);
  EXPECT_NE(package.body.find("only .oeb, .odf, .htm, .html, .epub, .txt, .md, .markdown or a ready .imp book"),
            std::string::npos)
      << package.body;
  EXPECT_EQ(Names(shelf_).size(), 0u);

  // Without a token given to the server, there is no publishing at all.
  RunningServer closed({.shelf = shelf_});
  EXPECT_EQ(Request(closed.port(), "POST", "/publish", kFormType, with_token).status, 404);
  EXPECT_EQ(Names(shelf_).size(), 0u);
}

TEST_F(PublishTest, AnUploadIsPublishedWithItsEventsAndThenListedEverywhere) {
  RunningServer server({.shelf = shelf_, .upload_token = "s3cret-token"});
  const int port = server.port();
  HttpAnswer accepted =
      Request(port, "POST", "/publish", kFormType + "Accept: application/json\r\n",
              Form({Part("token", "s3cret-token"), Part("title", "Field <Notes> & More"), Part("author", "Ann Lee"),
                    Part("category", "Notes"), Part("file", text_, "../../notes.txt")}));
  ASSERT_EQ(accepted.status, 202) << accepted.body;
  HttpAnswer events = Get(port, EventsUrl(accepted));
  EXPECT_EQ(events.Header("content-type"), "text/event-stream");
  EXPECT_NE(events.body.find("event: source\n"), std::string::npos) << events.body;
  EXPECT_NE(events.body.find("event: progress\n"), std::string::npos);
  const size_t done = events.body.find("event: done\ndata: {");
  ASSERT_NE(done, std::string::npos) << events.body;
  EXPECT_NE(events.body.find("\"ok\":true", done), std::string::npos) << events.body;

  HttpAnswer list = Get(port, "/list.txt");
  EXPECT_NE(list.body.find("\tField <Notes> & More\t"), std::string::npos) << list.body;
  EXPECT_NE(Get(port, "/").body.find("Field &lt;Notes&gt; &amp; More"), std::string::npos);
  EXPECT_NE(Get(port, "/opds/all").body.find("<title>Field &lt;Notes&gt; &amp; More</title>"), std::string::npos);
  // The book is the only thing written on the shelf; the upload went
  // nowhere else near it (its "../" is not followed).
  const std::vector<std::string> files = Names(shelf_);
  EXPECT_TRUE(files.size() == 1 && files[0].ends_with(".imp")) << ::testing::PrintToString(files);
  EXPECT_FALSE(fs::exists(dir_ / "notes.txt"));

  // Without script, the form's answer sends the browser to the status page.
  // Markdown is taken as the shelf takes it.
  HttpAnswer plain = Request(port, "POST", "/publish", kFormType,
                             Form({Part("token", "s3cret-token"), Part("file", "# Again\n\nText.\n", "again.md")}));
  EXPECT_EQ(plain.status, 303);
  EXPECT_EQ(plain.Header("location").rfind("/publish/", 0), 0u);
  EXPECT_EQ(Get(port, plain.Header("location")).status, 200);
}

// An upload linking to a file of the server's machine by its absolute path:
// the file does not reach the published book.
TEST_F(PublishTest, AnUploadCarriesNoFileOfTheServerIntoTheBook) {
  const std::string secret = dir_.Write("secret.htm", "<html><body><p>PRIVATE-WORDS</p></body></html>");
  RunningServer server({.shelf = shelf_, .upload_token = "s3cret-token"});
  const std::string page =
      "<html><head><title>Page</title></head><body><p>Open <a href=\"" + secret + "\">this</a>.</p></body></html>";
  HttpAnswer accepted = Request(server.port(), "POST", "/publish", kFormType + "Accept: application/json\r\n",
                                Form({Part("token", "s3cret-token"), Part("file", page, "page.htm")}));
  ASSERT_EQ(accepted.status, 202) << accepted.body;
  const std::string events = Get(server.port(), EventsUrl(accepted)).body;
  EXPECT_NE(events.find("\"ok\":true"), std::string::npos) << events;
  const std::vector<std::string> books = Names(shelf_);
  ASSERT_EQ(books.size(), 1u) << ::testing::PrintToString(books);
  fixtures::ToolOutcome text = fixtures::RunTool(VELLIX_TOOL, {"view", shelf_ + "/" + books[0], "--text"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out.find("PRIVATE-WORDS"), std::string::npos) << text.out;
}

}  // namespace
}  // namespace vellix::testing
