// The book viewer: a built book laid out into pages for a device's screen
// and drawn as the device shows them.
//
// CBookViewer opens a device edition (docs/device-edition.md), lays it out for a
// width, height and zoom state, and draws pages into an in-memory grey
// image. It is driven by calls and by typed characters, as the device's page
// window is: "n" or space shows the next page, "p" or backspace the previous
// one, "q" closes the book. Every change of the shown page calls the page
// callback with the new page; every change of the zoom state calls the zoom
// callback. Both run on the caller's thread, nested inside the call.
//
// Pages count from 1. Opening and layout are lazy: Create reads and lays
// out only as far as the first page shown, and the rest of the book is read
// and laid out when a later page, the page count, the contents or a search
// asks for it; the count is always exact. Damage found in the part of the
// book read late closes the book as a failed Create would: the call returns
// what it returns without a book, and LastError and LastErrorMessage say
// what was wrong. Pages are drawn on demand and not kept.
//
// A viewer is used from one thread at a time. Nothing here throws.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "ikutil/device_settings.h"

namespace ikutil {

struct FlowPosition;  // a place in the book's flow (the edition model, internal)

// Why Create failed (CBookViewer::LastError). The first six and the last
// are the codes of the edition reader (EditionError).
enum ViewerError : int32_t {
  kViewerOk = 0,
  kViewerNotFound = 1,      // missing or unreadable file
  kViewerNotABookFile = 2,  // not the device's book file layout
  kViewerNotOurs = 3,       // a book file without a device edition of ours
  kViewerNewerVersion = 4,  // a device edition newer than this viewer knows
  kViewerCorrupt = 5,       // truncated or inconsistent content
  kViewerOutOfMemory = 6,
  kViewerBadSize = 7,    // width or height outside kMinPageSide..kMaxPageSide
  kViewerBadDepth = 8,   // a depth other than 1, 2, 4 or 8
  kViewerNoFonts = 9,    // the fonts could not be opened
  kViewerNoBook = 10,    // no book is open (before Create, or after "q")
  kViewerTooLarge = 11,  // content past the edition reader's limits
};

inline constexpr int32_t kMinPageSide = 64;
inline constexpr int32_t kMaxPageSide = 8192;

// A page drawn in memory: the device context of a page image. One byte per
// pixel, row by row from the top left, holding the grey level at the
// image's depth: 0 is black and (1 << depth) - 1 is white.
struct PageImage {
  int32_t width = 0;
  int32_t height = 0;
  int16_t depth = 4;  // bits per pixel: 1, 2, 4 or 8
  std::vector<uint8_t> pixels;
};

// Writes `image` as a grey PNG of its width, height and bit depth through
// the formats module's safe writer (a temporary file in the same folder
// renamed over `path`; a device or pipe written through, never replaced).
// Returns false (and fills `error`) when it cannot.
bool SavePageImagePng(const PageImage& image, const std::string& path, std::string* error);

// `image` as the bytes of a grey PNG: packed fast, as SavePageImagePng
// writes it, or small (zlib at level 3), for pages sent over a network.
// False when the image is empty or inconsistent.
enum class PngPacking { kFast, kSmall };
bool EncodePageImagePng(const PageImage& image, PngPacking packing, std::string* png);

// A rectangle on a page, in pixels from its top left.
struct PageRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool Contains(int32_t px, int32_t py) const { return px >= x && px < x + width && py >= y && py < y + height; }
  bool operator==(const PageRect&) const = default;
};

// A laid-out line and where it lies.
struct TextLine {
  std::string text;  // as PageText gives it
  PageRect rect;     // the line's height, and its ink from left to right
  bool heading = false;
  bool image = false;  // an image, its alternative text in brackets
};

// An entry of the book's table of contents.
struct ContentsEntry {
  std::string label;  // UTF-8
  int32_t level = 1;  // 1 (a chapter) .. 6
  int32_t page = 0;   // where it leads at the current size and zoom
};

enum class LinkTarget : int32_t {
  kPage = 0,     // a page of this book
  kOutside = 1,  // an address outside the book, which the device does not follow
  kBroken = 2,   // meant for this book, but what it named is not there
};

// A link on a page: a run of linked words, with a rectangle for each line
// of this page it covers.
struct PageLink {
  LinkTarget kind = LinkTarget::kPage;
  int32_t target_page = 0;  // kPage: the page it leads to at the current size and zoom
  std::string href;         // kOutside: the address; kBroken: the href as written
  std::string text;         // the linked words (UTF-8)
  std::vector<PageRect> rects;
};

// What following a link did.
enum class FollowResult : int32_t {
  kFollowed = 0,    // its page is shown (it may be the page shown before)
  kOutside = 1,     // it leads outside the book: nothing moves
  kBroken = 2,      // it leads nowhere: nothing moves
  kNoSuchLink = 3,  // no link of that index on the page shown
};

// A search's answer: the page of the next hit and every hit on that page,
// each with a rectangle per line it covers. Page 0 when there is none.
struct FindResult {
  int32_t page = 0;
  std::vector<std::vector<PageRect>> hits;
};

using PageCallback = void (*)(int32_t page, void* context);
using ZoomCallback = void (*)(void* context);

