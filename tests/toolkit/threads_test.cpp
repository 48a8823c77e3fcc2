// One Viewer and one Builder used from two threads at once:
// each object serializes its own members, so nothing is freed under a
// thread that still uses it. The suite runs this under ThreadSanitizer too
// (./test), where any unserialized access is a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "ikpubx/builder.h"
#include "ikpubx/module.h"
#include "ikpubx/project.h"
#include "ikpubx/viewer.h"
#include "ikutil/device_edition.h"
#include "test_util.h"

namespace ikpubx {
namespace {

using vellix::fixtures::TempDir;

void WriteBook(const std::string& path) {
  ikutil::DeviceEdition edition;
  edition.text_styles = {{}};
  edition.block_styles = {{}};
  for (int n = 0; n < 30; ++n) {
    std::string text = "Paragraph " + std::to_string(n + 1) + ".";
    for (int word = 0; word < 30; ++word) text += " words fill the page";
    edition.blocks.push_back({ikutil::BlockKind::kParagraph, 0, 0, "", ikutil::kNoImage, "", {{text, 0}}});
  }
  ikutil::BookInformation info;
  info.book_id = "ID1";
  info.title = "Threads";
  info.folder_name = "BOOK.RES";
  ikutil::WriteDeviceBook(edition, info, {}, path);
}

class ThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_CONFIG_HOME", (tmp_ / "config").c_str(), 1); }
  void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }
  TempDir tmp_;
};

// One thread draws pages while the other changes the device size, which
// throws the layout away and makes another.
TEST_F(ThreadsTest, OneViewerDrawingAndResizing) {
  WriteBook(tmp_ / "book.imp");
  std::shared_ptr<IViewer> viewer = NewViewer();
  ASSERT_EQ(viewer->SetBookName(tmp_ / "book.imp"), S_OK);
  std::atomic<int> drawn = 0, failed = 0;
  std::thread drawing([&] {
    for (int i = 0; i < 60; ++i) {
      ikutil::PageImage image;
      int32_t pages = 0;
      if (Failed(viewer->NumPages(&pages))) ++failed;
      const HRESULT hr = viewer->GetPageImage(1 + i % 3, &image);
      if (hr == S_OK && image.pixels.size() == static_cast<size_t>(image.width) * image.height) ++drawn;
      if (hr != S_OK) ++failed;
    }
  });
  std::thread resizing([&] {
    for (int i = 0; i < 20; ++i) {
      if (viewer->ChangeDeviceSettings(i % 2 ? 300 : 480, i % 2 ? 400 : 640, i % 2 ? 1 : 4) != S_OK) ++failed;
      viewer->NextPage();
    }
  });
  drawing.join();
  resizing.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(drawn, 60);
  EXPECT_TRUE(viewer->HasBook());
}

// One thread builds while the other reads and changes the Builder's
// settings and asks for an abort.
TEST_F(ThreadsTest, OneBuilderBuildingAndChanged) {
  tmp_.Write("story.htm", "<html><head><title>Story</title></head><body><p>Once upon a time.</p></body></html>\n");
  std::filesystem::create_directory(tmp_ / "out");
  std::shared_ptr<IProject> project;
  ASSERT_EQ(CreateObject(kProjectIndependentProgId, &project), S_OK);
  ASSERT_EQ(project->SetProjectFile(tmp_ / "story.opf"), S_OK);
  ASSERT_EQ(project->AddSourceFile(tmp_ / "story.htm"), S_OK);
  ASSERT_EQ(project->SetOutputDirectory(tmp_ / "out"), S_OK);
  ASSERT_EQ(project->SetBookFileName("STORY"), S_OK);
  std::shared_ptr<IBuilder> builder;
  ASSERT_EQ(CreateObject(kBuilderIndependentProgId, &builder), S_OK);
  std::atomic<int> built = 0;
  std::thread building([&] {
    for (int i = 0; i < 6; ++i)
      if (builder->Build(project.get()) == S_OK) ++built;
  });
  std::thread changing([&] {
    for (int i = 0; i < 200; ++i) {
      int32_t value = 0;
      builder->SetFeedbackThreshold(1 + i % 7);
      builder->FeedbackThreshold(&value);
      builder->SetPreview(0);
      builder->Preview(&value);
      if (i == 150) builder->AbortBuild();
    }
  });
  building.join();
  changing.join();
  EXPECT_GE(built, 4);  // an abort may stop at most one or two
  EXPECT_TRUE(std::filesystem::exists(tmp_ / "out/STORY.imp"));
}

}  // namespace
}  // namespace ikpubx
