#include "ikpubx/qt/viewer_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
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
  setMouseTracking(true);
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
  links_page_ = 0;
  focused_link_ = -1;
  update();
}

void ViewerWidget::SetHighlights(int page, const QVector<QVector<QRect>>& hits, int current) {
  highlight_page_ = page;
  highlights_ = hits;
  current_highlight_ = current;
  update();
}

const std::vector<ikutil::PageLink>& ViewerWidget::Links() {
  int32_t page = 0;
  if (!viewer_->HasBook() || Failed(viewer_->CurPage(&page))) {
    links_.clear();
    links_page_ = 0;
    return links_;
  }
  if (links_page_ != page) {
    links_.clear();
    viewer_->GetPageLinks(&links_);
    links_page_ = page;
  }
  return links_;
}

QRect ViewerWidget::ToWidget(const QRect& page_rect, const QRect& target, QSize page_size) const {
  const double sx = static_cast<double>(target.width()) / page_size.width();
  const double sy = static_cast<double>(target.height()) / page_size.height();
  return QRect(
      QPoint(target.x() + static_cast<int>(page_rect.x() * sx), target.y() + static_cast<int>(page_rect.y() * sy)),
      QPoint(target.x() + static_cast<int>((page_rect.x() + page_rect.width()) * sx) - 1,
             target.y() + static_cast<int>((page_rect.y() + page_rect.height()) * sy) - 1));
}

QPoint ViewerWidget::WidgetPointOf(QPoint page_point) {
  const QImage page = PageImage();
  if (page.isNull()) return QPoint();
  const QRect target = PageRect(page.size());
  return QPoint(target.x() + page_point.x() * target.width() / page.width(),
                target.y() + page_point.y() * target.height() / page.height());
}

int ViewerWidget::LinkAt(QPoint point) {
  const QImage page = PageImage();
  if (page.isNull()) return -1;
  const QRect target = PageRect(page.size());
  if (!target.contains(point)) return -1;
  const int x = (point.x() - target.x()) * page.width() / target.width();
  const int y = (point.y() - target.y()) * page.height() / target.height();
  const std::vector<ikutil::PageLink>& links = Links();
  for (size_t i = 0; i < links.size(); ++i)
    for (const ikutil::PageRect& r : links[i].rects)
      if (r.Contains(x, y)) return static_cast<int>(i);
  return -1;
}

void ViewerWidget::Activate(int index) {
  const std::vector<ikutil::PageLink>& links = Links();
  if (index < 0 || static_cast<size_t>(index) >= links.size()) return;
  const ikutil::PageLink link = links[static_cast<size_t>(index)];
  const HRESULT hr = viewer_->FollowLink(index);
  Refresh();
  emit linkActivated(link, hr);
}

// Over a link the pointer is a hand, and the tooltip says where it leads.
void ViewerWidget::mouseMoveEvent(QMouseEvent* event) {
  const int index = LinkAt(event->position().toPoint());
  if (index >= 0) {
    setCursor(Qt::PointingHandCursor);
    const ikutil::PageLink& link = Links()[static_cast<size_t>(index)];
    switch (link.kind) {
      case ikutil::LinkTarget::kPage:
        setToolTip(tr("Page %1").arg(link.target_page));
        break;
      case ikutil::LinkTarget::kOutside:
        setToolTip(tr("Outside the book: %1").arg(QString::fromStdString(link.href)));
        break;
      case ikutil::LinkTarget::kBroken:
        setToolTip(tr("Broken: %1 is not in the book").arg(QString::fromStdString(link.href)));
        break;
    }
  } else {
    unsetCursor();
    setToolTip(QString());
  }
  QWidget::mouseMoveEvent(event);
}

void ViewerWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  const int index = LinkAt(event->position().toPoint());
  if (index >= 0) {
    Activate(index);
    unsetCursor();
  }
  event->accept();
}

// Tab visits the page's links before focus moves on, as on a web page.
bool ViewerWidget::focusNextPrevChild(bool next) {
  const int count = static_cast<int>(Links().size());
  if (hasFocus() && count > 0) {
    const int target = focused_link_ < 0 ? (next ? 0 : count - 1) : focused_link_ + (next ? 1 : -1);
    if (target >= 0 && target < count) {
      focused_link_ = target;
      update();
      return true;
    }
  }
  focused_link_ = -1;
  update();
  return QWidget::focusNextPrevChild(next);
}

void ViewerWidget::focusOutEvent(QFocusEvent* event) {
  if (event->reason() != Qt::TabFocusReason && event->reason() != Qt::BacktabFocusReason) focused_link_ = -1;
  update();
  QWidget::focusOutEvent(event);
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

  int32_t shown = 0;
  viewer_->CurPage(&shown);
  if (highlight_page_ == shown) {
    // Hits are marked like a highlighter pen: the text stays readable.
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < highlights_.size(); ++i) {
      const QColor colour = i == current_highlight_ ? QColor(255, 140, 0, 120) : QColor(255, 225, 0, 100);
      for (const QRect& r : highlights_[i]) painter.fillRect(ToWidget(r, target, page.size()), colour);
    }
  }
  if (focused_link_ >= 0 && hasFocus()) {
    const std::vector<ikutil::PageLink>& links = Links();
    if (static_cast<size_t>(focused_link_) < links.size()) {
      painter.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DotLine));
      painter.setBrush(Qt::NoBrush);
      for (const ikutil::PageRect& r : links[static_cast<size_t>(focused_link_)].rects)
        painter.drawRect(ToWidget(QRect(r.x, r.y, r.width, r.height), target, page.size()).adjusted(-2, -1, 2, 1));
    }
  }
}

// Typed characters go to the engine as they are; backspace is its own code.
void ViewerWidget::keyPressEvent(QKeyEvent* event) {
  if (!viewer_->HasBook()) {
    QWidget::keyPressEvent(event);
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && focused_link_ >= 0) {
    Activate(focused_link_);
    event->accept();
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
