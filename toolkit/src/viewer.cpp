#include "ikpubx/viewer.h"

#include <mutex>
#include <utility>
#include <vector>

#include "connection_point.h"
#include "ikpubx/module.h"
#include "ikutil/device_settings.h"
#include "vellix/formats/ascii.h"

namespace ikpubx {
namespace {

class CViewer : public IViewer {
 public:
  ~CViewer() override {
    // The engine calls back into this object; no callback may outlive it.
    std::lock_guard lock(mutex_);
    if (engine_) engine_->page_callback = nullptr, engine_->zoom_callback = nullptr;
  }

  HRESULT BookName(std::string* out) override {
    if (!out) return E_POINTER;
    return Guard([&] {
      *out = book_name_;
      return S_OK;
    });
  }

  HRESULT SetBookName(const std::string& name) override {
    return Guard([&] {
      if (vellix::formats::EqualsIgnoringAsciiCase(name, book_name_)) return S_OK;
      book_name_ = name;
      Retire();
      ikutil::DeviceSettings device = ikutil::ReadDeviceSettings();
      return Open(1, device.width, device.height, device.depth);
    });
  }

  HRESULT NumPages(int32_t* out) override {
    if (!out) return E_POINTER;
    return WithBook([&] {
      *out = engine_->PageCount();
      return S_OK;
    });
  }

  HRESULT ToggleZoom() override {
    return WithBook([&] {
      engine_->ToggleZoom();
      return S_OK;
    });
  }

  HRESULT NextPage() override { return HandleChar('n'); }
  HRESULT PrevPage() override { return HandleChar('p'); }

  HRESULT CurPage(int32_t* out) override {
    if (!out) return E_POINTER;
    return WithBook([&] {
      *out = engine_->CurrentPage();
      return S_OK;
    });
  }

  HRESULT SetCurPage(int32_t page) override {
    return WithBook([&] {
      engine_->GotoPage(page);
      return S_OK;
    });
  }

  HRESULT ShowInfoTray() override {
    std::lock_guard lock(mutex_);
    if (!HasBook()) return S_OK;
    return WithBook([&] {
      engine_->ShowInfoTray();
      return S_OK;
    });
  }

  // Pages are 1 to NumPages, as the tool's --page: no page is drawn for a
  // number outside them.
  HRESULT GetPageImage(int32_t pageno, ikutil::PageImage* image) override {
    if (!image) return E_POINTER;
    return WithBook([&] {
      if (!engine_->HasPage(pageno)) return engine_->IsOpen() ? E_INVALIDARG : E_FAIL;
      return engine_->GetPageImage(pageno, image) ? S_OK : E_FAIL;
    });
  }

  // A size or depth no device has is refused and the book stays as it was.
  // Otherwise the book opens for the new device on the page that holds the
  // first word of the page shown (the page number when that cannot be found),
  // and only then is the old engine told "q", as the device closes a book,
  // and let go; a book that no longer opens leaves the old one shown.
  HRESULT ChangeDeviceSettings(int32_t width, int32_t height, int16_t depth) override {
    return WithBook([&] {
      auto side = [](int32_t v) { return v >= ikutil::kMinPageSide && v <= ikutil::kMaxPageSide; };
      if (!side(width) || !side(height) || (depth != 1 && depth != 2 && depth != 4 && depth != 8)) return E_INVALIDARG;
      const int32_t page = engine_->CurrentPage();
      std::unique_ptr<ikutil::CBookViewer> engine = Create(page, width, height, depth);
      if (!engine) return ViewerFailure(last_error_);
      // The page number alone would land elsewhere in the text.
      engine->GotoPlaceOf(*engine_);
      if (!engine->IsOpen()) return ViewerFailure(engine->LastError());
      engine_->HandleChar('q');
      Retire();
      Install(std::move(engine));
      return S_OK;
    });
  }

  HRESULT Advise(std::shared_ptr<IViewerEvents> sink, uint32_t* cookie) override {
    std::lock_guard lock(mutex_);
    return events_.Advise(std::move(sink), cookie);
  }
  HRESULT Unadvise(uint32_t cookie) override {
    std::lock_guard lock(mutex_);
    return events_.Unadvise(cookie);
  }

  HRESULT HandleChar(uint32_t character) override {
    return WithBook([&] {
      engine_->HandleChar(character);
      return S_OK;
    });
  }

  void SetParentWindow(void* window) override {
    std::lock_guard lock(mutex_);
    parent_window_ = window;
  }
  bool HasBook() const override {
    std::lock_guard lock(mutex_);
    return engine_ && engine_->IsOpen();
  }
  bool IsZoomed() const override {
    std::lock_guard lock(mutex_);
    return HasBook() && engine_->IsZoomed();
  }
  std::string LastErrorMessage() const override {
    std::lock_guard lock(mutex_);
    return last_error_message_;
  }
  int32_t LastError() const override {
    std::lock_guard lock(mutex_);
    return last_error_;
  }

  HRESULT GetPageText(int32_t page, std::vector<ikutil::TextLine>* lines) override {
    if (!lines) return E_POINTER;
    return WithBook([&] {
      *lines = engine_->PageLines(page);
      return S_OK;
    });
  }

