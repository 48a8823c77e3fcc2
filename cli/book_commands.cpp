#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <set>

#include "commands.h"
#include "output.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"

namespace vellix::cli {
namespace {

struct BookOptions {
  std::string path;
  std::string dest;
  std::string tag;
  std::string title, author, category;
  int id = 0;
  bool json = false;
};

// Loading neither completes a package of the user's nor rewrites a document,
// but a private copy of the file, under the same name in a fresh temporary
// folder, lets a command look at a book without changing it: neither clean-up
// nor completion reads the file's neighbours. The folder goes with the copy.
class PrivateCopy {
 public:
  // Copies `path` when it is a document or package, the files loading may
  // rewrite; otherwise path() is `path`.
  explicit PrivateCopy(const std::string& path) : path_(path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    static const std::set<std::string> kRewritten = {".htm", ".html", ".odf", ".opf"};
    if (!kRewritten.count(formats::LowerAscii(fs::path(path).extension().string())) || !fs::is_regular_file(path, ec))
      return;
    std::string pattern = (fs::temp_directory_path() / "vellix-info-XXXXXX").string();
    if (!mkdtemp(pattern.data())) formats::RaiseFromErrno(errno, pattern, true);
    folder_ = pattern;
    std::string copy = (fs::path(folder_) / fs::path(path).filename()).string();
    if (!fs::copy_file(path, copy, ec)) formats::Raise(formats::kPathFileAccess, path + ": " + ec.message());
    path_ = copy;
  }
  ~PrivateCopy() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string folder_;
};

}  // namespace

void AddBookCommands(CLI::App& app, int& exit_code) {
  auto opts = std::make_shared<BookOptions>();

  auto export_opts = std::make_shared<BookOptions>();
  CLI::App* exp = app.add_subcommand("export", "Write a book file this program built as an EPUB 3 book");
  exp->add_option("BOOK", export_opts->path, "Book file (.imp)")->required();
  exp->add_option("-o,--output", export_opts->dest, "EPUB book to write")->required();
  exp->callback([export_opts, &exit_code] {
    Book b;
    b.Load(CleanPath(export_opts->path));
    if (b.Path().empty()) formats::RaiseMissing(CleanPath(export_opts->path), false);
    b.SaveAsEpub(CleanPath(export_opts->dest));
    std::cout << CleanPath(export_opts->dest) << "\n";
    exit_code = kExitOk;
  });

  CLI::App* book = app.add_subcommand("book", "Read, convert and inspect one book");
  book->require_subcommand(1);

  CLI::App* info =
      book->add_subcommand("info", "Load a book and print its properties (reads a copy: never changes PATH)");
  info->add_option("PATH", opts->path, "Book file, book folder, document or package")->required();
  info->add_flag("--json", opts->json, "Print a JSON object");
  info->callback([opts, &exit_code] {
    std::string path = CleanPath(opts->path);
    PrivateCopy copy(path);
    Book b;
    formats::OnCopyOf(path, copy.path(), [&] { b.Load(copy.path()); });
    if (b.Path().empty()) formats::RaiseMissing(path, false);  // Load itself is silent about it
    nlohmann::ordered_json properties = BookToJson(b);
    properties["Path"] = path;  // the user's file, not the copy
    properties["Size"] = b.BytesOnDisk();
    properties["Pages"] = b.LaidOutPages();
    PrintBook(properties, opts->json);
    exit_code = kExitOk;
  });

  CLI::App* open =
      book->add_subcommand("open", "Open a book file by path (reads its source record; never changes PATH)");
  open->add_option("PATH", opts->path, "Book file")->required();
  open->add_flag("--json", opts->json, "Print a JSON object");
  open->callback([opts, &exit_code] {
    Book b;
    b.SetPath(CleanPath(opts->path));
    PrintBook(b, opts->json);
    exit_code = kExitOk;
  });

  CLI::App* convert =
      book->add_subcommand("convert", "Convert a book folder into a book file (writes DEST; never changes FOLDER)");
  convert->add_option("FOLDER", opts->path, "Book folder (name ending in .RES)")->required();
  convert->add_option("DEST", opts->dest, "Book file to write")->required();
  convert->callback([opts, &exit_code] {
    Book b;
    std::string folder = CleanPath(opts->path);
    b.Load(folder);
    if (b.Path().empty()) formats::RaiseMissing(folder, true);
    if (b.Extension() != "res") formats::Raise(formats::kInvalidArgument, "not a book folder: " + folder);
    // An empty name would make Save pick a file beside the folder.
    if (opts->dest.empty()) throw CLI::ValidationError("DEST", "name the book file to write");
    b.Save(opts->dest);
    exit_code = kExitOk;
  });

  CLI::App* resource =
      book->add_subcommand("resource", "Print one string of a book file's resource (never changes PATH)");
  resource->add_option("PATH", opts->path, "Book file")->required();
  resource->add_option("TAG", opts->tag, "Four-character resource type, such as RSRC")->required();
  resource->add_option("ID", opts->id, "String identifier, such as 128")->required()->check(CLI::Range(-32768, 32767));
  resource->callback([opts, &exit_code] {
    Book b;
    b.SetPath(CleanPath(opts->path));
    std::string text = b.GetResourceString(opts->tag, static_cast<int16_t>(opts->id));
    std::cout << formats::ToCp1252OrRaise(text);
    exit_code = kExitOk;
  });

  // The fields typed for a new book: each given option replaces the loaded value.
  auto add_fields = [opts](CLI::App* cmd) {
    cmd->add_option("--title", opts->title, "Title of the book");
    cmd->add_option("--author", opts->author, "Author of the book");
    cmd->add_option("--category", opts->category, "Category of the book");
  };
  // Checked before anything is read or written, as Book checks them again.
  auto check_fields = [opts](CLI::App* cmd) {
    if (cmd->count("--title")) formats::RequireUtf8(opts->title, "title");
    if (cmd->count("--author")) formats::RequireUtf8(opts->author, "author");
    if (cmd->count("--category")) formats::RequireUtf8(opts->category, "category");
  };
  auto set_fields = [opts](CLI::App* cmd, Book& b) {
    if (cmd->count("--title")) b.SetTitle(opts->title);
    if (cmd->count("--author")) b.SetAuthor(opts->author);
    if (cmd->count("--category")) b.SetCategory(opts->category);
  };

  CLI::App* text2htm = book->add_subcommand(
      "text2htm", "Convert a text file into an OEB XHTML document (writes HTM; never changes TXT)");
  text2htm->add_option("TXT", opts->path, "Text file")->required();
  text2htm->add_option("HTM", opts->dest, "Document to write")->required();
  add_fields(text2htm);
  text2htm->callback([opts, text2htm, check_fields, set_fields, &exit_code] {
    check_fields(text2htm);
    Book b;
    b.Load(opts->path);
    if (b.Path().empty()) formats::RaiseMissing(opts->path, false);
    set_fields(text2htm, b);
    b.ConvertTxtToHtm(opts->dest);
    exit_code = kExitOk;
  });

  CLI::App* md2htm =
      book->add_subcommand("md2htm", "Convert a Markdown file into an XHTML document (writes HTM; never changes MD)");
  md2htm->add_option("MD", opts->path, "Markdown file")->required();
  md2htm->add_option("HTM", opts->dest, "Document to write")->required();
  add_fields(md2htm);
  md2htm->callback([opts, md2htm, check_fields, set_fields, &exit_code] {
    check_fields(md2htm);
    Book b;
    b.Load(opts->path);
    if (b.Path().empty()) formats::RaiseMissing(opts->path, false);
    set_fields(md2htm, b);
    b.ConvertMarkdownToHtm(opts->dest);
    exit_code = kExitOk;
  });

  CLI::App* package = book->add_subcommand("package",
                                           "Make the OEB package of a document beside it and complete it for a build "
                                           "(writes the package; never changes DOC)");
  package->add_option("DOC", opts->path, "HTML or XHTML document")->required();
  add_fields(package);
  package->callback([opts, package, check_fields, set_fields, &exit_code] {
    check_fields(package);
    Book b;
    b.Load(opts->path);
    if (b.Path().empty()) formats::RaiseMissing(opts->path, false);
    set_fields(package, b);
    std::string opf = b.PackageDocument();
    std::cout << opf << "\n";
    exit_code = kExitOk;
  });
}

}  // namespace vellix::cli
