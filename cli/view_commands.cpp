// vellix view: a built book laid out and drawn as the device shows it, page
// by page, into PNG files or as text.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "build_display.h"
#include "commands.h"
#include "ikutil/book_viewer.h"
#include "ikutil/device_settings.h"
#include "output.h"
#include "vellix/formats/file_io.h"

namespace vellix::cli {
namespace {

namespace fs = std::filesystem;

struct ViewOptions {
  std::string book;
  std::string output;
  std::string all;
  int64_t page = 1;
  int64_t width = 0, height = 0, depth = 0, font_size = 0;
  bool pages = false;
  bool text = false;
  bool zoom = false;
  bool contents = false;
  bool links = false;
  bool json = false;
  std::string find;
};

// Page images waiting to be written, drawn on the caller's thread and
// encoded and written by worker threads: laying out and drawing share the
// viewer's caches and stay on one thread, but a finished page's encoding
// does not need them, and it costs more than drawing the page.
class PageWriters {
 public:
  explicit PageWriters(unsigned threads) : most_spare_(2 * std::max(1u, threads) + 1) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i) threads_.emplace_back([this] { Work(); });
  }
  ~PageWriters() { Finish(); }

  // Pixels of a page already written, to draw the next page into (none
  // at first): the same size each page, so no page allocates afresh.
  std::vector<uint8_t> Spare() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return {};
    std::vector<uint8_t> pixels = std::move(spare_.back());
    spare_.pop_back();
    return pixels;
  }

  // Queues `image` for `path`, waiting while enough pages are queued; false
  // once a page could not be written.
  bool Add(std::string path, ikutil::PageImage image) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return queue_.size() < 2 * threads_.size() || !error_.empty(); });
    if (!error_.empty()) return false;
    queue_.push_back({std::move(path), std::move(image)});
    ready_.notify_one();
    return true;
  }

  // Waits for every queued page; the first error, or "".
  std::string Finish() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
    return error_;
  }

 private:
  struct Job {
    std::string path;
    ikutil::PageImage image;
  };
  void Work() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !queue_.empty() || closed_; });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
        if (!error_.empty()) continue;
      }
      std::string error;
      const bool saved = ikutil::SavePageImagePng(job.image, job.path, &error);
      std::lock_guard lock(mutex_);
      if (!saved) {
        if (error_.empty()) error_ = error;
        room_.notify_all();
      }
      if (spare_.size() < most_spare_) spare_.push_back(std::move(job.image.pixels));
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<Job> queue_;
  const size_t most_spare_;  // as many as can be queued or being written
  std::vector<std::vector<uint8_t>> spare_;
  bool closed_ = false;
  std::string error_;
  std::vector<std::thread> threads_;
};

// A usage error: the message on stderr, exit 2.
int Usage(const std::string& message) {
  std::cerr << "vellix: " << message << "\n";
  return kExitUsage;
}

int Failure(const std::string& message) {
  std::cerr << "vellix: " << message << "\n";
  return kExitError;
}

// The table of contents: each entry's page, level and label, indented by
// its level; or a JSON array of {"label", "level", "page"}.
int PrintContents(ikutil::CBookViewer& viewer, bool json) {
  const std::vector<ikutil::ContentsEntry> entries = viewer.Contents();
  if (json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const ikutil::ContentsEntry& e : entries)
      out.push_back({{"label", e.label}, {"level", e.level}, {"page", e.page}});
    PrintJson(out);
    return kExitOk;
  }
  for (const ikutil::ContentsEntry& e : entries)
    std::cout << "page " << e.page << "\tlevel " << e.level << "\t"
              << std::string(2 * static_cast<size_t>(e.level - 1), ' ') << e.label << "\n";
  return kExitOk;
}

// Every link of the book, page by page: where it leads, or "broken".
// Exit 1 when any link is broken, so that a script can refuse the book.
int PrintLinks(ikutil::CBookViewer& viewer, bool json) {
  bool any_broken = false;
  JsonArrayPrinter array;
  const int32_t count = viewer.PageCount();
  for (int32_t page = 1; page <= count; ++page) {
    for (const ikutil::PageLink& link : viewer.PageLinks(page)) {
      const bool broken = link.kind == ikutil::LinkTarget::kBroken;
      const bool in_book = link.kind == ikutil::LinkTarget::kPage;
      any_broken |= broken;
      if (json) {
        nlohmann::ordered_json item;
        item["page"] = page;
        item["text"] = link.text;
        item["href"] = in_book ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(link.href);
        item["target_page"] = in_book ? nlohmann::ordered_json(link.target_page) : nlohmann::ordered_json(nullptr);
        item["broken"] = broken;
        array.Add(item);
        continue;
      }
      std::cout << "page " << page << ": \"" << link.text << "\" -> ";
      if (in_book)
        std::cout << "page " << link.target_page << "\n";
      else if (broken)
        std::cout << link.href << " (broken)\n";
      else
        std::cout << link.href << " (outside the book)\n";
    }
  }
  if (json) array.Finish();
  return any_broken ? kExitError : kExitOk;
}

