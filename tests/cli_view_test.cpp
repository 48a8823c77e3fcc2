// `vellix view` as a user runs it: a text published with the tool itself,
// then shown as page images, a page count and page text; the screen's size
// and depth from the options or the device settings file; what it says
// about books it cannot show and options it cannot use.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

ToolOutcome Vellix(const std::vector<std::string>& args) { return RunTool(VELLIX_TOOL, args); }

// What a PNG's header says.
struct PngHeader {
  uint32_t width = 0, height = 0;
  int bit_depth = 0, color_type = -1;
};

PngHeader HeaderOf(const std::string& path) {
  const std::string bytes = ReadFile(path);
  PngHeader h;
  if (bytes.size() < 26 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0) return h;
  auto u32 = [&](size_t at) {
    return uint32_t{uint8_t(bytes[at])} << 24 | uint32_t{uint8_t(bytes[at + 1])} << 16 |
           uint32_t{uint8_t(bytes[at + 2])} << 8 | uint8_t(bytes[at + 3]);
  };
  h.width = u32(16);
  h.height = u32(20);
  h.bit_depth = uint8_t(bytes[24]);
  h.color_type = uint8_t(bytes[25]);
  return h;
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

TEST_F(ViewTool, PageImagesTakeTheirSizeFromOptionsOrTheDeviceSettings) {
  ToolOutcome r = Vellix({"view", Book(), "-o", dir_ / "default.png"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  PngHeader h = HeaderOf(dir_ / "default.png");
  EXPECT_EQ(h.width, 480u);
  EXPECT_EQ(h.height, 640u);
  EXPECT_EQ(h.bit_depth, 4);
  EXPECT_EQ(h.color_type, 0);  // grey

  config_.Write("Inkleaf Press/Common.conf", "[Preferences]\nDevice Width=300\nDevice Height=400\nDevice Depth=1\n");
  ASSERT_EQ(Vellix({"view", Book(), "-o", dir_ / "settings.png", "--page", "2"}).code, 0);
  h = HeaderOf(dir_ / "settings.png");
  EXPECT_EQ(h.width, 300u);
  EXPECT_EQ(h.height, 400u);
  EXPECT_EQ(h.bit_depth, 1);

  // Options win over the settings, one by one.
  ASSERT_EQ(Vellix({"view", Book(), "-o", dir_ / "options.png", "--width", "200", "--depth", "8"}).code, 0);
  h = HeaderOf(dir_ / "options.png");
  EXPECT_EQ(h.width, 200u);
  EXPECT_EQ(h.height, 400u);
  EXPECT_EQ(h.bit_depth, 8);
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
  EXPECT_EQ(HeaderOf(dir_ / "pages/page-0001.png").bit_depth, 2);
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
  const std::string any = "(.|\n)*";
  const std::vector<CliCase> cases = {
      {.args = {"view", "@/missing.imp", "--pages"},
       .code = 1,
       .err = "vellix: File not found: [^\n]+missing.imp \\(53\\)\n",
       .out = ""},
      {.args = {"view", "@/notes.txt", "--pages"},
       .code = 1,
       .err = "vellix: [^\n]+notes.txt is not a book file[^\n]*\n",
       .out = ""},
      {.args = {"view", "@/other.imp", "-o", "@/x.png"},
       .code = 1,
       .err = "vellix: [^\n]+other.imp is a book file this program did not make[^\n]*\n",
       .out = ""},
      {.args = {"view", Book(), "-o", "@/no/such/page.png"},
       .code = 1,
       .err = "vellix: [^\n]*page.png[^\n]*\n",
       .out = ""},
      // Usage errors.
      {.args = {"view", Book()}, .code = 2, .err = any, .out = ""},
      {.args = {"view", Book(), "--pages", "--text"}, .code = 2, .err = any, .out = ""},
      {.args = {"view", Book(), "-o", "@/x.png", "--depth", "3"},
       .code = 2,
       .err = "vellix: --depth must be 1, 2, 4 or 8, not 3\n",
       .out = ""},
      {.args = {"view", Book(), "-o", "@/x.png", "--width", "0"},
       .code = 2,
       .err = "vellix: --width must be 64 to 8192 pixels, not 0\n",
       .out = ""},
      {.args = {"view", Book(), "--pages", "--height", "9000"}, .code = 2, .err = any, .out = ""},
      {.args = {"view", Book(), "--text", "--page", "0"}, .code = 2, .err = any, .out = ""},
      {.args = {"view", Book(), "--all", "@/all", "--page", "2"}, .code = 2, .err = any, .out = ""},
  };
  for (const CliCase& c : cases) ExpectCli(VELLIX_TOOL, dir_.path(), c);
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"notes.txt", "other.imp"}));

  // A settings file the viewer cannot follow is not a usage error.
  config_.Write("Inkleaf Press/Common.conf", "[Preferences]\nDevice Depth=5\n");
  ToolOutcome r = Vellix({"view", Book(), "--pages"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("depth of 5"), std::string::npos) << r.err;
}

}  // namespace
