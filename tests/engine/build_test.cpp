// Building a small book end to end: a package made by the library's own
// package code, built by the engine, read back by the library and by the
// engine's reader; the callbacks; cancelling; the container road.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ikpubx/oebff_reader.h"
#include "ikutil/builder.h"
#include "ikutil/device_edition.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace ikutil {
namespace {

using vellix::fixtures::TempDir;

std::string Chunk(const std::string& type, const std::string& data) {
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  std::string body = type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return be32(static_cast<uint32_t>(data.size())) + body + be32(static_cast<uint32_t>(crc));
}

// A grey PNG of the given size, dark on the left half and light on the right.
std::string GreyPng(uint32_t width, uint32_t height) {
  std::string rows;
  for (uint32_t y = 0; y < height; ++y) {
    rows.push_back('\0');  // no filter
    for (uint32_t x = 0; x < width; ++x) rows.push_back(static_cast<char>(x < width / 2 ? 0x20 : 0xE0));
  }
  uLongf size = compressBound(rows.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(rows.data()), rows.size());
  packed.resize(size);
  std::string ihdr{static_cast<char>(width >> 24),
                   static_cast<char>(width >> 16),
                   static_cast<char>(width >> 8),
                   static_cast<char>(width),
                   static_cast<char>(height >> 24),
                   static_cast<char>(height >> 16),
                   static_cast<char>(height >> 8),
                   static_cast<char>(height),
                   8,
                   0,
                   0,
                   0,
                   0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", packed) + Chunk("IEND", "");
}

struct Event {
  std::string kind, text;
  int64_t a = 0, b = 0;
};

// Records every callback; optionally cancels the builder at a source start.
struct Recorder {
  std::vector<Event> events;
  CBookBuilder* cancel_at_start = nullptr;

  void Attach(EngineCallbacks& task) {
    task.error_callback = [](CSourceFile*, const char* message, int32_t line, int32_t column, int16_t severity,
                             void* self) {
      static_cast<Recorder*>(self)->events.push_back({"error", message, line, column * 10 + severity});
    };
    task.parser_progress_callback = [](uint32_t parsed, uint32_t total, void* self) {
      static_cast<Recorder*>(self)->events.push_back({"progress", "", parsed, total});
    };
    task.layout_message_callback = [](const char* message, void* self) {
      static_cast<Recorder*>(self)->events.push_back({"layout", message});
    };
    task.source_start_callback = [](const char* file, int32_t n, int32_t total, void* self) {
      auto* recorder = static_cast<Recorder*>(self);
      recorder->events.push_back({"start", file, n, total});
      if (recorder->cancel_at_start) recorder->cancel_at_start->RequestCancel(true);
    };
    task.source_done_callback = [](const char* file, int32_t n, int32_t total, void* self) {
      static_cast<Recorder*>(self)->events.push_back({"done", file, n, total});
    };
    task.error_context = task.parser_progress_context = task.layout_message_context = task.source_start_context =
        task.source_done_context = this;
  }
  std::vector<std::string> Kinds(const std::string& kind) const {
    std::vector<std::string> texts;
    for (const Event& e : events)
      if (e.kind == kind) texts.push_back(e.text);
    return texts;
  }
};

class SmallBook : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("style.css", "p.note { font-style: italic }\nh1 { text-align: center }\n");
    dir_.Write("pic.png", GreyPng(960, 100));
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
  Recorder recorder;
  recorder.Attach(builder);
  ASSERT_EQ(builder.OutputBook(false, false), 0) << ::testing::PrintToString(recorder.Kinds("error"));

  vellix::Book book;
  book.Load(Book());
  EXPECT_EQ(book.Title(), "A Title");
  EXPECT_EQ(book.Author(), "Jane Q Public");
  EXPECT_EQ(book.Category(), "Fiction");
  EXPECT_FALSE(book.BookId().empty());

  EditionReadResult read = ReadDeviceEdition(Book());
  ASSERT_EQ(read.error, EditionError::kNone) << read.message;
  const DeviceEdition& edition = read.edition;
  std::vector<std::string> texts = Texts(edition);
  auto at = [&](const std::string& text) { return std::find(texts.begin(), texts.end(), text) - texts.begin(); };
  EXPECT_LT(at("Chapter One"), at("Once upon a time."));
  EXPECT_LT(at("Once upon a time."), at("Chapter Two"));
  EXPECT_LT(at("Chapter Two"), static_cast<long>(texts.size()));

  bool italic_note = false;
  for (const Block& block : edition.blocks)
    for (const ikutil::Run& run : block.runs)
      if (run.text == "A note.") italic_note = edition.text_styles.at(run.style).italic;
  EXPECT_TRUE(italic_note);

  // The link "on" leads to the second document's heading, "back" to the first.
  for (const Block& block : edition.blocks)
    for (const ikutil::Run& run : block.runs) {
      if (run.link == kNoLink) continue;
      const Link& link = edition.links.at(run.link);
      ASSERT_FALSE(link.external);
      const Block& target = edition.blocks.at(link.target.block);
      ASSERT_FALSE(target.runs.empty());
      EXPECT_EQ(target.runs[0].text, run.text == "on" ? "Chapter Two" : "Chapter One") << run.text;
    }

  ASSERT_EQ(edition.images.size(), 1u);
  EXPECT_EQ(edition.images[0].width, 480);
  EXPECT_EQ(edition.images[0].height, 50);
  EXPECT_EQ(edition.toc.size(), 2u);

  // Callbacks: each source started and done in order, progress monotone up
  // to the total, and the build log beside the package.
  std::vector<std::string> order;
  uint32_t last = 0, total = 0;
  for (const Event& e : recorder.events) {
    if (e.kind == "start" || e.kind == "done")
      order.push_back(e.kind + " " + e.text + " " + std::to_string(e.a) + "/" + std::to_string(e.b));
    if (e.kind == "progress") {
      EXPECT_GE(e.a, last);
      last = static_cast<uint32_t>(e.a);
      total = static_cast<uint32_t>(e.b);
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
  Recorder recorder;
  recorder.Attach(builder);
  builder.OutputBook(false, false);
  bool placed = false;
  for (const Event& e : recorder.events)
    if (e.kind == "error" && e.text.rfind("bad.htm: ", 0) == 0 && e.text.find("(Line ") != std::string::npos && e.a > 0)
      placed = true;
  EXPECT_TRUE(placed) << ::testing::PrintToString(recorder.Kinds("error"));
}

TEST_F(SmallBook, CancelFromACallbackLeavesNoBook) {
  CBookBuilder builder(&params_, nullptr);
  Recorder recorder;
  recorder.cancel_at_start = &builder;
  recorder.Attach(builder);
  EXPECT_NE(builder.OutputBook(false, false), 0);
  EXPECT_TRUE(std::filesystem::is_empty(out_));
  EXPECT_EQ(recorder.Kinds("start").size(), 1u);
}

TEST_F(SmallBook, MissingSourceFailsTheBuildAndKeepsTheOldBook) {
  CBookBuilder first(&params_, nullptr);
  ASSERT_EQ(first.OutputBook(false, false), 0);
  auto before = std::filesystem::last_write_time(Book());
  std::filesystem::remove(dir_ / "ch2.htm");
  CBookBuilder second(&params_, nullptr);
  Recorder recorder;
  recorder.Attach(second);
  EXPECT_NE(second.OutputBook(false, false), 0);
  EXPECT_EQ(std::filesystem::last_write_time(Book()), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_), {}), 1);
  EXPECT_FALSE(recorder.Kinds("error").empty());
}

TEST_F(SmallBook, ABookWithoutANameIsNamedAfterItsFirstSource) {
  params_.book_file_name.clear();
  CBookBuilder builder(&params_, nullptr);
  ASSERT_EQ(builder.OutputBook(false, false), 0);
  EXPECT_TRUE(std::filesystem::exists(out_ + "/story.imp"));
}

TEST_F(SmallBook, ContainerBuildsTheSameBookAsThePackage) {
  CBookBuilder builder(&params_, nullptr);
  ASSERT_EQ(builder.OutputBook(false, false), 0);

  // As the toolkit does: the project saved under a temporary name beside it.
  params_.project_file_path = dir_ / "opfTEMP";
  COEBFFThread packer(&params_, nullptr);
  Recorder packing;
  packing.Attach(packer);
  ASSERT_NE(packer.GenerateOEBFF(true), 0) << ::testing::PrintToString(packing.Kinds("error"));
  std::string container = out_ + "/STORYBK.oeb";

  ikpubx::OEBFFReader reader(container);
  ASSERT_FALSE(reader.Failed()) << reader.Diagnostic();
  OEBFFContainerView view;
  view.path = container;
  view.root = reader.Root();
  for (const vellix::formats::OEBFFNode* part : reader.Parts()) view.parts.push_back(part);
  std::string out2 = dir_ / "out2";
  std::filesystem::create_directory(out2);
  COEBFFReaderThread from_container(view, nullptr);
  from_container.dest_dir = out2;
  from_container.dest_name = "FROMOEB";
  Recorder building;
  building.Attach(from_container);
  ASSERT_EQ(from_container.OutputBook(), 0) << ::testing::PrintToString(building.Kinds("error"));

  EditionReadResult a = ReadDeviceEdition(Book()), b = ReadDeviceEdition(out2 + "/FROMOEB.imp");
  ASSERT_EQ(b.error, EditionError::kNone) << b.message;
  EXPECT_EQ(a.edition, b.edition);
  EXPECT_EQ(a.info.title, b.info.title);
  EXPECT_EQ(a.info.book_id, b.info.book_id);

  OEBFFContainerView failed;
  failed.path = dir_ / "nothing.oeb";
  failed.failed = true;
  COEBFFReaderThread broken(failed, nullptr);
  EXPECT_NE(broken.OutputBook(), 0);
}

}  // namespace
}  // namespace ikutil
