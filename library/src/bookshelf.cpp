#include "vellix/bookshelf.h"

#include <sys/stat.h>

#include <filesystem>

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
  return path.size() >= 4 && UpperAscii(std::string_view(path).substr(path.size() - 4)) == ".RES";
}

bool IsLowerImp(const std::string& path) {
  return LowerAscii(std::filesystem::path(path).extension().string()) == ".imp";
}

}  // namespace

// --- Books ---

std::shared_ptr<Book> Books::Add(const std::string& path) {
  auto book = std::make_shared<vellix::Book>();
  book->Load(path);
  items_.push_back(book);
  return book;
}

void Books::AddBook(std::shared_ptr<vellix::Book> book) { items_.push_back(std::move(book)); }

size_t Books::PositionOf(const Variant& index) const {
  if (index.type() != Variant::Type::kInteger) Raise(kInvalidArgument);
  int64_t i = index.AsInteger();
  if (i < 1 || i > static_cast<int64_t>(items_.size())) Raise(kInvalidArgument);
  return static_cast<size_t>(i - 1);
}

std::shared_ptr<Book> Books::Item(const Variant& index) const { return items_[PositionOf(index)]; }

void Books::Remove(const Variant& index) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(PositionOf(index)));
}

// --- Bookshelf ---

Bookshelf::Bookshelf() { SeedRandomFromClock(); }

void Bookshelf::Add(const std::shared_ptr<vellix::Book>& new_book) { Add(new_book, nullptr); }

void Bookshelf::Add(const std::shared_ptr<vellix::Book>& new_book, const PublishEvents* events,
                    std::string* book_file) {
  // Checked first, so that a shelf without books writes no orphan file.
  if (!books_ || !new_book) Raise(kObjectNotSet);
  if (book_file) book_file->clear();
  const std::string kind = new_book->Extension();
  bool publish = kind == "htm" || kind == "html" || kind == "odf" || kind == "opf" || kind == "epub";
  if (kind == "txt") {
    std::filesystem::path text(new_book->Path());
    new_book->ConvertTxtToHtm((text.parent_path() / (text.stem().string() + ".htm")).string());
    publish = true;
  } else if (kind == "md" || kind == "markdown") {
    std::filesystem::path text(new_book->Path());
    new_book->ConvertMarkdownToHtm((text.parent_path() / (text.stem().string() + ".htm")).string());
    publish = true;
  }
  if (publish) {
    std::string destination = NewBookFilePath();
    new_book->Save(destination, events);
    if (book_file && IsFile(destination)) *book_file = destination;
  }
  books_->AddBook(new_book);
}

void Bookshelf::SetDirectory(const std::string& directory) {
  directory_ = directory;
  if (!IsFolder(directory)) {
    directory_.clear();
    return;
  }
  std::vector<std::string> paths;
  for (const std::string& name : ListFolder(directory, EntryKind::kFile))
    paths.push_back((std::filesystem::path(directory) / name).string());
  file_list_ = std::move(paths);
}

std::shared_ptr<Book> Bookshelf::Book(const std::string& book_id) const {
  if (directory_.empty()) return nullptr;
  if (!file_list_) Raise(kObjectNotSet);
  for (const std::string& path : *file_list_) {
    if (std::filesystem::path(path).extension() != ".imp") continue;
    if (Cp1252ToUtf8(BookIdOfFile(path)) != book_id) continue;
    auto book = std::make_shared<vellix::Book>();
    book->SetBookId(book_id);
    book->SetPath(path);
    return book;
  }
  return nullptr;
}

int16_t Bookshelf::BookInformationLength(const std::string& file_path) {
  InputFile file(file_path);
  return InformationLength(file);
}

std::shared_ptr<Book> Bookshelf::AddBookFolder(const std::string& folder, std::string* book_file) {
  if (!books_) Raise(kObjectNotSet);
  auto book = std::make_shared<vellix::Book>();
  book->Load(folder);
  if (book->Extension() != "res") Raise(kFileNotFound, folder);
  std::string destination = NewBookFilePath();
  book->Save(destination);
  Add(book);
  if (book_file) *book_file = destination;
  return book;
}

void Bookshelf::Load(const std::string& directory) { LoadBooks(directory, nullptr); }

std::vector<UnreadableBook> Bookshelf::LoadTolerant(const std::string& directory) {
  std::vector<UnreadableBook> unreadable;
  LoadBooks(directory, &unreadable);
  return unreadable;
}

void Bookshelf::LoadBooks(const std::string& directory, std::vector<UnreadableBook>* unreadable) {
  if (!IsFolder(directory)) {
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
    } catch (const AutomationError& e) {
      unreadable->push_back({path, e.number(), e.description()});
    }
  };
  FolderListing listing = ListFolderAll(directory);
  for (const std::string& name : listing.folders) {
    std::string path = (std::filesystem::path(directory) / name).string();
    if (EndsWithResFolderName(path)) add(path);
  }
  for (const std::string& name : listing.files) {
    std::string path = (std::filesystem::path(directory) / name).string();
    if (IsLowerImp(path)) add(path);
  }
}

void Bookshelf::Backup(const std::string&) {}

void Bookshelf::Sort() {
  if (!books_) Raise(kObjectNotSet);
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

std::string Bookshelf::NewBookFilePath() const {
  // Without a folder the name would land in the file system's root.
  if (directory_.empty()) Raise(kPathNotFound);
  while (true) {
    std::string name;
    for (int i = 0; i < 8; ++i) name += RandomCapital();
    std::string path = (std::filesystem::path(directory_) / (name + ".imp")).string();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return path;
  }
}

}  // namespace vellix
