#include "vellix/bookshelf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <filesystem>

#include "companion.h"
#include "sort.h"
#include "vellix/error.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/random.h"

namespace vellix {
namespace {

bool EndsWithResFolderName(const std::string& path) {
  return path.size() >= 4 && formats::UpperAscii(std::string_view(path).substr(path.size() - 4)) == ".RES";
}

constexpr AddableFileKind kAddableFileKinds[] = {
    {"oeb", "Container Files", true, true},  {"odf", "Document Files", true, false},
    {"htm", "Document Files", true, false},  {"html", "Document Files", true, false},
    {"epub", "EPUB Books", true, false},     {"opf", "Package Files", false, false},
    {"txt", "Text Files", true, false},      {"md", "Text Files", true, false},
    {"markdown", "Text Files", true, false},
};

const AddableFileKind* FindAddableFileKind(const std::string& extension) {
  const std::string lower = formats::LowerAscii(extension);
  for (const AddableFileKind& kind : kAddableFileKinds)
    if (lower == kind.extension) return &kind;
  return nullptr;
}

// Removes the empty file that reserved `path` when nothing replaced it;
// true when it did.
bool ReleaseReservation(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return false;
  return ::unlink(path.c_str()) == 0;
}

bool IsLowerImp(const std::string& path) {
  return formats::LowerAscii(std::filesystem::path(path).extension().string()) == ".imp";
}

// An empty book file is the name an add holds while it builds (or held,
// when it was killed): no book yet, so lists pass over it.
bool IsReservation(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

// Reservations, and half-written book files (".impXXXXXX", as older
// versions named them; see RemoveStaleTemporaries for today's) that an add
// killed part way left behind. Only those untouched for hours go: a
// running add keeps writing its temporary file, and no build sits on an
// empty name that long.
void RemoveStaleLeftovers(const std::string& directory) {
  constexpr auto kStale = std::chrono::hours(6);
  const auto now = std::filesystem::file_time_type::clock::now();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
    const std::string name = entry.path().filename().string();
    const bool temporary = name.size() == 10 && name.starts_with(".imp");
    const bool reservation = IsLowerImp(name) && IsReservation(entry.path().string());
    if (!(temporary || reservation) || !entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const auto written = entry.last_write_time(ec);
    if (!ec && now - written > kStale) std::filesystem::remove(entry.path(), ec);
  }
}

}  // namespace

std::span<const AddableFileKind> AddableFileKinds() { return kAddableFileKinds; }

// --- Books ---

std::shared_ptr<Book> Books::Add(const std::string& path) {
  auto book = std::make_shared<vellix::Book>();
  book->Load(path);
  items_.push_back(book);
  return book;
}

void Books::AddBook(std::shared_ptr<vellix::Book> book) { items_.push_back(std::move(book)); }

size_t Books::PositionOf(const Variant& index) const {
  if (index.type() != Variant::Type::kInteger) formats::Raise(formats::kInvalidArgument);
  int64_t i = index.AsInteger();
  if (i < 1 || i > static_cast<int64_t>(items_.size())) formats::Raise(formats::kInvalidArgument);
  return static_cast<size_t>(i - 1);
}

std::shared_ptr<Book> Books::Item(const Variant& index) const { return items_[PositionOf(index)]; }

void Books::Remove(const Variant& index) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(PositionOf(index)));
}

// --- Bookshelf ---

Bookshelf::Bookshelf() { formats::SeedRandomFromClock(); }

void Bookshelf::Add(const std::shared_ptr<vellix::Book>& new_book) { Add(new_book, nullptr); }

void Bookshelf::Add(const std::shared_ptr<vellix::Book>& new_book, const PublishEvents* events,
                    std::string* book_file) {
  // Checked first, so that a shelf without books writes no orphan file.
  if (!books_ || !new_book) formats::Raise(formats::kObjectNotSet);
  Publish(new_book, events, book_file);
  books_->AddBook(new_book);
}

