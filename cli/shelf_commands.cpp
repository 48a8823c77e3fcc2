#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "build_display.h"
#include "commands.h"
#include "output.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/markup.h"

namespace vellix::cli {
namespace {

struct ShelfOptions {
  std::string dir;
  std::string path;
  std::vector<std::string> paths;
  std::string from_list;
  unsigned jobs = 0;
  std::string book_id;
  std::string title, author, category;
  std::string base_url;
  std::string output;
  bool sorted = false;
  bool json = false;
};

// Opens the shelf as Bookshelf.Load does; a missing folder is an error
// here, since the user named it.
void LoadShelf(Bookshelf& shelf, const std::string& dir) {
  shelf.Load(CleanPath(dir));
  if (!shelf.Books()) formats::RaiseMissing(CleanPath(dir), true);
}

// Bookshelf.Add with the build shown as it goes: problems on stderr, a
// bar on a terminal; Ctrl-C stops the build and leaves no book.
void PublishWithProgress(Bookshelf& shelf, const std::shared_ptr<Book>& book, std::string& book_file) {
  InterruptToAbort interrupt;
  ProgressBar bar;
  PublishEvents events;
  events.source_start = [&bar](const std::string& file, int32_t number, int32_t total) {
    bar.SourceStart(file, number, total);
  };
  events.progress = [&bar](int64_t done, int64_t total) { bar.Progress(done, total); };
  events.error = [&bar](const std::string& file, const std::string& message, int32_t line, int32_t column,
                        int16_t severity) {
    bar.Clear();
    std::cerr << EventLine(file, message, line, column, severity) << "\n";
  };
  events.keep_going = [] { return !InterruptToAbort::Interrupted(); };
  shelf.Publish(book, &events, &book_file);
}

// The line that tells why `path` was not added, the same for one path
// and for many.
void PrintNotAdded(const std::string& path, const std::string& why, int number) {
  std::cerr << "vellix: " << path << ": " << why;
  if (formats::DescriptionTellsCause(number)) std::cerr << " (" << number << ")";
  std::cerr << "\n";
}

// One path, shown as it builds: the build's problems on stderr and its
// sources on the bar. Errors end the tool with their number.
int AddOne(Bookshelf& shelf, const std::string& path, const BatchOptions& fields) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    // As the Add Book dialog: the book folder becomes a new book file,
    // with the fields its own information file holds.
    if (std::string refusal = Bookshelf::AddRefusal("res", fields); !refusal.empty()) {
      PrintNotAdded(path, refusal, formats::kInvalidArgument);
      return kExitError;
    }
    std::string book_file;
    shelf.PublishBookFolder(path, &book_file);
    std::cout << book_file << "\n";
    return kExitOk;
  }
  auto book = std::make_shared<Book>();
  book->Load(path);
  if (book->Path().empty()) formats::RaiseMissing(path, false);
  if (std::string refusal = Bookshelf::AddRefusal(book->Extension(), fields); !refusal.empty()) {
    PrintNotAdded(path, refusal, formats::kInvalidArgument);
    return kExitError;
  }
  // As the Import Book dialog: the typed fields, then Add.
  if (fields.title) book->SetTitle(*fields.title);
  if (fields.author) book->SetAuthor(*fields.author);
  if (fields.category) book->SetCategory(*fields.category);
  std::string book_file;
  PublishWithProgress(shelf, book, book_file);
  std::cout << (book_file.empty() ? book->Path() : book_file) << "\n";
  return kExitOk;
}

// Many paths: one bar over the batch, each book printed as it is added,
// each failure on stderr with its reason, then the counts.
int AddMany(Bookshelf& shelf, const std::vector<std::string>& paths, BatchOptions& batch) {
  InterruptToAbort interrupt;
  ProgressBar bar("Adding");
  size_t added = 0, failed = 0;
  batch.keep_going = [] { return !InterruptToAbort::Interrupted(); };
  batch.finished = [&](size_t done, size_t total, const BatchItem& item) {
    bar.Clear();
    if (item.added()) {
      ++added;
      std::cout << (item.book_file.empty() ? item.path : item.book_file) << "\n";
    } else {
      ++failed;
      PrintNotAdded(item.path, item.description, item.error);
    }
    bar.SourceStart(std::filesystem::path(item.path).filename().string(), static_cast<int32_t>(done),
                    static_cast<int32_t>(total));
    bar.Progress(static_cast<int64_t>(done), static_cast<int64_t>(total));
  };
  shelf.AddMany(paths, batch);
  bar.Clear();
  std::cout << added << " added, " << failed << " failed\n";
  return failed ? kExitError : kExitOk;
}

