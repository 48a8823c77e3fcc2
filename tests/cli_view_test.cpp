// `vellix view` as a user runs it: a text published with the tool itself,
// then shown as page images, a page count and page text; the screen's size
// and depth from the options or the device settings file; what it says
// about books it cannot show and options it cannot use.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

ToolOutcome Vellix(const std::vector<std::string>& args) { return RunTool(VELLIX_TOOL, args); }

// A PNG's width, height, bit depth and colour type, as its header says;
// zeros when it is no PNG.
std::tuple<uint32_t, uint32_t, int, int> PngShape(const std::string& path) {
  const std::string bytes = ReadFile(path);
  if (bytes.size() < 26 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
    return {0, 0, 0, 0};
  auto u32 = [&](size_t at) {
    return uint32_t{uint8_t(bytes[at])} << 24 | uint32_t{uint8_t(bytes[at + 1])} << 16 |
           uint32_t{uint8_t(bytes[at + 2])} << 8 | uint8_t(bytes[at + 3]);
  };
  return {u32(16), u32(20), uint8_t(bytes[24]), uint8_t(bytes[25])};
}

// The screen settings of the device, in a configuration folder of the
// test's own: every run of the tool reads it.
class ViewTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    books_ = new TempDir;
    const std::string text = "A Short Licence\n\n" +
                             std::string(
                                 "Permission is hereby granted to read, copy and share this text in any "
                                 "form, for any purpose, provided that this notice stays with every copy.\n\n") +
                             ReadFile(VELLIX_TEST_DATA "/apache-2.0.txt");
    books_->Write("licence.txt", text);
    ToolOutcome to_htm =
        Vellix({"book", "text2htm", *books_ / "licence.txt", *books_ / "licence.htm", "--title", "A Short Licence"});
    ASSERT_EQ(to_htm.code, 0) << to_htm.err;
    ToolOutcome built = Vellix({"build", "--html", *books_ / "licence.htm", "-o", *books_ / "licence.imp"});
    ASSERT_EQ(built.code, 0) << built.err;
  }
  static void TearDownTestSuite() {
    delete books_;
    books_ = nullptr;
  }
  void SetUp() override {
    const char* old = getenv("XDG_CONFIG_HOME");
    saved_config_ = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_config_)
      setenv("XDG_CONFIG_HOME", saved_config_->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  static std::string Book() { return *books_ / "licence.imp"; }
  int Pages(const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"view", Book(), "--pages"};
    args.insert(args.end(), more.begin(), more.end());
    ToolOutcome r = Vellix(args);
    EXPECT_EQ(r.code, 0) << r.err;
    return std::atoi(r.out.c_str());
  }

  static TempDir* books_;
  TempDir config_, dir_;
  std::optional<std::string> saved_config_;
};

TempDir* ViewTool::books_ = nullptr;