// Every hit of `text`: its page and the line it starts on. Exit 3 when
// there is none.
int PrintHits(ikutil::CBookViewer& viewer, const std::string& text) {
  bool any = false;
  for (ikutil::FindResult found = viewer.Find(text, 1); found.page > 0; found = viewer.Find(text, found.page + 1)) {
    const std::vector<ikutil::TextLine> lines = viewer.PageLines(found.page);
    for (const std::vector<ikutil::PageRect>& hit : found.hits) {
      if (hit.empty()) continue;
      any = true;
      std::string line_text;
      for (const ikutil::TextLine& line : lines)
        if (line.rect.y == hit.front().y) line_text = line.text;
      std::cout << "page " << found.page << ": " << line_text << "\n";
    }
  }
  return any ? kExitOk : kExitNotFound;
}

int Show(ikutil::CBookViewer& viewer, const ViewOptions& opts, const CLI::App& cmd, int32_t first);

int RunView(const ViewOptions& opts, const CLI::App& cmd) {
  const bool proofing = opts.contents || opts.links || cmd.count("--find");
  const int modes = (cmd.count("-o") ? 1 : 0) + (opts.pages ? 1 : 0) + (opts.text ? 1 : 0) +
                    (cmd.count("--all") ? 1 : 0) + (opts.contents ? 1 : 0) + (opts.links ? 1 : 0) +
                    (cmd.count("--find") ? 1 : 0);
  if (modes != 1)
    return Usage(
        "view needs exactly one of -o PAGE.png, --pages, --text, --all DIR, --contents, --links and --find TEXT");
  if (opts.json && !opts.contents && !opts.links) return Usage("--json goes with --contents or --links");
  if (cmd.count("--page") && (opts.pages || cmd.count("--all") || proofing))
    return Usage("--page goes with -o or --text");
  if (cmd.count("--depth") && (opts.pages || opts.text || proofing)) return Usage("--depth goes with -o or --all");
  if (opts.page < 1) return Usage("--page must be 1 or more");

  // Given options must make a screen the viewer can show; the settings
  // file's values are the viewer's to refuse.
  ikutil::DeviceSettings screen = ikutil::ReadDeviceSettings();
  auto side = [](const char* name, int64_t value, int32_t* into) {
    if (value < ikutil::kMinPageSide || value > ikutil::kMaxPageSide) {
      Usage(std::string(name) + " must be " + std::to_string(ikutil::kMinPageSide) + " to " +
            std::to_string(ikutil::kMaxPageSide) + " pixels, not " + std::to_string(value));
      return false;
    }
    *into = static_cast<int32_t>(value);
    return true;
  };
  if (cmd.count("--width") && !side("--width", opts.width, &screen.width)) return kExitUsage;
  if (cmd.count("--height") && !side("--height", opts.height, &screen.height)) return kExitUsage;
  if (cmd.count("--depth")) {
    if (opts.depth != 1 && opts.depth != 2 && opts.depth != 4 && opts.depth != 8)
      return Usage("--depth must be 1, 2, 4 or 8, not " + std::to_string(opts.depth));
    screen.depth = static_cast<int16_t>(opts.depth);
  }

  if (cmd.count("--font-size")) {
    if (opts.font_size < ikutil::kMinFontSize || opts.font_size > ikutil::kMaxFontSize)
      return Usage("--font-size must be " + std::to_string(ikutil::kMinFontSize) + " to " +
                   std::to_string(ikutil::kMaxFontSize) + " pixels, not " + std::to_string(opts.font_size));
    screen.font_size = static_cast<int32_t>(opts.font_size);
  }

  // The help promises BOOK is never changed: an output that is the book
  // itself (by any spelling or link) is refused before anything is drawn.
  if (cmd.count("-o")) formats::RefuseOverwritingInput(opts.output, {opts.book});

  // A pipe or a device named as the book would be read forever.
  if (!formats::IsFile(CleanPath(opts.book))) formats::RaiseMissing(CleanPath(opts.book), false);
  ikutil::CBookViewer viewer(CleanPath(opts.book));
  viewer.SetFontSize(screen.font_size);
  const int32_t first = static_cast<int32_t>(std::min<int64_t>(opts.page, INT32_MAX));
  // Zoomed page numbers are those of the other layout: open at the start,
  // zoom, then look the page up.
  if (!viewer.Create(nullptr, 0, opts.zoom ? 1 : first, screen.width, screen.height, screen.depth))
    return Failure(viewer.LastErrorMessage());
  const int code = Show(viewer, opts, cmd, first);
  // The book is read as far as it is shown: damage found on the way closes
  // it, and whatever was printed or drawn before is not the whole book.
  if (!viewer.IsOpen()) return Failure(viewer.LastErrorMessage());
  return code;
}