// The lines of a list file, without their line ends.
std::vector<std::string> ReadLines(const std::string& path) {
  std::string text = formats::ReadWholeFile(CleanPath(path));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

void AddShelfCommands(CLI::App& app, int& exit_code) {
  auto opts = std::make_shared<ShelfOptions>();
  CLI::App* shelf = app.add_subcommand("shelf", "List, search and add to a bookshelf folder");
  shelf->require_subcommand(1);

  CLI::App* list = shelf->add_subcommand("list", "Print the title of every book on the shelf");
  list->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  list->add_flag("--sorted", opts->sorted, "Sort by category, title and author first");
  list->add_flag("--json", opts->json, "Print a JSON array of books");
  list->callback([opts, &exit_code] {
    Bookshelf s;
    LoadShelf(s, opts->dir);
    if (opts->sorted) s.Sort();
    if (opts->json) {
      JsonArrayPrinter array;
      for (const auto& b : *s.Books()) array.Add(BookToJson(*b));
      array.Finish();
    } else {
      // As people read them, without the stored markup escapes.
      for (const auto& b : *s.Books()) std::cout << formats::UnescapeMarkup(b->Title()) << "\n";
    }
    exit_code = kExitOk;
  });

  CLI::App* find = shelf->add_subcommand("find", "Find the book file with an identifier");
  find->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  find->add_option("BOOKID", opts->book_id, "Book identifier")->required();
  find->add_flag("--json", opts->json, "Print a JSON object");
  find->callback([opts, &exit_code] {
    Bookshelf s;
    s.SetDirectory(CleanPath(opts->dir));
    if (s.Directory().empty()) formats::RaiseMissing(CleanPath(opts->dir), true);
    std::shared_ptr<Book> b = s.Book(opts->book_id);
    if (!b) {
      std::cerr << "vellix: no book file with identifier " << opts->book_id << "\n";
      exit_code = kExitNotFound;
      return;
    }
    PrintBook(*b, opts->json);
    exit_code = kExitOk;
  });

  CLI::App* infolen = shelf->add_subcommand("infolen", "Print a book file's information length");
  infolen->add_option("FILE", opts->path, "Book file")->required();
  infolen->callback([opts, &exit_code] {
    std::cout << Bookshelf::BookInformationLength(opts->path) << "\n";
    exit_code = kExitOk;
  });

  CLI::App* text = shelf->add_subcommand("text", "Write the bookshelf text (one record per book file)");
  text->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  text->add_option("--base-url", opts->base_url, "Address put before every book's query");
  text->callback([opts, &exit_code] {
    Bookshelf s;
    s.SetDirectory(CleanPath(opts->dir));
    if (s.Directory().empty()) formats::RaiseMissing(CleanPath(opts->dir), true);
    s.SetBaseURL(opts->base_url);
    std::cout << formats::Utf8ToCp1252Lossy(s.BookshelfText()) << std::flush;
    exit_code = kExitOk;
  });

  CLI::App* booklist = shelf->add_subcommand("booklist", "Write the book list text (one line per book)");
  booklist->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  booklist->add_option("BASEURL", opts->base_url, "Address put before every file name")->required();
  booklist->add_option("-o", opts->output, "File to write")->required();
  booklist->callback([opts, &exit_code] {
    Bookshelf s;
    LoadShelf(s, opts->dir);
    WriteBookListText(*s.Books(), opts->base_url, opts->output);
    exit_code = kExitOk;
  });

  CLI::App* exp = shelf->add_subcommand("export", "Write the book list document");
  exp->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  exp->add_option("-o", opts->output, "File to write")->required();
  exp->callback([opts, &exit_code] {
    Bookshelf s;
    LoadShelf(s, opts->dir);
    s.CreateBooklist(opts->output);
    exit_code = kExitOk;
  });

  CLI::App* add = shelf->add_subcommand("add", "Add book folders, containers, documents, packages or texts");
  add->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  add->add_option("PATH", opts->paths, "What to add; several at once are built in parallel");
  add->add_option("--from-list", opts->from_list, "A file of paths to add, one a line");
  add->add_option("--jobs", opts->jobs, "Books built at once (default: one per core)")->check(CLI::PositiveNumber);
  add->add_option("--title", opts->title, "Title of the new books");
  add->add_option("--author", opts->author, "Author of the new books");
  add->add_option("--category", opts->category, "Category of the new books");
  add->footer(
      "A document comes with its pictures and with the pages it links to that exist, one level deep: the "
      "pages those link to are not added. Link only what belongs to the book, or add a package naming its pages. "
      "Linked pages come from the document's own folder and below; pictures and style sheets also from one folder "
      "up, unless that is the root, the home or a temporary folder.");
  add->callback([opts, add, &exit_code] {
    // Refused before the shelf or the book is touched.
    if (add->count("--title")) formats::RequireUtf8(opts->title, "title");
    if (add->count("--author")) formats::RequireUtf8(opts->author, "author");
    if (add->count("--category")) formats::RequireUtf8(opts->category, "category");
    std::vector<std::string> paths;
    for (const std::string& path : opts->paths) paths.push_back(CleanPath(path));
    if (!opts->from_list.empty()) {
      for (std::string& line : ReadLines(opts->from_list))
        if (!line.empty()) paths.push_back(CleanPath(line));
    }
    if (paths.empty() && opts->from_list.empty()) throw CLI::ValidationError("PATH", "give what to add");
    // Adding reads no other book: the shelf is only checked to be a folder,
    // made first when it is not there yet.
    const std::string dir = CleanPath(opts->dir);
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(dir, ec)) &&
        std::filesystem::create_directories(dir, ec))
      std::cerr << "vellix: created the shelf folder " << dir << "\n";
    if (ec) formats::Raise(formats::kPathNotFound, dir + ": the shelf folder cannot be made: " + ec.message());
    Bookshelf s;
    s.OpenForAdding(dir);
    BatchOptions batch;
    if (add->count("--title")) batch.title = opts->title;
    if (add->count("--author")) batch.author = opts->author;
    if (add->count("--category")) batch.category = opts->category;
    if (paths.size() == 1 && opts->from_list.empty()) {
      exit_code = AddOne(s, paths.front(), batch);
      return;
    }
    batch.jobs = opts->jobs;
    exit_code = AddMany(s, paths, batch);
  });
}

}  // namespace vellix::cli