TEST_F(ViewTool, BookInfoGivesThePagesTheBookIsLaidOutInto) {
  ToolOutcome r = Vellix({"book", "info", Book(), "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_GT(j["Pages"].get<int>(), 1);
  EXPECT_EQ(j["Pages"].get<int>(), Pages());
  EXPECT_EQ(j["Size"].get<int64_t>(), static_cast<int64_t>(fs::file_size(Book())));
}

TEST_F(ViewTool, PageImagesTakeTheirSizeFromOptionsOrTheDeviceSettings) {
  ToolOutcome r = Vellix({"view", Book(), "-o", dir_ / "default.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(PngShape(dir_ / "default.png"), std::tuple(480u, 640u, 4, 0));  // grey

  config_.Write("Inkleaf Press/Common.conf", "[Preferences]\nDevice Width=300\nDevice Height=400\nDevice Depth=1\n");
  ASSERT_EQ(Vellix({"view", Book(), "-o", dir_ / "settings.png", "--page", "2"}).code, 0);
  EXPECT_EQ(PngShape(dir_ / "settings.png"), std::tuple(300u, 400u, 1, 0));

  // Options win over the settings, one by one.
  ASSERT_EQ(Vellix({"view", Book(), "-o", dir_ / "options.png", "--width", "200", "--depth", "8"}).code, 0);
  EXPECT_EQ(PngShape(dir_ / "options.png"), std::tuple(200u, 400u, 8, 0));
}

TEST_F(ViewTool, PagesTextAndEveryPage) {
  const int count = Pages();
  ASSERT_GE(count, 3);
  EXPECT_GT(Pages({"--zoom"}), count);

  ToolOutcome first = Vellix({"view", Book(), "--text", "--page", "1"});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.out.rfind("A Short Licence\n", 0), 0u) << first.out;
  // Without --page: every page, a form feed between them.
  ToolOutcome every = Vellix({"view", Book(), "--text"});
  ASSERT_EQ(every.code, 0) << every.err;
  EXPECT_EQ(std::count(every.out.begin(), every.out.end(), '\f'), count - 1);
  EXPECT_EQ(every.out.substr(0, every.out.find('\f')), first.out);
  ToolOutcome second = Vellix({"view", Book(), "--text", "--page", "2"});
  ASSERT_EQ(second.code, 0);
  EXPECT_NE(second.out, first.out);
  EXPECT_EQ(second.out.back(), '\n');
  ToolOutcome last = Vellix({"view", Book(), "--text", "--page", std::to_string(count)});
  EXPECT_NE(last.out.find("License."), std::string::npos) << last.out;
  ToolOutcome past = Vellix({"view", Book(), "--text", "--page", std::to_string(count + 1)});
  EXPECT_EQ(past.code, 1);
  EXPECT_EQ(past.err, "vellix: " + Book() + " has " + std::to_string(count) + " pages at this size; there is no page " +
                          std::to_string(count + 1) + "\n");

  // Every page, and nothing else, in a folder the tool makes.
  ToolOutcome all = Vellix({"view", Book(), "--all", dir_ / "pages", "--depth", "2"});
  ASSERT_EQ(all.code, 0) << all.err;
  EXPECT_EQ(all.out, "");  // no progress bar off a terminal
  std::vector<std::string> expected;
  for (int page = 1; page <= count; ++page) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%04d.png", page);
    expected.push_back(name);
  }
  EXPECT_EQ(Names(dir_ / "pages"), expected);
  EXPECT_EQ(std::get<2>(PngShape(dir_ / "pages/page-0001.png")), 2);
}

// A publisher checks a book built from two documents before it ships: the
// contents, every link (a broken one fails the check) and a phrase.
TEST_F(ViewTool, ChecksContentsLinksAndFindsText) {
  std::string filler;
  for (int i = 0; i < 30; ++i) filler += "<p>Filler " + std::to_string(i) + ", to fill the pages of this book.</p>";
  auto page = [](const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head><body>" +
           body + "</body></html>\n";
  };
  dir_.Write("one.htm", page("<h1>Start</h1><p>Go <a href=\"two.htm#more\">on</a> or <a href=\"two.htm#nope\">astray"
                             "</a> or <a href=\"https://example.com/\">away</a>.</p>" +
                             filler));
  dir_.Write("two.htm", page("<h1>Middle</h1>" + filler + "<h2 id=\"more\">More</h2><p>The tide turns.</p>"));
  const std::string book = dir_ / "proofs.imp";
  ToolOutcome built = Vellix({"build", "--html", dir_ / "one.htm", dir_ / "two.htm", "-o", book});
  ASSERT_TRUE(built.code == 0 || built.code == 1) << built.err;  // the broken link is reported
  ASSERT_TRUE(fs::exists(book)) << built.err;

  ToolOutcome contents = Vellix({"view", book, "--contents", "--json"});
  ASSERT_EQ(contents.code, 0) << contents.err;
  const auto entries = nlohmann::json::parse(contents.out);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], nlohmann::json({{"label", "Start"}, {"level", 1}, {"page", 1}}));
  EXPECT_EQ(entries[2]["label"], "More");
  EXPECT_EQ(entries[2]["level"], 2);
  const int more_page = entries[2]["page"];
  EXPECT_GT(more_page, entries[1]["page"].get<int>());
  ToolOutcome plain = Vellix({"view", book, "--contents"});
  EXPECT_NE(plain.out.find("page " + std::to_string(more_page) + "\tlevel 2\t  More\n"), std::string::npos)
      << plain.out;

  ToolOutcome links = Vellix({"view", book, "--links", "--json"});
  EXPECT_EQ(links.code, 1);  // a broken link fails the check
  const auto listed = nlohmann::json::parse(links.out);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(
      listed[0],
      nlohmann::json({{"page", 1}, {"text", "on"}, {"href", nullptr}, {"target_page", more_page}, {"broken", false}}));
  EXPECT_EQ(listed[1]["href"], "two.htm#nope");
  EXPECT_EQ(listed[1]["broken"], true);
  EXPECT_EQ(listed[1]["target_page"], nullptr);
  EXPECT_EQ(listed[2]["href"], "https://example.com/");
  EXPECT_EQ(listed[2]["broken"], false);
  ToolOutcome text = Vellix({"view", book, "--links"});
  EXPECT_EQ(text.code, 1);
  EXPECT_EQ(text.out, "page 1: \"on\" -> page " + std::to_string(more_page) +
                          "\npage 1: \"astray\" -> two.htm#nope (broken)\n"
                          "page 1: \"away\" -> https://example.com/ (outside the book)\n");
  // A book whose links all lead somewhere passes.
  ToolOutcome good = Vellix({"view", Book(), "--links"});
  EXPECT_EQ(good.code, 0) << good.out;

  ToolOutcome found = Vellix({"view", book, "--find", "THE TIDE"});
  ASSERT_EQ(found.code, 0) << found.err;
  EXPECT_EQ(found.out, "page " + std::to_string(more_page) + ": The tide turns.\n");
  ToolOutcome fillers = Vellix({"view", book, "--find", "filler 2,"});
  EXPECT_EQ(std::count(fillers.out.begin(), fillers.out.end(), '\n'), 2);  // once in each document
  EXPECT_EQ(Vellix({"view", book, "--find", "no such words"}).code, 3);
  EXPECT_EQ(Vellix({"view", book, "--find", "x", "--contents"}).code, 2);
  EXPECT_EQ(Vellix({"view", book, "--text", "--json"}).code, 2);
}