void Bookshelf::Publish(const std::shared_ptr<vellix::Book>& new_book, const PublishEvents* events,
                        std::string* book_file) const {
  if (!new_book) formats::Raise(formats::kObjectNotSet);
  if (book_file) book_file->clear();
  const std::string kind = new_book->Extension();
  // Book files are kept as they are; every other addable kind is built,
  // while no other add works on the files made beside the same source.
  bool publish = IsAddableFileKind(kind);
  std::optional<CompanionLock> companions;
  if (publish) {
    companions.emplace(new_book->Path());
    // Temporaries of an add killed earlier, beside the source and on the shelf.
    formats::RemoveStaleTemporaries(std::filesystem::absolute(new_book->Path()).parent_path().string());
  }
  if (kind == "txt") {
    std::string htm = CompanionPath(new_book->Path(), ".htm");
    new_book->ConvertTxtToHtm(htm);
    MarkAsCompanion(htm);
    publish = true;
  } else if (kind == "md" || kind == "markdown") {
    std::string htm = CompanionPath(new_book->Path(), ".htm");
    new_book->ConvertMarkdownToHtm(htm);
    MarkAsCompanion(htm);
    publish = true;
  }
  if (publish) {
    RemoveStaleLeftovers(directory_);
    formats::RemoveStaleTemporaries(directory_);
    std::string destination = ReserveBookFilePath();
    try {
      if (kind == "oeb")
        new_book->BuildContainer(destination, events);
      else
        new_book->Save(destination, events);
    } catch (...) {
      ReleaseReservation(destination);
      throw;
    }
    // A document that vanished builds nothing and leaves the name unused.
    if (ReleaseReservation(destination)) return;
    if (book_file) *book_file = destination;
  }
}

void Bookshelf::SetDirectory(const std::string& directory) {
  directory_ = directory;
  if (!formats::IsFolder(directory)) {
    directory_.clear();
    return;
  }
  std::vector<std::string> paths;
  for (const std::string& name : formats::ListFolder(directory, formats::EntryKind::kFile)) {
    std::string path = (std::filesystem::path(directory) / name).string();
    if (!IsReservation(path)) paths.push_back(std::move(path));
  }
  file_list_ = std::move(paths);
}

std::shared_ptr<Book> Bookshelf::Book(const std::string& book_id) const {
  if (directory_.empty()) return nullptr;
  if (!file_list_) formats::Raise(formats::kObjectNotSet);
  for (const std::string& path : *file_list_) {
    if (std::filesystem::path(path).extension() != ".imp") continue;
    if (formats::Cp1252ToUtf8(formats::BookIdOfFile(path)) != book_id) continue;
    auto book = std::make_shared<vellix::Book>();
    book->SetBookId(book_id);
    book->SetPath(path);
    return book;
  }
  return nullptr;
}

int16_t Bookshelf::BookInformationLength(const std::string& file_path) {
  formats::InputFile file(file_path);
  return formats::InformationLength(file);
}

std::shared_ptr<Book> Bookshelf::AddBookFolder(const std::string& folder, std::string* book_file) {
  if (!books_) formats::Raise(formats::kObjectNotSet);
  std::shared_ptr<vellix::Book> book = PublishBookFolder(folder, book_file);
  Add(book);
  return book;
}

std::shared_ptr<Book> Bookshelf::PublishBookFolder(const std::string& folder, std::string* book_file) const {
  auto book = std::make_shared<vellix::Book>();
  book->Load(folder);
  if (book->Extension() != "res") formats::Raise(formats::kFileNotFound, folder);
  std::string destination = ReserveBookFilePath();
  try {
    book->Save(destination);
  } catch (...) {
    ReleaseReservation(destination);
    throw;
  }
  if (book_file) *book_file = destination;
  return book;
}

bool Bookshelf::IsAddableFileKind(const std::string& extension) { return FindAddableFileKind(extension) != nullptr; }

bool Bookshelf::IsAddableKind(const std::string& kind) { return kind == "res" || IsAddableFileKind(kind); }

