// Files at the edges: the error every failing operation throws (its
// number, its standard description and, apart from them, the file it
// concerns), and the atomic writer, where what is at the destination
// decides whether it is replaced, written through or refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/file_io.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

void Save(const std::string& path, const std::string& text) {
  formats::AtomicFileWriter out(path);
  out.Write(text);
  out.Commit();
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(SafeWrite, FifosAndDevicesAreWrittenThroughNeverReplaced) {
  TempDir dir;
  std::string fifo = dir / "fifo", null = dir / "null", full = dir / "full";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  Save(fifo, "through the pipe");
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));

  if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "mknod is not permitted here";
  mode_t device = StatOf(null).st_mode;
  Save(null, "gone");
  EXPECT_EQ(ErrorNumberOf([&] { Save(full, "no room"); }), 61);  // "Disk full"
  // A copy into a device that takes neither copy_file_range nor sendfile.
  dir.Write("source", "copied bytes");
  EXPECT_EQ(ErrorNumberOf([&] {
              formats::InputFile source(dir / "source");
              formats::AtomicFileWriter out(full);
              out.CopyFrom(source, source.size());
              out.Commit();
            }),
            61);
  fs::remove(dir / "source");
  EXPECT_EQ(StatOf(null).st_mode, device);
  EXPECT_EQ(StatOf(full).st_mode, device);
  EXPECT_EQ(Names(dir.path()), (Strings{"fifo", "full", "null"}));  // no temporary left
}

TEST(SafeWrite, ReplacementKeepsLinksModeAndOwnerNewFilesFollowTheUmask) {
  TempDir dir;
  fs::create_directory(dir / "real");
  std::string old_file = dir.Write("real/book.txt", "old");
  ::chmod(old_file.c_str(), 0640);
  bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(old_file.c_str(), 1234, 5678), 0);
  }
  fs::create_symlink("real/book.txt", dir / "link");
  fs::create_symlink("link", dir / "chain");
  fs::create_symlink("real/later.txt", dir / "dangling");  // its file is made where it points
  Save(dir / "chain", "new");
  mode_t saved = ::umask(027);
  Save(dir / "dangling", "made");
  ::umask(saved);
  for (const char* link : {"link", "chain", "dangling"}) EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
  EXPECT_EQ(ReadFile(old_file) + ReadFile(dir / "real/later.txt"), "newmade");
  EXPECT_EQ(Names(dir / "real"), (Strings{"book.txt", "later.txt"}));
  struct stat st = StatOf(old_file);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_TRUE(!root || (st.st_uid == 1234u && st.st_gid == 5678u)) << st.st_uid << ":" << st.st_gid;
  EXPECT_EQ(StatOf(dir / "real/later.txt").st_mode & 07777, 0640u);

  // No write bit at all: refused for everyone, root included. Folders are
  // never replaced.
  fs::permissions(old_file, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(ErrorNumberOf([&] { Save(old_file, "x"); }), 70);
  EXPECT_EQ(ErrorNumberOf([&] { formats::CheckWritableTarget(old_file); }), 70);
  EXPECT_EQ(ErrorNumberOf([&] { Save(dir / "real", "x"); }), 75);
  EXPECT_EQ(ReadFile(old_file), "new");
  EXPECT_EQ(Names(dir / "real"), (Strings{"book.txt", "later.txt"}));
}

TEST(SafeWrite, InputsAreRecognisedThroughLinksAndSpellings) {
  TempDir dir;
  std::string input = dir.Write("in.txt", "in");
  dir.Write("copy.txt", "in");
  fs::create_hard_link(input, dir / "hard.txt");
  fs::create_symlink("in.txt", dir / "soft.txt");
  for (const std::string& output : {dir / "hard.txt", dir / "soft.txt", dir / "./in.txt"})
    EXPECT_EQ(ErrorNumberOf([&] { formats::RefuseOverwritingInput(output, {dir / "other", input}); }), 75) << output;
  for (const std::string& output : {dir / "new.txt", dir / "copy.txt"})
    EXPECT_EQ(ErrorNumberOf([&] { formats::RefuseOverwritingInput(output, {input}); }), 0) << output;
}

// What fails, the error number, and the path it names ("" for any).
using Failures = std::vector<std::tuple<std::function<void()>, int, std::string>>;

void ExpectFailures(const Failures& failures) {
  for (const auto& [fail, number, path] : failures) {
    formats::AutomationError e = ErrorOf(fail);
    EXPECT_EQ(e.number(), number) << e.what();
    EXPECT_TRUE(path.empty() || e.detail() == path) << e.what();
  }
}

