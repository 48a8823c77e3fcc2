#include "ikpubx/qt/viewer_widget.h"

#include <QKeyEvent>
#include <QPainter>

namespace ikpubx {

QImage GreyImageOf(const ikutil::PageImage& page) {
  if (page.width <= 0 || page.height <= 0 || page.depth < 1 || page.depth > 8 ||
      page.pixels.size() < static_cast<size_t>(page.width) * static_cast<size_t>(page.height))
    return QImage();
  QImage image(page.width, page.height, QImage::Format_Grayscale8);
  const int top = (1 << page.depth) - 1;
  for (int y = 0; y < page.height; ++y) {
    uchar* line = image.scanLine(y);
    const uint8_t* source = page.pixels.data() + static_cast<size_t>(y) * page.width;
    for (int x = 0; x < page.width; ++x) line[x] = static_cast<uchar>(std::min<int>(source[x], top) * 255 / top);
  }
  return image;
}

// Forwards the Viewer's events to the widget while it lives.
class ViewerWidget::Sink : public IViewerEvents {
 public:
  explicit Sink(ViewerWidget* widget) : widget_(widget) {}
  void Detach() { widget_ = nullptr; }
  void OnNewPage(int32_t page) override {
    if (!widget_) return;
    widget_->Refresh();
    emit widget_->pageChanged(page);
  }
  void OnZoomChange() override {
    if (!widget_) return;
    widget_->Refresh();
    emit widget_->zoomChanged();
  }

 private:
  ViewerWidget* widget_;
};

ViewerWidget::ViewerWidget(QWidget* parent)
    : QWidget(parent), viewer_(NewViewer()), sink_(std::make_shared<Sink>(this)) {
  viewer_->SetParentWindow(this);
  viewer_->Advise(sink_, &cookie_);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

ViewerWidget::~ViewerWidget() {
  sink_->Detach();
  viewer_->Unadvise(cookie_);
}

HRESULT ViewerWidget::OpenBook(const QString& path) {
  HRESULT hr = viewer_->SetBookName(path.toStdString());
  Refresh();
  return hr;
}

void ViewerWidget::Refresh() {
  cached_ = QImage();
  update();
}

QImage ViewerWidget::PageImage() {
  if (!cached_.isNull() || !viewer_->HasBook()) return cached_;
  int32_t page = 0;
  ikutil::PageImage image;
  if (Succeeded(viewer_->CurPage(&page)) && Succeeded(viewer_->GetPageImage(page, &image)))
    cached_ = GreyImageOf(image);
  return cached_;
}

QRect ViewerWidget::PageRect(QSize page_size) const {
  if (page_size.isEmpty() || width() <= 0 || height() <= 0) return QRect();
  QSize shown;
  const int factor = std::min(width() / page_size.width(), height() / page_size.height());
  if (factor >= 1)
    shown = page_size * factor;
  else
    shown = page_size.scaled(size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
}

QSize ViewerWidget::sizeHint() const { return QSize(480, 640); }

void ViewerWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  QImage page = PageImage();
  if (page.isNull()) return;
  QRect target = PageRect(page.size());
  const bool whole = target.width() % page.width() == 0 && target.width() >= page.width();
  // A whole factor keeps pixels sharp; anything else is smoothed.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, !whole);
  painter.drawImage(target, page);
  painter.setPen(QColor(200, 200, 200));
  painter.drawRect(target.adjusted(-1, -1, 0, 0));
}

// Typed characters go to the engine as they are; backspace is its own code.
void ViewerWidget::keyPressEvent(QKeyEvent* event) {
  if (!viewer_->HasBook()) {
    QWidget::keyPressEvent(event);
    return;
  }
  if (event->key() == Qt::Key_Backspace) {
    viewer_->HandleChar(8);
  } else if (event->text().size() == 1 && event->text()[0].unicode() >= 0x20) {
    viewer_->HandleChar(event->text()[0].unicode());
  } else {
    QWidget::keyPressEvent(event);
    return;
  }
  Refresh();  // "q" closes the book without an event
  event->accept();
  emit keyHandled();
}

}  // namespace ikpubx