class CBookViewer {
 public:
  // `book_name` is the path of the book file.
  explicit CBookViewer(std::string book_name);
  ~CBookViewer();
  CBookViewer(const CBookViewer&) = delete;
  CBookViewer& operator=(const CBookViewer&) = delete;

  // Opens the book and lays it out for a screen of `width` x `height` pixels
  // at `depth` bits per pixel, showing `first_page` (clamped into the book).
  // `parent` is the window that would host the page; it and `reserved` are
  // not used here. True on success; otherwise LastError says why and the
  // viewer holds no book. Does not call the page callback.
  bool Create(void* parent, int32_t reserved, int32_t first_page, int32_t width, int32_t height, int16_t depth);
  // The body text's size in pixels at the normal zoom (clamped to 6..120),
  // for the next Create or ToggleZoom; the device settings' "Font Size"
  // (20 unless set) until then.
  void SetFontSize(int32_t pixels);
  int32_t FontSize() const { return font_size_; }

  // Shows `page`, clamped into 1..PageCount(). Calls the page callback when
  // the shown page changes.
  void GotoPage(int32_t page);
  // Switches between the normal and the large type size when the book allows
  // both, re-laying out the book; the page shown afterwards holds the first
  // word of the page shown before. Calls the zoom callback, then the page
  // callback when the page number changed.
  void ToggleZoom();
  // Shows the page of this layout that holds the first word of the page
  // `other` shows (the same book laid out for another size), as a zoom
  // keeps the reader's place. Nothing moves when either holds no book.
  // Calls the page callback when the shown page changes.
  void GotoPlaceOf(CBookViewer& other);
  // A character typed into the page window: "n" or space next page, "p" or
  // backspace (8) previous page, "q" closes the book. Others are ignored.
  void HandleChar(uint32_t character);
  // Shows or hides the info tray (the book's title and "page n of m") on the
  // pages drawn from now on. Hidden after Create.
  void ShowInfoTray();

  // Draws `page` (clamped into the book) into `image` at the viewer's width,
  // height and depth. False when no book is open.
  bool GetPageImage(int32_t page, PageImage* image);

  // The laid-out lines of `page` (clamped) as UTF-8 text, one entry a line;
  // a line that ends in a hyphenated word ends in "-". Image lines hold the
  // image's alternative text in brackets.
  std::vector<std::string> PageText(int32_t page);

  // The laid-out lines of `page` (clamped) with their places on the page.
  std::vector<TextLine> PageLines(int32_t page);

  // The table of contents, each entry with its page at the current size
  // and zoom (laying the book out as far as the last entry).
  std::vector<ContentsEntry> Contents();

  // The links on `page` (clamped), in reading order.
  std::vector<PageLink> PageLinks(int32_t page);
  // The index into PageLinks(CurrentPage()) of the link at the pixel x, y
  // of the page shown; -1 when there is none.
  int32_t LinkAt(int32_t x, int32_t y);
  // Follows link `index` of PageLinks(CurrentPage()): a link into the book
  // shows its page (through the page callback) and remembers the page it
  // left. Links outside the book and broken ones are not followed.
  FollowResult FollowLink(int32_t index);
  // Returns to the page the last followed link left; false when no link
  // was followed since the book opened (or every one was gone back from).
  // The history lives with the book: a zoom keeps it, Create clears it.
  bool GoBack();
  bool CanGoBack() const { return !history_.empty(); }

  // The first page at or after `from_page` holding `text` (ignoring letter
  // case, matching any white space to any other, line breaks and
  // hyphenated words included), with its hits. FindBackward gives the last
  // page at or before `from_page` instead. Neither moves the page shown.
  FindResult Find(const std::string& text, int32_t from_page);
  FindResult FindBackward(const std::string& text, int32_t from_page);
  // The hits that start on `page` alone (page 0 and none when it has none),
  // for highlighting the page shown; it looks no further.
  FindResult FindOnPage(const std::string& text, int32_t page);

  int32_t PageCount();  // 0 when no book is open
  // Whether `page` is a page of the book, reading and laying out no further
  // than it (PageCount reads and lays out the whole book).
  bool HasPage(int32_t page);
  int32_t CurrentPage() const { return current_page_; }
  int32_t LastError() const { return last_error_; }
  const std::string& LastErrorMessage() const { return last_error_message_; }
  bool IsOpen() const;
  bool IsZoomed() const;  // showing the large type size
  bool InfoTrayShown() const { return info_tray_; }
  const std::string& BookName() const { return book_name_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int16_t Depth() const { return depth_; }

  // Callback slots.
  PageCallback page_callback = nullptr;
  void* page_context = nullptr;
  ZoomCallback zoom_callback = nullptr;
  void* zoom_context = nullptr;

 private:
  struct Book;
  void Fail(int32_t code, std::string message);
  // What a call that caught `e` does besides giving up: damage found in
  // the book closes it (Fail); anything else leaves the book as it was.
  void Failed(const std::exception& e);
  void ShowPage(int32_t page);

  std::string book_name_;
  std::unique_ptr<Book> book_;
  int32_t current_page_ = 0;
  int32_t last_error_ = kViewerNoBook;
  std::string last_error_message_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int16_t depth_ = 4;
  int32_t font_size_ = kDefaultFontSize;
  bool info_tray_ = false;
  std::vector<FlowPosition> history_;  // where followed links left, the last last
};

}  // namespace ikutil
