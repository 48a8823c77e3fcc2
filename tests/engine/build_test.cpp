// Building a small book end to end: a package made by the library's own
// package code, built by the engine, read back by the library and by the
// engine's reader; the callbacks; cancelling; the container road.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "engine_log.h"
#include "epub_maker.h"
#include "ikutil/device_edition.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace ikutil {
namespace {

using vellix::fixtures::BuildFromContainer;
using vellix::fixtures::EngineEvent;
using vellix::fixtures::EngineLog;
using vellix::fixtures::TempDir;

class SmallBook : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("style.css", "p.note { font-style: italic }\nh1 { text-align: center }\n");
    std::string rows;  // dark on the left half, light on the right
    for (int y = 0; y < 100; ++y) rows += '\0' + std::string(480, '\x20') + std::string(480, '\xE0');
    dir_.Write("pic.png", vellix::fixtures::GreyPng(960, 100, rows));
    dir_.Write("story.htm",
               "<html><head><title>Story</title><link rel=\"stylesheet\" href=\"style.css\"/></head><body>\n"
               "<h1 id=\"top\">Chapter One</h1>\n<p>Once upon a time.</p>\n<p class=\"note\">A note.</p>\n"
               "<p><img src=\"pic.png\" alt=\"a picture\"/></p>\n<p>Go <a href=\"ch2.htm\">on</a>.</p>\n"
               "</body></html>\n");
    dir_.Write("ch2.htm",
               "<html><head><title>Two</title></head><body>\n<h1>Chapter Two</h1>\n"
               "<p>The end, <a href=\"story.htm#top\">back</a>.</p>\n</body></html>\n");
    std::filesystem::create_directory(out_);
    opf_ = dir_.Write("story.opf", vellix::fixtures::DefaultPackageText());
    vellix::Package package;
    package.initialID(18838);
    package.SetPackagePath(opf_);
    package.CreatePackage(dir_ / "story.htm", "story", "A Title", "Jane Q Public", "Fiction");
    package.CompletePackage(opf_, "STORYBK", "Fiction");
    package.SetDirectory(opf_, out_, dir_.path());
    ASSERT_TRUE(params_.Load(opf_, false));
    params_.Resources().push_back({"css1", "style.css", "text/x-oeb1-css"});
  }

  std::string Book() const { return out_ + "/STORYBK.imp"; }

  TempDir dir_;
  std::string out_ = dir_ / "out";
  std::string opf_;
  CBookParams params_;
};

// The text of every block, in flow order.
std::vector<std::string> Texts(const DeviceEdition& edition) {
  std::vector<std::string> texts;
  for (const Block& block : edition.blocks) {
    std::string text;
    for (const ikutil::Run& run : block.runs) text += run.text;
    if (!text.empty()) texts.push_back(text);
  }
  return texts;
}

