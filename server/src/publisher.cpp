#include "publisher.h"

#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/markup.h"

namespace vellix::server {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A job's name: not guessable, so one uploader cannot watch another's.
std::string NewJobId(unsigned serial) {
  unsigned char bytes[12] = {};
  if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes)
    std::snprintf(reinterpret_cast<char*>(bytes), 12, "%u", serial);
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  return id;
}

// The uploaded name reduced to letters, digits, "-", "_" and ".", never
// hidden, so it can only name a file inside the staging folder.
std::string SafeFileName(const std::string& name) {
  std::string base = name.substr(name.find_last_of("/\\") == std::string::npos ? 0 : name.find_last_of("/\\") + 1);
  std::string out;
  for (char c : base) {
    const bool plain =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    out += plain ? c : '_';
  }
  while (!out.empty() && out[0] == '.') out.erase(0, 1);
  return out.empty() ? "upload" : out;
}

class TempFolder {
 public:
  TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vellix-upload-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void PublishJob::Add(const std::string& name, const std::string& data, bool last) {
  std::lock_guard lock(mutex_);
  events_.push_back("event: " + name + "\ndata: " + data + "\n\n");
  if (last) finished_ = true;
  changed_.notify_all();
}

std::vector<std::string> PublishJob::EventsAfter(size_t seen, int wait_ms, bool* finished) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return finished_ || events_.size() > seen; });
  *finished = finished_;
  if (seen >= events_.size()) return {};
  return {events_.begin() + static_cast<std::ptrdiff_t>(seen), events_.end()};
}

Publisher::Publisher(std::string shelf, std::function<void()> published, Note note)
    : shelf_(std::move(shelf)), published_(std::move(published)), note_(std::move(note)) {
  worker_ = std::thread([this] { Work(); });
}

Publisher::~Publisher() { Finish(); }

void Publisher::Finish() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::string Publisher::AcceptedExtension(const std::string& file_name) {
  std::string ext = fs::path(SafeFileName(file_name)).extension().string();
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (ext == ".imp") return ext;
  for (const AddableFileKind& kind : AddableFileKinds())
    if (kind.self_contained && ext == std::string(".") + kind.extension) return ext;
  return "";
}

std::string Publisher::AcceptedKindsText() {
  std::string text;
  for (const AddableFileKind& kind : AddableFileKinds())
    if (kind.self_contained) text += std::string(text.empty() ? "" : ", ") + "." + kind.extension;
  return text + " or a ready .imp book";
}

std::shared_ptr<PublishJob> Publisher::Submit(Upload upload) {
  std::lock_guard lock(mutex_);
  auto job = std::make_shared<PublishJob>(NewJobId(next_id_++));
  jobs_[job->id()] = job;
  queue_.emplace_back(job, std::move(upload));
  changed_.notify_all();
  return job;
}

std::shared_ptr<PublishJob> Publisher::Find(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = jobs_.find(id);
  return it == jobs_.end() ? nullptr : it->second;
}

void Publisher::Work() {
  for (;;) {
    std::pair<std::shared_ptr<PublishJob>, Upload> next;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to publish
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    Publish(*next.first, next.second);
    next.second.bytes.clear();
  }
}

void Publisher::Publish(PublishJob& job, const Upload& upload) {
  const std::string name = SafeFileName(upload.file_name);
  auto fail = [&](const std::string& why) {
    note_("publish " + name + ": " + why);
    job.Add("done", json{{"ok", false}, {"error", why}}.dump(-1, ' ', false, json::error_handler_t::replace), true);
  };
  TempFolder staging;
  if (staging.path().empty()) return fail("no staging folder");
  const std::string document = staging.path() + "/" + name;
  try {
    {
      FILE* out = std::fopen(document.c_str(), "wb");
      if (!out) return fail("cannot stage the upload");
      const bool written = std::fwrite(upload.bytes.data(), 1, upload.bytes.size(), out) == upload.bytes.size();
      if (std::fclose(out) != 0 || !written) return fail("cannot stage the upload");
    }
    auto book = std::make_shared<Book>();
    book->Load(document);
    if (book->Path().empty()) return fail("not a document the shelf takes");
    BatchOptions fields;
    if (!upload.title.empty()) fields.title = upload.title;
    if (!upload.author.empty()) fields.author = upload.author;
    if (!upload.category.empty()) fields.category = upload.category;
    if (book->Extension() != "imp")
      if (std::string refusal = Bookshelf::AddRefusal(book->Extension(), fields); !refusal.empty())
        return fail(refusal);
    if (!upload.title.empty()) book->SetTitle(upload.title);
    if (!upload.author.empty()) book->SetAuthor(upload.author);
    if (!upload.category.empty()) book->SetCategory(upload.category);

    Bookshelf shelf;
    shelf.LoadTolerant(shelf_);
    std::string book_file;
    if (book->Extension() == "imp") {
      // A ready book is only put on the shelf, under a fresh name.
      book_file = shelf.NewBookFilePath();
      formats::AtomicFileWriter writer(book_file);
      writer.Write(upload.bytes);
      writer.Commit();
    } else {
      PublishEvents events;
      events.source_start = [&](const std::string& file, int32_t number, int32_t total) {
        job.Add("source", json{{"file", fs::path(file).filename().string()}, {"number", number}, {"total", total}}.dump(
                              -1, ' ', false, json::error_handler_t::replace));
      };
      events.progress = [&](int64_t done, int64_t total) {
        job.Add("progress",
                json{{"done", done}, {"total", total}}.dump(-1, ' ', false, json::error_handler_t::replace));
      };
      events.error = [&](const std::string& file, const std::string& message, int32_t line, int32_t column,
                         int16_t severity) {
        job.Add("error-event", json{{"file", fs::path(file).filename().string()},
                                    {"message", message},
                                    {"line", line},
                                    {"column", column},
                                    {"severity", severity}}
                                   .dump(-1, ' ', false, json::error_handler_t::replace));
      };
      shelf.Add(book, &events, &book_file);
    }
    if (book_file.empty()) return fail("nothing was published");
    published_();
    const std::string id = fs::path(book_file).stem().string();
    note_("published " + name + " as " + book_file);
    Book written;
    written.Load(book_file);
    job.Add("done",
            json{{"ok", true},
                 {"book", fs::path(book_file).filename().string()},
                 {"title", formats::UnescapeMarkup(written.Title())},
                 {"page", "/books/" + id}}
                .dump(-1, ' ', false, json::error_handler_t::replace),
            true);
  } catch (const formats::AutomationError& e) {
    fail(e.ToString());
  } catch (const std::exception& e) {
    fail(e.what());
  }
}

}  // namespace vellix::server
