// The atomic writer at the edges: what is at the destination decides
// whether it is replaced, written through or refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "book_maker.h"
#include "test_util.h"
#include "vellix/formats/file_io.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

void Save(const std::string& path, const std::string& text) {
  AtomicFileWriter out(path, "test");
  out.Write(text);
  out.Commit();
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

class SafeWriteTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(SafeWriteTest, DevicesAreWrittenThroughNeverReplaced) {
  std::string null = dir_ / "null", full = dir_ / "full";
  if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "mknod is not permitted here";
  struct stat before;
  ASSERT_EQ(::stat(null.c_str(), &before), 0);
  Save(null, "gone");
  EXPECT_EQ(ErrorNumberOf([&] { Save(full, "no room"); }), 61);  // "Disk full"
  for (const std::string& device : {null, full}) {
    struct stat st;
    ASSERT_EQ(::lstat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << device;
    EXPECT_EQ(st.st_mode, before.st_mode) << device;
  }
  EXPECT_EQ(Names(dir_.path()), (std::set<std::string>{"null", "full"}));  // no temporary left
}

TEST_F(SafeWriteTest, FifoIsWrittenThrough) {
  std::string fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  Save(fifo, "through the pipe");
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
}

TEST_F(SafeWriteTest, FolderAndReadOnlyFileAreRefused) {
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(ErrorNumberOf([&] { Save(dir_ / "folder", "x"); }), 75);
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));

  // No write bit at all: refused for everyone, root included.
  std::string locked = dir_ / "locked";
  WriteFile(locked, "keep");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(ErrorNumberOf([&] { Save(locked, "x"); }), 70);
  EXPECT_EQ(ErrorNumberOf([&] { CheckWritableTarget(locked); }), 70);
  EXPECT_EQ(ReadFile(locked), "keep");
  EXPECT_EQ(ErrorNumberOf([&] { Save(dir_ / "missing/file", "x"); }), 76);
}

TEST_F(SafeWriteTest, SymbolicLinkIsFollowedAndKept) {
  fs::create_directory(dir_ / "real");
  WriteFile(dir_ / "real/book.txt", "old");
  fs::create_symlink("real/book.txt", dir_ / "link");
  fs::create_symlink("link", dir_ / "link2");  // a chain of links
  Save(dir_ / "link2", "new");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link2"));
  EXPECT_EQ(ReadFile(dir_ / "real/book.txt"), "new");
  EXPECT_EQ(Names(dir_ / "real"), std::set<std::string>{"book.txt"});

  // A dangling link gets its file made where it points.
  fs::create_symlink("real/later.txt", dir_ / "dangling");
  Save(dir_ / "dangling", "made");
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
  EXPECT_EQ(ReadFile(dir_ / "real/later.txt"), "made");
}

TEST_F(SafeWriteTest, ReplacementKeepsModeAndOwnerNewFileFollowsUmask) {
  std::string old_file = dir_ / "old";
  WriteFile(old_file, "old");
  ::chmod(old_file.c_str(), 0640);
  bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(old_file.c_str(), 1234, 5678), 0);
  }
  Save(old_file, "new");
  struct stat st;
  ASSERT_EQ(::stat(old_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
  }

  mode_t saved = ::umask(027);
  Save(dir_ / "fresh", "new");
  ::umask(saved);
  ASSERT_EQ(::stat((dir_ / "fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(SafeWriteTest, InputsAreRecognisedThroughLinksAndSpellings) {
  std::string input = dir_ / "in.txt";
  WriteFile(input, "in");
  fs::create_hard_link(input, dir_ / "hard.txt");
  fs::create_symlink("in.txt", dir_ / "soft.txt");
  for (const std::string& output : {dir_ / "hard.txt", dir_ / "soft.txt", dir_ / "./in.txt"})
    EXPECT_EQ(ErrorNumberOf([&] { RefuseOverwritingInput(output, {dir_ / "other", input}); }), 75) << output;
  EXPECT_EQ(ErrorNumberOf([&] { RefuseOverwritingInput(dir_ / "new.txt", {input}); }), 0);
  WriteFile(dir_ / "copy.txt", "in");
  EXPECT_EQ(ErrorNumberOf([&] { RefuseOverwritingInput(dir_ / "copy.txt", {input}); }), 0);
}

}  // namespace
}  // namespace vellix
