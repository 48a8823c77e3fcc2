#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

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
  if (!shelf.Books()) RaiseMissing(CleanPath(dir), true);
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
  shelf.Add(book, &events, &book_file);
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
      // People read the titles; the JSON above keeps the stored escapes.
      for (const auto& b : *s.Books()) std::cout << UnescapeMarkup(b->Title()) << "\n";
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
    if (s.Directory().empty()) RaiseMissing(CleanPath(opts->dir), true);
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
    if (s.Directory().empty()) RaiseMissing(CleanPath(opts->dir), true);
    s.SetBaseURL(opts->base_url);
    std::cout << Utf8ToCp1252Lossy(s.BookshelfText()) << std::flush;
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

  CLI::App* add = shelf->add_subcommand("add", "Add a book folder, document, package or text");
  add->add_option("DIR", opts->dir, "Bookshelf folder")->required();
  add->add_option("PATH", opts->path, "What to add")->required();
  add->add_option("--title", opts->title, "Title of the new book");
  add->add_option("--author", opts->author, "Author of the new book");
  add->add_option("--category", opts->category, "Category of the new book");
  add->callback([opts, add, &exit_code] {
    // Refused before the shelf or the book is touched.
    if (add->count("--title")) RequireUtf8(opts->title, "title");
    if (add->count("--author")) RequireUtf8(opts->author, "author");
    if (add->count("--category")) RequireUtf8(opts->category, "category");
    Bookshelf s;
    LoadShelf(s, opts->dir);
    const std::string path = CleanPath(opts->path);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      // As the Add Book dialog: the book folder becomes a new book file,
      // with the fields its own information file holds.
      for (const char* field : {"--title", "--author", "--category"})
        if (add->count(field))
          throw CLI::ValidationError(std::string(field) +
                                     " does not apply to a book folder: its fields come from its RSRC.INF");
      std::string book_file;
      s.AddBookFolder(path, &book_file);
      std::cout << book_file << "\n";
    } else {
      auto book = std::make_shared<Book>();
      book->Load(path);
      if (book->Path().empty()) RaiseMissing(path, false);
      // The shelf would keep such a file as it is and publish nothing.
      const std::string kind = book->Extension();
      if (kind != "txt" && kind != "htm" && kind != "html" && kind != "odf" && kind != "opf") {
        std::cerr << "vellix: " << path << ": not a kind of file the shelf can add (a book folder, or a file ending in "
                  << ".txt, .htm, .html, .odf or .opf)\n";
        exit_code = kExitError;
        return;
      }
      // As the Import Book dialog: the typed fields, then Add.
      if (add->count("--title")) book->SetTitle(opts->title);
      if (add->count("--author")) book->SetAuthor(opts->author);
      if (add->count("--category")) book->SetCategory(opts->category);
      std::string book_file;
      PublishWithProgress(s, book, book_file);
      std::cout << (book_file.empty() ? book->Path() : book_file) << "\n";
    }
    exit_code = kExitOk;
  });
}

}  // namespace vellix::cli