TEST_F(SmallBook, BuildsABookTheLibraryAndTheReaderReadBack) {
  CBookBuilder builder(&params_, nullptr);
  EngineLog log(builder);
  ASSERT_EQ(builder.OutputBook(false, false), 0) << log.Errors();

  vellix::Book book;
  book.Load(Book());
  EXPECT_EQ(book.Title() + "|" + book.Author() + "|" + book.Category(), "A Title|Jane Q Public|Fiction");
  EXPECT_FALSE(book.BookId().empty());

  EditionReadResult read = ReadDeviceEdition(Book());
  ASSERT_EQ(read.error, EditionError::kNone) << read.message;
  const DeviceEdition& edition = read.edition;
  std::vector<std::string> texts = Texts(edition);
  auto at = [&](const std::string& text) { return std::find(texts.begin(), texts.end(), text) - texts.begin(); };
  EXPECT_LT(at("Chapter One"), at("Once upon a time."));
  EXPECT_LT(at("Once upon a time."), at("Chapter Two"));
  EXPECT_LT(at("Chapter Two"), static_cast<long>(texts.size()));

  // The note is italic; the link "on" leads to the second document's
  // heading, "back" to the first.
  bool italic_note = false;
  for (const Block& block : edition.blocks)
    for (const ikutil::Run& run : block.runs) {
      if (run.text == "A note.") italic_note = edition.text_styles.at(run.style).italic;
      if (run.link == kNoLink) continue;
      const Link& link = edition.links.at(run.link);
      ASSERT_FALSE(link.external);
      const Block& target = edition.blocks.at(link.target.block);
      ASSERT_FALSE(target.runs.empty());
      EXPECT_EQ(target.runs[0].text, run.text == "on" ? "Chapter Two" : "Chapter One") << run.text;
    }
  EXPECT_TRUE(italic_note);
  ASSERT_EQ(edition.images.size(), 1u);
  EXPECT_EQ((std::pair<int, int>(edition.images[0].width, edition.images[0].height)), std::pair(480, 50));
  EXPECT_EQ(edition.toc.size(), 2u);

  // Callbacks: each source started and done in order, progress monotone up
  // to the total, and the build log beside the package.
  std::vector<std::string> order;
  int64_t last = 0, total = 0;
  for (const EngineEvent& e : log.events) {
    if (e.kind == "start" || e.kind == "done")
      order.push_back(e.kind + " " + e.text + " " + std::to_string(e.a) + "/" + std::to_string(e.b));
    if (e.kind == "progress") {
      EXPECT_GE(e.a, last);
      last = e.a, total = e.b;
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"start story.htm 1/2", "done story.htm 1/2", "start ch2.htm 2/2",
                                             "done ch2.htm 2/2"}));
  EXPECT_EQ(last, total);
  EXPECT_EQ(total, std::filesystem::file_size(dir_ / "story.htm") + std::filesystem::file_size(dir_ / "ch2.htm"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "STORYBK.log"));
}

TEST_F(SmallBook, IllFormedSourceIsReportedWithItsPlace) {
  dir_.Write("bad.htm", "<html><body>\n<p>one\n<p>two <b>bold</p>\n</body></html>\n");
  params_.InsertSource(params_.NumSources(), std::make_unique<CWinSourceFile>("bad.htm", 0));
  CBookBuilder builder(&params_, nullptr);
  EngineLog log(builder);
  builder.OutputBook(false, false);
  EXPECT_TRUE(std::ranges::any_of(log.events, [](const EngineEvent& e) {
    return e.kind == "error" && e.text.starts_with("bad.htm: ") && e.text.find("(Line ") != std::string::npos &&
           e.a > 0;
  })) << log.Errors();
}

TEST_F(SmallBook, CancelFromACallbackLeavesNoBook) {
  CBookBuilder builder(&params_, nullptr);
  EngineLog log;
  log.on_source_start = [&] { builder.RequestCancel(true); };
  log.Attach(builder);
  EXPECT_NE(builder.OutputBook(false, false), 0);
  EXPECT_TRUE(std::filesystem::is_empty(out_));
  EXPECT_EQ(log.Texts("start").size(), 1u);
}

TEST_F(SmallBook, MissingSourceFailsTheBuildAndKeepsTheOldBook) {
  ASSERT_EQ(CBookBuilder(&params_, nullptr).OutputBook(false, false), 0);
  auto before = std::filesystem::last_write_time(Book());
  std::filesystem::remove(dir_ / "ch2.htm");
  CBookBuilder second(&params_, nullptr);
  EngineLog log(second);
  EXPECT_NE(second.OutputBook(false, false), 0);
  EXPECT_EQ(std::filesystem::last_write_time(Book()), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_), {}), 1);
  EXPECT_FALSE(log.Errors().empty());
}

TEST_F(SmallBook, ABookWithoutANameIsNamedAfterItsFirstSource) {
  params_.book_file_name.clear();
  ASSERT_EQ(CBookBuilder(&params_, nullptr).OutputBook(false, false), 0);
  EXPECT_TRUE(std::filesystem::exists(out_ + "/story.imp"));
}