  HRESULT GetContents(std::vector<ikutil::ContentsEntry>* entries) override {
    if (!entries) return E_POINTER;
    return WithBook([&] {
      *entries = engine_->Contents();
      return S_OK;
    });
  }

  HRESULT GetPageLinks(std::vector<ikutil::PageLink>* links) override {
    if (!links) return E_POINTER;
    return WithBook([&] {
      *links = engine_->PageLinks(engine_->CurrentPage());
      return S_OK;
    });
  }

  HRESULT FollowLink(int32_t index) override {
    return WithBook([&] {
      switch (engine_->FollowLink(index)) {
        case ikutil::FollowResult::kFollowed:
          return S_OK;
        case ikutil::FollowResult::kNoSuchLink:
          return E_INVALIDARG;
        default:
          return S_FALSE;
      }
    });
  }

  HRESULT GoBack() override {
    return WithBook([&] { return engine_->GoBack() ? S_OK : S_FALSE; });
  }

  HRESULT Find(const std::string& text, int32_t from_page, int32_t direction, ikutil::FindResult* result) override {
    if (!result) return E_POINTER;
    return WithBook([&] {
      *result = direction > 0   ? engine_->Find(text, from_page)
                : direction < 0 ? engine_->FindBackward(text, from_page)
                                : engine_->FindOnPage(text, from_page);
      return S_OK;
    });
  }

 private:
  // Runs `operation` holding the Viewer's lock, turning anything thrown
  // into E_FAIL: calls from other threads wait, so no thread frees a
  // layout another is drawing. The lock is recursive because sinks may
  // call back from inside an event. Engine viewers retired during the call
  // (a sink may open another book from inside an event) are deleted only
  // once the outermost call is done, since the engine that fired the event
  // is still on the stack.
  template <typename Operation>
  HRESULT Guard(Operation operation) {
    std::lock_guard lock(mutex_);
    ++depth_;
    HRESULT hr;
    try {
      hr = operation();
    } catch (...) {
      hr = E_FAIL;
    }
    if (--depth_ == 0) retired_.clear();
    return hr;
  }

  // A book is read as far as it is shown: damage found in a later part
  // closes the engine's book, and its error becomes the Viewer's.
  template <typename Operation>
  HRESULT WithBook(Operation operation) {
    return Guard([&] {
      if (!HasBook()) return E_FAIL;
      HRESULT hr = operation();
      if (engine_ && !engine_->IsOpen() && engine_->LastError() != ikutil::kViewerNoBook) {
        last_error_ = engine_->LastError();
        last_error_message_ = engine_->LastErrorMessage();
        return ViewerFailure(last_error_);
      }
      return hr;
    });
  }

  void Retire() {
    if (!engine_) return;
    engine_->page_callback = nullptr;
    engine_->zoom_callback = nullptr;
    retired_.push_back(std::move(engine_));
  }

  HRESULT Open(int32_t first_page, int32_t width, int32_t height, int16_t depth) {
    std::unique_ptr<ikutil::CBookViewer> engine = Create(first_page, width, height, depth);
    if (!engine) return ViewerFailure(last_error_);
    Install(std::move(engine));
    return S_OK;
  }

  // The book opened by a new engine viewer; null (and the error noted)
  // when it does not open.
  std::unique_ptr<ikutil::CBookViewer> Create(int32_t first_page, int32_t width, int32_t height, int16_t depth) {
    auto engine = std::make_unique<ikutil::CBookViewer>(book_name_);
    if (!engine->Create(parent_window_, 0, first_page, width, height, depth)) {
      last_error_ = engine->LastError();
      last_error_message_ = engine->LastErrorMessage();
      return nullptr;
    }
    last_error_ = 0;
    last_error_message_.clear();
    return engine;
  }

  void Install(std::unique_ptr<ikutil::CBookViewer> engine) {
    engine->page_callback = &CViewer::PageChanged;
    engine->page_context = this;
    engine->zoom_callback = &CViewer::ZoomChanged;
    engine->zoom_context = this;
    engine_ = std::move(engine);
  }

  static void PageChanged(int32_t page, void* context) {
    static_cast<CViewer*>(context)->events_.Fire([page](IViewerEvents& sink) { sink.OnNewPage(page); });
  }
  static void ZoomChanged(void* context) {
    static_cast<CViewer*>(context)->events_.Fire([](IViewerEvents& sink) { sink.OnZoomChange(); });
  }

  mutable std::recursive_mutex mutex_;  // every member below
  std::string book_name_;
  std::unique_ptr<ikutil::CBookViewer> engine_;  // null while no book is open
  std::vector<std::unique_ptr<ikutil::CBookViewer>> retired_;
  int depth_ = 0;
  void* parent_window_ = nullptr;
  int32_t last_error_ = 0;
  std::string last_error_message_;
  ConnectionPoint<IViewerEvents> events_;
};

const bool registered = [] {
  RegisterClass({kViewerClassId, "Viewer Class", kViewerProgId, kViewerIndependentProgId,
                 [] { return std::shared_ptr<ComObject>(NewViewer()); }});
  return true;
}();

}  // namespace

std::shared_ptr<IViewer> NewViewer() { return std::make_shared<CViewer>(); }

}  // namespace ikpubx