std::string Bookshelf::NotAddableText() {
  std::string text = "not a kind of file the shelf can add (a book folder, or a file ending in ";
  const size_t count = std::size(kAddableFileKinds);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += i + 1 == count ? " or " : ", ";
    text += std::string(".") + kAddableFileKinds[i].extension;
  }
  return text + ")";
}

std::string Bookshelf::AddRefusal(const std::string& kind, const BatchOptions& options) {
  if (!IsAddableKind(kind)) return NotAddableText();
  const AddableFileKind* file_kind = FindAddableFileKind(kind);
  if (file_kind && !file_kind->carries_own_fields) return "";
  std::vector<const char*> given;
  if (options.title) given.push_back("title");
  if (options.author) given.push_back("author");
  if (options.category) given.push_back("category");
  if (given.empty()) return "";
  std::string fields;
  for (size_t i = 0; i < given.size(); ++i)
    fields += std::string(i == 0 ? "" : i + 1 == given.size() ? " and " : ", ") + given[i];
  const char* what = file_kind ? "a container" : "a book folder";
  return std::string(what) + " carries its own title, author and category; add it without giving the " + fields;
}

void Bookshelf::OpenForAdding(const std::string& directory) {
  if (!formats::IsFolder(directory)) formats::RaiseMissing(directory, true);
  directory_ = directory;
}

BatchItem Bookshelf::AddOne(const std::string& path, const BatchOptions& options,
                            std::shared_ptr<vellix::Book>& book) const {
  BatchItem item;
  item.path = path;
  try {
    if (options.keep_going && !options.keep_going())
      formats::Raise(formats::kInvalidArgument, "stopped before " + path);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      if (std::string refusal = AddRefusal("res", options); !refusal.empty()) {
        item.error = formats::kInvalidArgument;
        item.description = std::move(refusal);
        return item;
      }
      book = PublishBookFolder(path, &item.book_file);
      return item;
    }
    book = std::make_shared<vellix::Book>();
    book->Load(path);
    if (book->Path().empty()) formats::RaiseMissing(path, false);
    if (std::string refusal = AddRefusal(book->Extension(), options); !refusal.empty()) {
      item.error = formats::kInvalidArgument;
      item.description = std::move(refusal);
      book.reset();
      return item;
    }
    if (options.title) book->SetTitle(*options.title);
    if (options.author) book->SetAuthor(*options.author);
    if (options.category) book->SetCategory(*options.category);
    PublishEvents events;
    events.keep_going = options.keep_going;
    Publish(book, &events, &item.book_file);
  } catch (const formats::AutomationError& e) {
    item.error = e.number();
    if (formats::PlainMessage(e) == e.detail()) {
      // The detail says what went wrong; the path goes before it anyway.
      item.description = e.detail().starts_with(path + ": ") ? e.detail().substr(path.size() + 2) : e.detail();
    } else {
      item.description = e.description();
      if (!e.detail().empty() && e.detail() != path) item.description += ": " + e.detail();
    }
    book.reset();
  } catch (const std::bad_alloc&) {
    item.error = formats::kOutOfMemory;
    item.description = "out of memory while adding " + path;
    book.reset();
  }
  return item;
}

