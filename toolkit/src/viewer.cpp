#include "ikpubx/viewer.h"

#include <utility>
#include <vector>

#include "connection_point.h"
#include "ikpubx/module.h"
#include "ikutil/device_settings.h"

namespace ikpubx {
namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

class CViewer : public IViewer {
 public:
  ~CViewer() override {
    // The engine calls back into this object; no callback may outlive it.
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
      if (SameNameIgnoringCase(name, book_name_)) return S_OK;
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
    if (!HasBook()) return S_OK;
    return WithBook([&] {
      engine_->ShowInfoTray();
      return S_OK;
    });
  }

  HRESULT GetPageImage(int32_t pageno, ikutil::PageImage* image) override {
    if (!image) return E_POINTER;
    return WithBook([&] { return engine_->GetPageImage(pageno, image) ? S_OK : E_FAIL; });
  }

  // The engine is told "q" before its window goes, as the device closes a
  // book; the new one opens on the page noted first.
  HRESULT ChangeDeviceSettings(int32_t width, int32_t height, int16_t depth) override {
    return WithBook([&] {
      int32_t page = engine_->CurrentPage();
      engine_->HandleChar('q');
      Retire();
      Open(page, width, height, depth);
      return S_OK;
    });
  }

  HRESULT Advise(std::shared_ptr<IViewerEvents> sink, uint32_t* cookie) override {
    return events_.Advise(std::move(sink), cookie);
  }
  HRESULT Unadvise(uint32_t cookie) override { return events_.Unadvise(cookie); }

  HRESULT HandleChar(uint32_t character) override {
    return WithBook([&] {
      engine_->HandleChar(character);
      return S_OK;
    });
  }

  void SetParentWindow(void* window) override { parent_window_ = window; }
  bool HasBook() const override { return engine_ && engine_->IsOpen(); }
  bool IsZoomed() const override { return HasBook() && engine_->IsZoomed(); }
  std::string LastErrorMessage() const override { return last_error_message_; }
  int32_t LastError() const override { return last_error_; }

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
  // Runs `operation`, turning anything thrown into E_FAIL. Engine viewers
  // retired during the call (a sink may open another book from inside an
  // event) are deleted only once the outermost call is done, since the
  // engine that fired the event is still on the stack.
  template <typename Operation>
  HRESULT Guard(Operation operation) {
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

  template <typename Operation>
  HRESULT WithBook(Operation operation) {
    return Guard([&] { return HasBook() ? operation() : E_FAIL; });
  }

  void Retire() {
    if (!engine_) return;
    engine_->page_callback = nullptr;
    engine_->zoom_callback = nullptr;
    retired_.push_back(std::move(engine_));
  }

  HRESULT Open(int32_t first_page, int32_t width, int32_t height, int16_t depth) {
    auto engine = std::make_unique<ikutil::CBookViewer>(book_name_);
    if (!engine->Create(parent_window_, 0, first_page, width, height, depth)) {
      last_error_ = engine->LastError();
      last_error_message_ = engine->LastErrorMessage();
      return ViewerFailure(last_error_);
    }
    last_error_ = 0;
    last_error_message_.clear();
    engine->page_callback = &CViewer::PageChanged;
    engine->page_context = this;
    engine->zoom_callback = &CViewer::ZoomChanged;
    engine->zoom_context = this;
    engine_ = std::move(engine);
    return S_OK;
  }

  static void PageChanged(int32_t page, void* context) {
    static_cast<CViewer*>(context)->events_.Fire([page](IViewerEvents& sink) { sink.OnNewPage(page); });
  }
  static void ZoomChanged(void* context) {
    static_cast<CViewer*>(context)->events_.Fire([](IViewerEvents& sink) { sink.OnZoomChange(); });
  }

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