TEST_F(SmallBook, ContainerBuildsTheSameBookAsThePackage) {
  ASSERT_EQ(CBookBuilder(&params_, nullptr).OutputBook(false, false), 0);

  // As the toolkit does: the project saved under a temporary name beside it.
  params_.project_file_path = dir_ / "opfTEMP";
  COEBFFThread packer(&params_, nullptr);
  EngineLog packing, building, broken;
  packing.Attach(packer);
  ASSERT_NE(packer.GenerateOEBFF(true), 0) << packing.Errors();
  std::string out2 = dir_ / "out2";
  std::filesystem::create_directory(out2);
  ASSERT_TRUE(BuildFromContainer(out_ + "/STORYBK.oeb", out2, "FROMOEB", building).ok()) << building.Errors();

  EditionReadResult a = ReadDeviceEdition(Book()), b = ReadDeviceEdition(out2 + "/FROMOEB.imp");
  ASSERT_EQ(b.error, EditionError::kNone) << b.message;
  EXPECT_EQ(a.edition, b.edition);
  EXPECT_EQ(a.info.title + "|" + a.info.book_id, b.info.title + "|" + b.info.book_id);
  // A container that cannot be read reaches the engine as failed.
  EXPECT_FALSE(BuildFromContainer(dir_ / "nothing.oeb", out2, "NOTHING", broken).ok());
}

// Every task tells its caller the file it wrote, or why it wrote none in
// words that name the file at fault.
TEST_F(SmallBook, EachTaskAnswersTheFileItWroteOrWhyNot) {
  namespace fs = std::filesystem;
  auto absolute = [](const std::string& path) { return fs::absolute(path).lexically_normal().string(); };
  TaskOutcome built = CBookBuilder(&params_, nullptr).Build(false);
  ASSERT_TRUE(built.ok()) << built.status.ToString();
  EXPECT_EQ(built.written_path, absolute(Book()));
  EXPECT_TRUE(CValidatorThread(&params_, nullptr).Check(-1).ok());
  params_.project_file_path = dir_ / "opfTEMP";
  TaskOutcome packed = COEBFFThread(&params_, nullptr).Pack(false);
  ASSERT_TRUE(packed.ok()) << packed.status.ToString();
  EXPECT_EQ(packed.written_path, absolute(out_ + "/STORYBK.oeb"));
  EngineLog log;
  TaskOutcome unpacked = BuildFromContainer(packed.written_path, out_, "FROMOEB", log);
  ASSERT_TRUE(unpacked.ok()) << log.Errors();
  EXPECT_EQ(unpacked.written_path, absolute(out_ + "/FROMOEB.imp"));

  // Failures: a source gone, a book name that leaves its folder, a
  // container that is not there. Each names its file and writes nothing.
  params_.project_file_path = opf_;
  fs::remove(dir_ / "ch2.htm");
  TaskOutcome missing = CBookBuilder(&params_, nullptr).Build(false);
  TaskOutcome unchecked = CValidatorThread(&params_, nullptr).Check(-1);
  params_.book_file_name = "../away";
  TaskOutcome refused = COEBFFThread(&params_, nullptr).Pack(false);
  TaskOutcome unread = BuildFromContainer(dir_ / "nothing.oeb", out_, "NOTHING", log);
  for (const auto& [outcome, file, words] :
       {std::tuple<const TaskOutcome&, std::string, std::string>{missing, "ch2.htm", "not found"},
        {unchecked, "ch2.htm", "not found"},
        {refused, opf_, "cannot name a container"},
        {unread, dir_ / "nothing.oeb", "not a readable OEBFF container (the file cannot be opened)"}}) {
    EXPECT_FALSE(outcome.ok()) << file;
    EXPECT_EQ(outcome.status.file(), file);
    EXPECT_NE(outcome.status.message().find(words), std::string::npos) << outcome.status.ToString();
    EXPECT_EQ(outcome.written_path, "");
  }
}

}  // namespace
}  // namespace ikutil
