// vellix view: a built book laid out and drawn as the device shows it, page
// by page, into PNG files or as text.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "build_display.h"
#include "commands.h"
#include "ikutil/book_viewer.h"
#include "ikutil/device_settings.h"
#include "output.h"

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

int RunView(const ViewOptions& opts, const CLI::App& cmd) {
  const int modes =
      (cmd.count("-o") ? 1 : 0) + (opts.pages ? 1 : 0) + (opts.text ? 1 : 0) + (cmd.count("--all") ? 1 : 0);
  if (modes != 1) return Usage("view needs exactly one of -o PAGE.png, --pages, --text and --all DIR");
  if (cmd.count("--page") && (opts.pages || cmd.count("--all")))
    return Usage("--page goes with -o or --text, not with --pages or --all");
  if (cmd.count("--depth") && (opts.pages || opts.text)) return Usage("--depth goes with -o or --all");
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

  ikutil::CBookViewer viewer(CleanPath(opts.book));
  viewer.SetFontSize(screen.font_size);
  const int32_t first = static_cast<int32_t>(std::min<int64_t>(opts.page, INT32_MAX));
  // Zoomed page numbers are those of the other layout: open at the start,
  // zoom, then look the page up.
  if (!viewer.Create(nullptr, 0, opts.zoom ? 1 : first, screen.width, screen.height, screen.depth))
    return Failure(viewer.LastErrorMessage());
  if (opts.zoom) viewer.ToggleZoom();
  if (viewer.CurrentPage() != first && (cmd.count("-o") || opts.text)) {
    // Page numbers move with the zoom; the page asked for is looked up in
    // the layout shown.
    viewer.GotoPage(first);
    if (viewer.CurrentPage() != first)
      return Failure(opts.book + " has " + std::to_string(viewer.PageCount()) +
                     " pages at this size; there is no page " + std::to_string(opts.page));
  }

  if (opts.pages) {
    std::cout << viewer.PageCount() << "\n";
    return kExitOk;
  }
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
    viewer.GetPageImage(viewer.CurrentPage(), &image);
    if (!ikutil::SavePageImagePng(image, opts.output, &error)) return Failure(error);
    return kExitOk;
  }

  const fs::path folder = CleanPath(opts.all);
  std::error_code ec;
  fs::create_directory(folder, ec);
  if (!fs::is_directory(folder, ec)) return Failure(folder.string() + ": not a folder and cannot be made one");
  ProgressBar bar("Drawing");
  const int32_t count = viewer.PageCount();
  for (int32_t page = 1; page <= count; ++page) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%04d.png", page);
    viewer.GetPageImage(page, &image);
    if (!ikutil::SavePageImagePng(image, (folder / name).string(), &error)) {
      bar.Clear();
      return Failure(error);
    }
    bar.SourceStart("", page, count);
    bar.Progress(page, count);
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
  view->callback([opts, view, &exit_code] { exit_code = RunView(*opts, *view); });
}

}  // namespace vellix::cli
