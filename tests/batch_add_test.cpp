// Adding many books at once: what is synced per book, what a batch reports
// for each path, and builds running side by side (this test also runs
// under the thread sanitizer).
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <set>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/file_io.h"

namespace vellix {
namespace {

namespace fs = std::filesystem;
using fixtures::TempDir;

std::string Page(const std::string& title) {
  return "<html><head><title>" + title + "</title></head><body><p>The text of " + title + ".</p></body></html>\n";
}

// The paths synced while it lives.
class SyncRecorder {
 public:
  SyncRecorder() {
    formats::SetSyncObserver([this](const std::string& path) {
      std::lock_guard<std::mutex> lock(mutex_);
      paths_.push_back(path);
    });
  }
  ~SyncRecorder() { formats::SetSyncObserver(nullptr); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(paths_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> paths_;
};

TEST(BatchAdd, OnlyTheBookAndTheShelfFolderAreSyncedOncePerBook) {
  TempDir dir;
  std::string shelf = dir / "shelf";
  fs::create_directory(shelf);
  dir.Write("notes.txt", "Buy milk.\nCall home.\n");
  dir.Write("story.htm", Page("Story"));
  SyncRecorder syncs;

  Bookshelf one;
  one.Load(shelf);
  auto book = std::make_shared<Book>();
  book->Load(dir / "notes.txt");
  std::string written;
  one.Add(book, nullptr, &written);
  ASSERT_FALSE(written.empty());
  // The page, the package's rewrites and the build log are not synced.
  EXPECT_EQ(syncs.Take(), (std::vector<std::string>{written, shelf}));

  Bookshelf many;
  many.OpenForAdding(shelf);
  BatchOptions options;
  options.jobs = 2;
  std::vector<BatchItem> items = many.AddMany({dir / "story.htm", dir / "notes.txt"}, options);
  ASSERT_TRUE(items[0].added() && items[1].added()) << items[0].description << items[1].description;
  std::vector<std::string> synced = syncs.Take();
  EXPECT_EQ(std::multiset<std::string>(synced.begin(), synced.end()),
            (std::multiset<std::string>{items[0].book_file, items[1].book_file, shelf, shelf}));
}

TEST(BatchAdd, EachPathIsReportedAndTheOthersGoOn) {
  TempDir dir;
  std::string shelf = dir / "shelf";
  fs::create_directory(shelf);
  dir.Write("a.txt", "First text.\n");
  dir.Write("a.html", Page("Same base name"));  // shares a.opf with a.txt: built after it
  dir.Write("b.htm", Page("Bee"));
  dir.Write("photo.jpg", "not a book");
  // A package whose page is no longer a file: made by publishing it once.
  dir.Write("gone.htm", Page("Gone"));
  fs::create_directory(dir / "scratch");
  Bookshelf scratch;
  scratch.OpenForAdding(dir / "scratch");
  ASSERT_TRUE(scratch.AddMany({dir / "gone.htm"}, {}).at(0).added());
  fs::remove(dir / "gone.htm");
  fs::create_directory(dir / "gone.htm");  // nothing the engine can read
  std::vector<std::string> paths{dir / "a.txt",     dir / "missing.txt", dir / "a.html",
                                 dir / "photo.jpg", dir / "b.htm",       dir / "gone.opf"};
  Bookshelf s;
  s.Load(shelf);
  BatchOptions options;
  options.category = "Batch";
  options.jobs = 3;
  std::vector<size_t> done;
  options.finished = [&](size_t count, size_t total, const BatchItem&) {
    EXPECT_EQ(total, paths.size());
    done.push_back(count);
  };
  std::vector<BatchItem> items = s.AddMany(paths, options);
  ASSERT_EQ(items.size(), paths.size());
  EXPECT_EQ(done, (std::vector<size_t>{1, 2, 3, 4, 5, 6}));
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(items[i].path, paths[i]);
  EXPECT_TRUE(items[0].added()) << items[0].description;
  EXPECT_EQ(items[1].error, 53);
  EXPECT_TRUE(items[2].added()) << items[2].description;
  EXPECT_EQ(items[3].error, 5);
  EXPECT_EQ(items[3].description, Bookshelf::NotAddableText());
  EXPECT_TRUE(items[4].added()) << items[4].description;
  EXPECT_EQ(items[5].error, kBuildFailed);
  EXPECT_NE(items[5].description.find("gone.htm"), std::string::npos) << items[5].description;

  // Three books, no reservation left behind by the failures, and the
  // loaded collection has the added books in the order given.
  std::vector<std::string> files = fixtures::Names(shelf);
  ASSERT_EQ(files.size(), 3u);
  for (const std::string& name : files) EXPECT_GT(fs::file_size(fs::path(shelf) / name), 0u) << name;
  ASSERT_EQ(s.Books()->Count(), 3);
  EXPECT_EQ(s.Books()->Item(2)->Title() + "|" + s.Books()->Item(3)->Title(), "Same base name|Bee");
  for (const BatchItem& item : items) {
    if (!item.added()) continue;
    Book on_shelf;
    on_shelf.Load(item.book_file);
    EXPECT_EQ(on_shelf.Category(), "Batch") << item.path;
  }

  Bookshelf nowhere;
  EXPECT_THROW(nowhere.AddMany(paths, options), formats::AutomationError);
}

// A container is built into a book; fields given for a book that carries
// its own refuse that book, as they do when it is added alone.
TEST(BatchAdd, ContainersAreBuiltAndTheirOwnFieldsAreNotOverridden) {
  TempDir dir;
  std::string shelf = dir / "shelf";
  fs::create_directory(shelf);
  dir.Write("b.htm", Page("Bee"));
  Bookshelf s;
  s.OpenForAdding(shelf);
  ASSERT_TRUE(s.AddMany({dir / "b.htm"}, {}).at(0).added());
  Book().BuildOEBFile("b", dir.path());
  fs::remove_all(shelf);
  fs::create_directory(shelf);
  fixtures::MakeBookFolder(dir / "OWN.RES", fixtures::RsrcInf({}), "fork");

  BatchOptions typed;
  typed.title = "Typed";
  std::vector<BatchItem> items = s.AddMany({dir / "b.oeb", dir / "OWN.RES"}, typed);
  for (const BatchItem& item : items) {
    EXPECT_EQ(item.error, 5) << item.path;
    EXPECT_NE(item.description.find("carries its own title, author and category"), std::string::npos);
  }
  EXPECT_TRUE(fixtures::Names(shelf).empty());

  items = s.AddMany({dir / "b.oeb", dir / "OWN.RES"}, {});
  ASSERT_TRUE(items.at(0).added()) << items[0].description;
  ASSERT_TRUE(items.at(1).added()) << items[1].description;
  Book built;
  built.Load(items[0].book_file);
  EXPECT_EQ(built.Title(), "Bee");
  EXPECT_EQ(fixtures::Names(shelf).size(), 2u);
}

TEST(BatchAdd, ParallelBuildsKeepTheirBooksApart) {
  TempDir dir;
  std::string shelf = dir / "shelf";
  fs::create_directory(shelf);
  std::vector<std::string> paths;
  for (int i = 0; i < 12; ++i)
    paths.push_back(dir.Write("doc" + std::to_string(i) + ".htm", Page("Doc " + std::to_string(i))));
  Bookshelf s;
  s.OpenForAdding(shelf);
  BatchOptions options;
  options.jobs = 4;
  std::vector<BatchItem> items = s.AddMany(paths, options);
  std::set<std::string> files;
  for (size_t i = 0; i < items.size(); ++i) {
    ASSERT_TRUE(items[i].added()) << items[i].description;
    files.insert(items[i].book_file);
    Book book;
    book.Load(items[i].book_file);
    EXPECT_EQ(book.Title(), "Doc " + std::to_string(i));
  }
  EXPECT_EQ(files.size(), paths.size());
}

}  // namespace
}  // namespace vellix
