// The error every failing operation throws: its number, its standard
// description and, apart from them, the file it concerns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "book_maker.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/file_io.h"

namespace vellix {
namespace {

using namespace fixtures;

template <typename F>
AutomationError ErrorOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e;
  }
  return AutomationError(0, "no error");
}

TEST(ErrorModelTest, EveryNumberHasItsStandardDescription) {
  for (int number :
       {kInvalidArgument, kOverflow, kOutOfMemory, kSubscriptOutOfRange, kTypeMismatch, kBadFileName, kFileNotFound,
        kBadFileMode, kDeviceIOError, kFileAlreadyExists, kDiskFull, kInputPastEndOfFile, kTooManyFiles,
        kPermissionDenied, kPathFileAccess, kPathNotFound, kObjectNotSet, kInvalidUseOfNull, kNotSupported}) {
    EXPECT_FALSE(DescriptionOf(number).empty()) << number;
    EXPECT_EQ(AutomationError(number).description(), DescriptionOf(number));
  }
  EXPECT_EQ(AutomationError(1234).description(), "Application-defined or object-defined error");
}

TEST(ErrorModelTest, PrintedFormKeepsDescriptionAndDetailApart) {
  AutomationError plain(kOverflow);
  EXPECT_STREQ(plain.what(), "Overflow (6)");
  EXPECT_EQ(plain.detail(), "");

  AutomationError named(kFileNotFound, "/books/a.imp");
  EXPECT_EQ(named.description(), "File not found");
  EXPECT_EQ(named.detail(), "/books/a.imp");
  EXPECT_EQ(named.ToString(), "File not found: /books/a.imp (53)");
  EXPECT_STREQ(named.what(), "File not found: /books/a.imp (53)");
}

TEST(ErrorModelTest, MissingFilesAndFoldersAreNamed) {
  TempDir dir;
  const std::string file = dir / "missing.imp";
  AutomationError e = ErrorOf([&] { InputFile in(file); });
  EXPECT_EQ(e.number(), kFileNotFound);
  EXPECT_EQ(e.detail(), file);

  const std::string folder = dir / "none";
  e = ErrorOf([&] { ListFolder(folder, EntryKind::kFile); });
  EXPECT_EQ(e.number(), kPathNotFound);
  EXPECT_EQ(e.detail(), folder);

  // A path that goes through a file is a path not found, too.
  WriteFile(dir / "plain", "x");
  e = ErrorOf([&] { ListFolder(dir / "plain/sub", EntryKind::kFolder); });
  EXPECT_EQ(e.number(), kPathNotFound);
  EXPECT_EQ(e.detail(), dir / "plain/sub");

  // A file to be written in a missing folder names the file asked for.
  e = ErrorOf([&] { AtomicFileWriter out(dir / "no/out.imp", "t"); });
  EXPECT_EQ(e.number(), kPathNotFound);
  EXPECT_EQ(e.detail(), dir / "no/out.imp");

  EXPECT_EQ(ErrorOf([&] { RaiseMissing(file, false); }).ToString(), "File not found: " + file + " (53)");
  EXPECT_EQ(ErrorOf([&] { RaiseMissing(folder, true); }).number(), kPathNotFound);
}

TEST(ErrorModelTest, DamagedBookFileIsNamed) {
  TempDir dir;
  const std::string cut = dir / "cut.imp";
  WriteFile(cut, SimpleBookFile(Info()).substr(0, 50));  // no NUL ends the identifier
  Book book;
  AutomationError e = ErrorOf([&] { book.Load(cut); });
  EXPECT_EQ(e.number(), kInvalidArgument);
  EXPECT_EQ(e.detail(), cut);
}

// Runs the test body as an unprivileged user when started as root, since
// root reads every file whatever its permissions.
class AsUnprivileged {
 public:
  AsUnprivileged() {
    if (::geteuid() != 0) return;
    switched_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    if (!switched_) ::setegid(0);
  }
  ~AsUnprivileged() {
    if (!switched_) return;
    // The user first: only root may take the group back.
    if (::seteuid(0) != 0 || ::setegid(0) != 0) std::abort();
  }
  bool restricted() const { return ::geteuid() != 0; }

 private:
  bool switched_ = false;
};

TEST(ErrorModelTest, PermissionProblemsAre70) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string locked = dir / "locked.imp";
  WriteFile(locked, SimpleBookFile(Info()));
  ::chmod(locked.c_str(), 0);
  const std::string closed = dir / "closed";
  ::mkdir(closed.c_str(), 0);

  AsUnprivileged user;
  if (!user.restricted()) GTEST_SKIP() << "cannot give up root here";
  AutomationError e = ErrorOf([&] { InputFile in(locked); });
  EXPECT_EQ(e.number(), kPermissionDenied);
  EXPECT_EQ(e.detail(), locked);
  // Loading an unreadable book is an error, not a quiet "nothing there".
  Book book;
  e = ErrorOf([&] { book.Load(locked); });
  EXPECT_EQ(e.number(), kPermissionDenied);
  EXPECT_EQ(e.detail(), locked);
  EXPECT_EQ(ErrorOf([&] { ListFolder(closed, EntryKind::kFile); }).number(), kPermissionDenied);
  EXPECT_EQ(ErrorOf([&] { RaiseMissing(closed + "/x.imp", false); }).number(), kPermissionDenied);
  EXPECT_EQ(ErrorOf([&] { AtomicFileWriter out(closed + "/x.imp", "t"); }).number(), kPermissionDenied);
}

}  // namespace
}  // namespace vellix
