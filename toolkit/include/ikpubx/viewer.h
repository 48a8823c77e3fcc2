// The Viewer: shows a device book page by page as the device would, so that
// a publisher can preview a built book.
//
// The pages, paging, zoom and typed keys are the engine's page viewer
// (ikutil/book_viewer.h); the Viewer owns one, opens it with the device
// size and depth from the user's device settings (ikutil/device_settings.h,
// read each time a book opens, never written), forwards the calls and turns
// the engine's page and zoom callbacks into events on every connected sink,
// in connection order, nested inside the call that caused them.
//
// Every operation that needs an open book answers E_FAIL without one; that
// includes GetPageImage and ChangeDeviceSettings. ShowInfoTray alone answers
// S_OK with no book. A book the engine cannot open answers the engine's
// error code (ikutil::ViewerError) with the top bit set. Nothing throws.
//
// Each Viewer serializes its own members: calls from several threads take
// turns, and a sink may call the Viewer again from inside an event.
//
// The Viewer draws nothing itself: a window that hosts it (the toolkit's
// optional Qt part) asks for page images and passes typed keys on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ikpubx/com.h"
#include "ikpubx/events.h"
#include "ikutil/book_viewer.h"

namespace ikpubx {

// The failure result for an engine error code: the code with its top bit set.
inline constexpr HRESULT ViewerFailure(int32_t engine_error) {
  return static_cast<HRESULT>(static_cast<uint32_t>(engine_error) | 0x80000000u);
}

class IViewer : public ComObject {
 public:
  // The path of the book shown. Putting a name equal to the current one,
  // ignoring letter case, does nothing. Any other name is stored, even when
  // the book then fails to open, and the previous book is closed.
  virtual HRESULT BookName(std::string* out) = 0;
  virtual HRESULT SetBookName(const std::string& name) = 0;
  virtual HRESULT NumPages(int32_t* out) = 0;
  virtual HRESULT ToggleZoom() = 0;
  // Exactly as typing "n" and "p" into the page window.
  virtual HRESULT NextPage() = 0;
  virtual HRESULT PrevPage() = 0;
  virtual HRESULT CurPage(int32_t* out) = 0;
  virtual HRESULT SetCurPage(int32_t page) = 0;
  virtual HRESULT ShowInfoTray() = 0;
  // Draws `pageno` into the caller's image at the device's size and depth;
  // E_INVALIDARG for a page outside 1..NumPages.
  virtual HRESULT GetPageImage(int32_t pageno, ikutil::PageImage* image) = 0;
  // Opens the book again for another device, on the page that holds the
  // first word of the page shown before.
  // E_INVALIDARG for a side outside kMinPageSide..kMaxPageSide or a depth
  // other than 1, 2, 4 or 8, and a failure result when the book no longer
  // opens; either way the book stays open as it was.
  virtual HRESULT ChangeDeviceSettings(int32_t width, int32_t height, int16_t depth) = 0;

  // The _IViewerEvents connection point: a cookie from 1; Unadvise of a
  // cookie not connected gives CONNECT_E_NOCONNECTION; a null sink E_POINTER.
  virtual HRESULT Advise(std::shared_ptr<IViewerEvents> sink, uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(uint32_t cookie) = 0;

  // The hosting window's side.
  // A character typed into the page window, as the engine takes it
  // ("n", space, "p", backspace, "q"); E_FAIL with no book.
  virtual HRESULT HandleChar(uint32_t character) = 0;
  // The window that hosts the pages, handed to the engine when a book opens.
  virtual void SetParentWindow(void* window) = 0;
  virtual bool HasBook() const = 0;
  virtual bool IsZoomed() const = 0;
  // Why the last open failed, for the user ("" after a good one).
  virtual std::string LastErrorMessage() const = 0;
  virtual int32_t LastError() const = 0;

  // Proofing: what a publisher checks before a book ships. Each answers
  // E_FAIL with no book and E_POINTER for a null out-parameter; none moves
  // the page unless it says so. Pages count at the current size and zoom.
  // The laid-out lines of `page` (clamped into the book), each with its
  // rectangle on the page.
  virtual HRESULT GetPageText(int32_t page, std::vector<ikutil::TextLine>* lines) = 0;
  // The table of contents: label, level and page of each entry.
  virtual HRESULT GetContents(std::vector<ikutil::ContentsEntry>* entries) = 0;
  // The links on the page shown, in reading order.
  virtual HRESULT GetPageLinks(std::vector<ikutil::PageLink>* links) = 0;
  // Follows link `index` of GetPageLinks: S_OK when its page is shown
  // (OnNewPage fires when the page changes); S_FALSE when it leads outside
  // the book or nowhere, and nothing moves; E_INVALIDARG for an index that
  // is not a link of the page shown.
  virtual HRESULT FollowLink(int32_t index) = 0;
  // Back to the page the last followed link left: S_OK, or S_FALSE when
  // there is nothing to go back to. The history is the open book's:
  // opening a book or changing the device settings forgets it.
  virtual HRESULT GoBack() = 0;
  // The next page at or after `from_page` (`direction` > 0), the last one
  // at or before it (< 0), or `from_page` alone (0), holding `text`, with
  // the rectangles of every hit on it; page 0 when there is none. Letter
  // case and the kind of white space do not count; words hyphenated across
  // lines are found.
  virtual HRESULT Find(const std::string& text, int32_t from_page, int32_t direction, ikutil::FindResult* result) = 0;
};

// Creates a Viewer, as the class registry does for "IKPublisher.Viewer".
std::shared_ptr<IViewer> NewViewer();

}  // namespace ikpubx