// What RunView does with the open book.
int Show(ikutil::CBookViewer& viewer, const ViewOptions& opts, const CLI::App& cmd, int32_t first) {
  if (opts.zoom) viewer.ToggleZoom();
  if (viewer.CurrentPage() != first && (cmd.count("-o") || opts.text)) {
    // Page numbers move with the zoom; the page asked for is looked up in
    // the layout shown.
    viewer.GotoPage(first);
    if (viewer.CurrentPage() != first && viewer.IsOpen())
      return Failure(opts.book + " has " + std::to_string(viewer.PageCount()) +
                     " pages at this size; there is no page " + std::to_string(opts.page));
  }

  if (opts.pages) {
    std::cout << viewer.PageCount() << "\n";
    return kExitOk;
  }
  if (opts.contents) return PrintContents(viewer, opts.json);
  if (opts.links) return PrintLinks(viewer, opts.json);
  if (cmd.count("--find")) return PrintHits(viewer, opts.find);
  if (opts.text) {
    // One page when asked for, else every page with a form feed between
    // pages.
    const bool every = !cmd.count("--page");
    const int32_t from = every ? 1 : viewer.CurrentPage();
    const int32_t to = every ? viewer.PageCount() : from;
    for (int32_t page = from; page <= to; ++page) {
      if (page > from) std::cout << '\f';
      for (const std::string& line : viewer.PageText(page)) std::cout << line << "\n";
    }
    return kExitOk;
  }
  ikutil::PageImage image;
  std::string error;
  if (cmd.count("-o")) {
    if (!viewer.GetPageImage(viewer.CurrentPage(), &image))
      return viewer.IsOpen() ? Failure(viewer.LastErrorMessage()) : kExitError;
    if (!ikutil::SavePageImagePng(image, opts.output, &error)) return Failure(error);
    return kExitOk;
  }

  const fs::path folder = CleanPath(opts.all);
  std::error_code ec;
  fs::create_directory(folder, ec);
  if (!fs::is_directory(folder, ec)) return Failure(folder.string() + ": not a folder and cannot be made one");
  ProgressBar bar("Drawing");
  // Counting the pages lays out the whole book before the first page is
  // drawn, and then each page again as it is drawn: only a bar on a
  // terminal needs the count.
  const int32_t count = bar.terminal() ? viewer.PageCount() : INT32_MAX;
  PageWriters writers(std::max(1u, std::thread::hardware_concurrency()));
  for (int32_t page = 1; page <= count; ++page) {
    if (!viewer.HasPage(page)) break;  // past the last page, or the book closed
    char name[32];
    std::snprintf(name, sizeof name, "page-%04d.png", page);
    ikutil::PageImage drawn;
    drawn.pixels = writers.Spare();
    if (!viewer.GetPageImage(page, &drawn)) {
      // The pages drawn before are kept; nothing stands in for this one.
      writers.Finish();
      bar.Clear();
      return viewer.IsOpen() ? Failure(viewer.LastErrorMessage()) : kExitError;
    }
    const std::string file = (folder / name).string();
    formats::RefuseOverwritingInput(file, {opts.book});
    if (!writers.Add(file, std::move(drawn))) break;
    bar.SourceStart("", page, count);
    bar.Progress(page, count);
  }
  error = writers.Finish();
  if (!error.empty()) {
    bar.Clear();
    return Failure(error);
  }
  return kExitOk;
}

}  // namespace

void AddViewCommands(CLI::App& app, int& exit_code) {
  auto opts = std::make_shared<ViewOptions>();
  CLI::App* view = app.add_subcommand(
      "view", "Lay out a built book for the device's screen and draw its pages (never changes BOOK)");
  view->add_option("BOOK", opts->book, "Book file")->required();
  view->add_option("-o", opts->output, "Write the page as a grey PNG image");
  view->add_flag("--pages", opts->pages, "Print the number of pages");
  view->add_flag("--text", opts->text,
                 "Print the page's laid-out lines (without --page every page, with a form feed between pages)");
  view->add_option("--all", opts->all, "Write every page as DIR/page-0001.png, DIR/page-0002.png, ...");
  view->add_option("--page", opts->page, "The page to draw or print (default 1)");
  view->add_option("--width", opts->width, "Screen width in pixels (default: the device settings, else 480)");
  view->add_option("--height", opts->height, "Screen height in pixels (default: the device settings, else 640)");
  view->add_option("--depth", opts->depth, "Bits per pixel: 1, 2, 4 or 8 (default: the device settings, else 4)");
  view->add_flag("--zoom", opts->zoom, "Show the book in its other type size");
  view->add_option("--font-size", opts->font_size,
                   "The body text's size in pixels (default: the device settings' Font Size, else 20)");
  view->add_flag("--contents", opts->contents, "Print the table of contents: each entry's page, level and label");
  view->add_flag("--links", opts->links, "Print every link with its page and where it leads; exit 1 if any is broken");
  view->add_option("--find", opts->find, "Print the page and line of every place the text is found");
  view->add_flag("--json", opts->json, "With --contents or --links: print a JSON array");
  view->callback([opts, view, &exit_code] { exit_code = RunView(*opts, *view); });
}

}  // namespace vellix::cli