TEST_F(ViewTool, TheBodySizeComesFromTheSettingsNotTheWidth) {
  // A larger screen at the same size shows more text on each page.
  const int small = Pages();
  const int large_screen = Pages({"--width", "600", "--height", "800"});
  EXPECT_LT(large_screen, small);
  // Larger type, more pages; the settings file's Font Size as --font-size.
  const int larger_type = Pages({"--font-size", "30"});
  EXPECT_GT(larger_type, small);
  config_.Write("Inkleaf Press/Common.conf", "[Preferences]\nFont Size=30\n");
  EXPECT_EQ(Pages(), larger_type);
  EXPECT_EQ(Pages({"--font-size", "20"}), small);
  ToolOutcome bad = Vellix({"view", Book(), "--pages", "--font-size", "2"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("--font-size must be 6 to 120 pixels"), std::string::npos) << bad.err;
}

TEST_F(ViewTool, SaysWhyItCannotShowABook) {
  dir_.Write("notes.txt", "not a book\n");
  dir_.Write("other.imp", SimpleBookFile({"ID", "Cat", "", "Title", "A", "", ""}));
  ASSERT_EQ(::mkfifo((dir_ / "pipe.imp").c_str(), 0600), 0);
  // Each run fails with `code` and stderr matching `err`, printing nothing.
  auto fails = [](std::vector<std::string> args, int code, std::string err = "(.|\n)*") {
    return CliCase{.args = std::move(args), .code = code, .err = std::move(err), .out = ""};
  };
  const std::vector<CliCase> cases = {
      fails({"view", "@/missing.imp", "--pages"}, 1, "vellix: File not found: [^\n]+missing.imp \\(53\\)\n"),
      // Not waited on: refused like a missing file.
      fails({"view", "@/pipe.imp", "--text"}, 1, "vellix: File not found: [^\n]+pipe.imp \\(53\\)\n"),
      fails({"view", "@/notes.txt", "--pages"}, 1, "vellix: [^\n]+notes.txt is not a book file[^\n]*\n"),
      fails({"view", "@/other.imp", "-o", "@/x.png"}, 1,
            "vellix: [^\n]+other.imp is a book file this program did not make[^\n]*\n"),
      fails({"view", Book(), "-o", "@/no/such/page.png"}, 1, "vellix: [^\n]*page.png[^\n]*\n"),
      // Usage errors.
      fails({"view", Book()}, 2),
      fails({"view", Book(), "--pages", "--text"}, 2),
      fails({"view", Book(), "-o", "@/x.png", "--depth", "3"}, 2, "vellix: --depth must be 1, 2, 4 or 8, not 3\n"),
      fails({"view", Book(), "-o", "@/x.png", "--width", "0"}, 2, "vellix: --width must be 64 to 8192 pixels, not 0\n"),
      fails({"view", Book(), "--pages", "--height", "9000"}, 2),
      fails({"view", Book(), "--text", "--page", "0"}, 2),
      fails({"view", Book(), "--all", "@/all", "--page", "2"}, 2),
  };
  for (const CliCase& c : cases) ExpectCli(VELLIX_TOOL, dir_.path(), c);
  fs::remove(dir_ / "pipe.imp");
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"notes.txt", "other.imp"}));

  // A settings file the viewer cannot follow is not a usage error.
  config_.Write("Inkleaf Press/Common.conf", "[Preferences]\nDevice Depth=5\n");
  ToolOutcome r = Vellix({"view", Book(), "--pages"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("depth of 5"), std::string::npos) << r.err;
}

