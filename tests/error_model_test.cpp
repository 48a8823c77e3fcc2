// The error every failing operation throws: its number, its standard
// description and, apart from them, the file it concerns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/file_io.h"

namespace vellix {
namespace {

using namespace fixtures;

// What fails, the error number, and the path it names ("" for any).
using Failures = std::vector<std::tuple<std::function<void()>, int, std::string>>;

void ExpectFailures(const Failures& failures) {
  for (const auto& [fail, number, path] : failures) {
    AutomationError e = ErrorOf(fail);
    EXPECT_EQ(e.number(), number) << e.what();
    EXPECT_TRUE(path.empty() || e.detail() == path) << e.what();
  }
}

TEST(ErrorModelTest, DescriptionsAndThePrintedForm) {
  for (int number :
       {kInvalidArgument, kOverflow, kOutOfMemory, kSubscriptOutOfRange, kTypeMismatch, kBadFileName, kFileNotFound,
        kBadFileMode, kDeviceIOError, kFileAlreadyExists, kDiskFull, kInputPastEndOfFile, kTooManyFiles,
        kPermissionDenied, kPathFileAccess, kPathNotFound, kObjectNotSet, kInvalidUseOfNull, kNotSupported}) {
    EXPECT_FALSE(DescriptionOf(number).empty()) << number;
    EXPECT_EQ(AutomationError(number).description(), DescriptionOf(number));
  }
  EXPECT_EQ(AutomationError(1234).description(), "Application-defined or object-defined error");
  EXPECT_STREQ(AutomationError(kOverflow).what(), "Overflow (6)");
  AutomationError named(kFileNotFound, "/books/a.imp");
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
      {[&] { InputFile in(file); }, kFileNotFound, file},
      {[&] { RaiseMissing(file, false); }, kFileNotFound, file},
      {[&] { ListFolder(folder, EntryKind::kFile); }, kPathNotFound, folder},
      {[&] { RaiseMissing(folder, true); }, kPathNotFound, folder},
      // A path through a file is a path not found, too.
      {[&] { ListFolder(dir / "plain/sub", EntryKind::kFolder); }, kPathNotFound, dir / "plain/sub"},
      // A file to be written in a missing folder names the file asked for.
      {[&] { AtomicFileWriter out(dir / "no/out.imp", "t"); }, kPathNotFound, dir / "no/out.imp"},
      {[&] { Book().Load(cut); }, kInvalidArgument, cut},
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
      {[&] { InputFile in(locked); }, kPermissionDenied, locked},
      // Loading an unreadable book is an error, not a quiet "nothing there".
      {[&] { Book().Load(locked); }, kPermissionDenied, locked},
      {[&] { ListFolder(closed, EntryKind::kFile); }, kPermissionDenied, ""},
      {[&] { RaiseMissing(closed + "/x.imp", false); }, kPermissionDenied, ""},
      {[&] { AtomicFileWriter out(closed + "/x.imp", "t"); }, kPermissionDenied, ""},
  });
  // The user first: only root may take the group back.
  if (switched && (::seteuid(0) != 0 || ::setegid(0) != 0)) std::abort();
}

}  // namespace
}  // namespace vellix