std::vector<BatchItem> Bookshelf::AddMany(const std::vector<std::string>& paths, const BatchOptions& options) {
  if (directory_.empty()) formats::Raise(formats::kPathNotFound);
  // Sources sharing a folder and a base name share their package and page:
  // each such group is built by one worker, in order.
  std::vector<std::vector<size_t>> groups;
  std::map<std::string, size_t> group_of;
  for (size_t i = 0; i < paths.size(); ++i) {
    std::filesystem::path file = std::filesystem::absolute(paths[i]).lexically_normal();
    std::string key = (file.parent_path() / file.stem()).string();
    auto [it, fresh] = group_of.emplace(key, groups.size());
    if (fresh) groups.emplace_back();
    groups[it->second].push_back(i);
  }

  std::vector<BatchItem> items(paths.size());
  std::vector<std::shared_ptr<vellix::Book>> books(paths.size());
  std::atomic<size_t> next_group{0};
  std::atomic<bool> failed{false};
  std::mutex finished_mutex;
  std::exception_ptr failure;
  size_t done = 0;
  BatchOptions each = options;
  each.keep_going = [&failed, &options] { return !failed && (!options.keep_going || options.keep_going()); };
  auto work = [&] {
    for (size_t g; (g = next_group++) < groups.size();) {
      for (size_t i : groups[g]) {
        items[i] = AddOne(paths[i], each, books[i]);
        std::lock_guard<std::mutex> lock(finished_mutex);
        ++done;
        if (!options.finished || failed) continue;
        try {
          options.finished(done, paths.size(), items[i]);
        } catch (...) {
          failure = std::current_exception();
          failed = true;
        }
      }
    }
  };
  unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<size_t>(jobs, groups.size()));
  if (jobs <= 1) {
    work();
  } else {
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs; ++j) workers.emplace_back(work);
    for (std::thread& worker : workers) worker.join();
  }
  if (failure) std::rethrow_exception(failure);
  if (books_)
    for (const auto& book : books)
      if (book) books_->AddBook(book);
  return items;
}

void Bookshelf::Load(const std::string& directory) { LoadBooks(directory, nullptr); }

std::vector<UnreadableBook> Bookshelf::LoadTolerant(const std::string& directory) {
  std::vector<UnreadableBook> unreadable;
  LoadBooks(directory, &unreadable);
  return unreadable;
}

void Bookshelf::LoadBooks(const std::string& directory, std::vector<UnreadableBook>* unreadable) {
  if (!formats::IsFolder(directory)) {
    directory_.clear();
    books_.reset();
    return;
  }
  directory_ = directory;
  books_ = std::make_shared<vellix::Books>();
  auto add = [&](const std::string& path) {
    if (!unreadable) {
      books_->Add(path);
      return;
    }
    try {
      books_->Add(path);
    } catch (const formats::AutomationError& e) {
      unreadable->push_back({path, e.number(), e.description()});
    }
  };
  formats::FolderListing listing = formats::ListFolderAll(directory);
  for (const std::string& name : listing.folders) {
    std::string path = (std::filesystem::path(directory) / name).string();
    if (EndsWithResFolderName(path)) add(path);
  }
  for (const std::string& name : listing.files) {
    std::string path = (std::filesystem::path(directory) / name).string();
    if (IsLowerImp(path) && !IsReservation(path)) add(path);
  }
}

void Bookshelf::Backup(const std::string&) {}

void Bookshelf::Sort() {
  if (!books_) formats::Raise(formats::kObjectNotSet);
  SortKeyMaker maker;
  std::vector<std::string> keys;
  keys.reserve(static_cast<size_t>(books_->Count()));
  for (const auto& book : *books_) keys.push_back(maker.KeyFor(*book));
  std::vector<size_t> order = SelectionSortOrder(keys);
  auto sorted = std::make_shared<vellix::Books>();
  std::vector<std::shared_ptr<vellix::Book>> items(books_->begin(), books_->end());
  for (size_t i : order) sorted->AddBook(items[i]);
  books_ = std::move(sorted);
}

std::string Bookshelf::ReserveBookFilePath() const {
  if (directory_.empty()) formats::Raise(formats::kPathNotFound);
  while (true) {
    std::string name;
    for (int i = 0; i < 8; ++i) name += formats::RandomCapital();
    std::string path = (std::filesystem::path(directory_) / (name + ".imp")).string();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) formats::RaiseFromErrno(errno, directory_, true);
  }
}

std::string Bookshelf::NewBookFilePath() const {
  // Without a folder the name would land in the file system's root.
  if (directory_.empty()) formats::Raise(formats::kPathNotFound);
  while (true) {
    std::string name;
    for (int i = 0; i < 8; ++i) name += formats::RandomCapital();
    std::string path = (std::filesystem::path(directory_) / (name + ".imp")).string();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return path;
  }
}

}  // namespace vellix