// A long book damaged near its end opens (only its start is read), and
// every road that reads on to the damage fails with the reader's message.
TEST_F(ViewTool, DamageNearTheEndFailsWhenReached) {
  std::string text = "A Long Licence\n\n";
  for (int copy = 0; copy < 12; ++copy) text += ReadFile(VELLIX_TEST_DATA "/apache-2.0.txt");
  dir_.Write("long.txt", text);
  ASSERT_EQ(Vellix({"book", "text2htm", dir_ / "long.txt", dir_ / "long.htm"}).code, 0);
  ASSERT_EQ(Vellix({"build", "--html", dir_ / "long.htm", "-o", dir_ / "long.imp"}).code, 0);
  std::string bytes = ReadFile(dir_ / "long.imp");
  const size_t fork = bytes.find("VXED", 48);
  ASSERT_NE(fork, std::string::npos);
  bytes[fork + (bytes.size() - fork) * 9 / 10] ^= 0x55;
  const std::string book = dir_.Write("damaged.imp", bytes);

  EXPECT_EQ(Vellix({"view", book, "-o", dir_ / "first.png"}).code, 0);
  for (const std::vector<std::string>& road : std::vector<std::vector<std::string>>{
           {"--pages"}, {"--text"}, {"--all", dir_ / "pages"}, {"--contents"}, {"--find", "no such words"}}) {
    std::vector<std::string> args = {"view", book};
    args.insert(args.end(), road.begin(), road.end());
    ToolOutcome r = Vellix(args);
    EXPECT_EQ(r.code, 1) << road.front();
    EXPECT_NE(r.err.find(book + " is damaged"), std::string::npos) << road.front() << ": " << r.err;
  }
}

// The help promises BOOK is never changed: an output that is the book, by
// its own name, another spelling or a link, is refused before drawing.
TEST_F(ViewTool, AnOutputThatIsTheBookIsRefused) {
  fs::copy_file(Book(), dir_ / "mine.imp");
  const std::string before = ReadFile(dir_ / "mine.imp");
  fs::create_symlink(dir_ / "mine.imp", dir_ / "link.png");
  for (const std::string& out : {dir_ / "mine.imp", dir_ / "link.png", dir_.path() + "/./mine.imp"}) {
    ToolOutcome r = Vellix({"view", dir_ / "mine.imp", "-o", out});
    EXPECT_EQ(r.code, 1) << out;
    EXPECT_NE(r.err.find("is also an input"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFile(dir_ / "mine.imp"), before);
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.png"));
}

// Two documents with tables and a character no font has (private use):
// the build names it in one warning for the book; the page text has every
// cell in reading order, a table too wide for columns as its header row and
// labelled rows, and
// the screenshot of that page is kept.
TEST_F(ViewTool, TablesReadInOrderAndACharacterNoFontHasIsNamedOnce) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html lang=\"en\"><head><title>t</title></head><body>";
  dir_.Write("a.html", head +
                           "<p>Marks \xEE\x80\x80 here.</p><table><tr><th>Name</th><th>Size</th></tr>"
                           "<tr><td>alpha</td><td>12</td></tr><tr><td>beta</td><td>7</td></tr></table></body></html>");
  dir_.Write("b.html", head +
                           "<p>Again \xEE\x80\x80.</p><table><tr><th>Key</th><th>What it does</th></tr>"
                           "<tr><td>n</td><td>shows the next page of the book, or the first page of the next "
                           "chapter when the book is at the end of one</td></tr></table></body></html>");
  ToolOutcome built = Vellix({"build", "--html", dir_ / "a.html", dir_ / "b.html", "-o", dir_ / "t.imp"});
  ASSERT_EQ(built.code, 0) << built.err;
  const size_t named = built.err.find("U+E000");
  EXPECT_NE(named, std::string::npos) << built.err;
  EXPECT_EQ(built.err.find("U+E000", named + 1), std::string::npos) << built.err;
  EXPECT_NE(built.err.find("no font of the device has a character"), std::string::npos) << built.err;

  ToolOutcome text = Vellix({"view", dir_ / "t.imp", "--text"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("\nName Size\nalpha 12\nbeta 7\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nKey What it does\nKey: n\nWhat it does: shows the next page"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("at the end of one\n"), std::string::npos) << text.out;
  fs::create_directories(VELLIX_SCREENSHOTS);
  ASSERT_EQ(Vellix({"view", dir_ / "t.imp", "-o", VELLIX_SCREENSHOTS "/tables.png"}).code, 0);
}

}  // namespace