TEST(ErrorModelTest, DescriptionsAndThePrintedForm) {
  // The numbers and texts clients see, written out here so that a changed
  // entry in the library's table shows.
  const std::vector<std::pair<int, std::string>> table = {
      {5, "Invalid procedure call or argument"},
      {6, "Overflow"},
      {7, "Out of memory"},
      {9, "Subscript out of range"},
      {13, "Type mismatch"},
      {52, "Bad file name or number"},
      {53, "File not found"},
      {54, "Bad file mode"},
      {57, "Device I/O error"},
      {58, "File already exists"},
      {61, "Disk full"},
      {62, "Input past end of file"},
      {67, "Too many files"},
      {70, "Permission denied"},
      {75, "Path/File access error"},
      {76, "Path not found"},
      {91, "Object variable or With block variable not set"},
      {94, "Invalid use of Null"},
      {445, "Object doesn't support this action"},
  };
  for (const auto& [number, text] : table) {
    EXPECT_EQ(formats::DescriptionOf(number), text) << number;
    EXPECT_EQ(formats::AutomationError(number).description(), text) << number;
  }
  EXPECT_EQ(formats::AutomationError(1234).description(), "Application-defined or object-defined error");
  EXPECT_STREQ(formats::AutomationError(formats::kOverflow).what(), "Overflow (6)");
  formats::AutomationError named(formats::kFileNotFound, "/books/a.imp");
  EXPECT_EQ(named.description() + "|" + named.detail(), "File not found|/books/a.imp");
  EXPECT_STREQ(named.what(), "File not found: /books/a.imp (53)");
  EXPECT_EQ(named.ToString(), named.what());
}

TEST(ErrorModelTest, MissingAndDamagedFilesAreNamed) {
  TempDir dir;
  const std::string file = dir / "missing.imp", folder = dir / "none", cut = dir / "cut.imp";
  dir.Write("plain", "x");
  dir.Write("cut.imp", SimpleBookFile(Info()).substr(0, 50));  // no NUL ends the identifier
  ExpectFailures({
      {[&] { formats::InputFile in(file); }, formats::kFileNotFound, file},
      {[&] { formats::RaiseMissing(file, false); }, formats::kFileNotFound, file},
      {[&] { formats::ListFolder(folder, formats::EntryKind::kFile); }, formats::kPathNotFound, folder},
      {[&] { formats::RaiseMissing(folder, true); }, formats::kPathNotFound, folder},
      {[&] { formats::ListFolder(dir / "plain/sub", formats::EntryKind::kFolder); }, formats::kPathNotFound,
       dir / "plain/sub"},  // via a file
      // A file to be written in a missing folder names the file asked for.
      {[&] { formats::AtomicFileWriter out(dir / "no/out.imp"); }, formats::kPathNotFound, dir / "no/out.imp"},
      {[&] { Book().Load(cut); }, formats::kInvalidArgument, cut},
  });
}

TEST(ErrorModelTest, PermissionProblemsAre70) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string locked = dir.Write("locked.imp", SimpleBookFile(Info())), closed = dir / "closed";
  ::chmod(locked.c_str(), 0);
  ::mkdir(closed.c_str(), 0);

  // Root reads every file whatever its permissions: the test runs as nobody.
  bool switched = ::geteuid() == 0 && ::setegid(65534) == 0 && ::seteuid(65534) == 0;
  if (::geteuid() == 0) {
    ::setegid(0);
    GTEST_SKIP() << "cannot give up root here";
  }
  ExpectFailures({
      {[&] { formats::InputFile in(locked); }, formats::kPermissionDenied, locked},
      // Loading an unreadable book is an error, not a quiet "nothing there".
      {[&] { Book().Load(locked); }, formats::kPermissionDenied, locked},
      {[&] { formats::ListFolder(closed, formats::EntryKind::kFile); }, formats::kPermissionDenied, ""},
      {[&] { formats::RaiseMissing(closed + "/x.imp", false); }, formats::kPermissionDenied, ""},
      {[&] { formats::AtomicFileWriter out(closed + "/x.imp"); }, formats::kPermissionDenied, ""},
  });
  // The user first: only root may take the group back.
  if (switched && (::seteuid(0) != 0 || ::setegid(0) != 0)) std::abort();
}

}  // namespace
}  // namespace vellix
