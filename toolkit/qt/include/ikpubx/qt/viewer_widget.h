// ViewerWidget: the Viewer's window. It hosts one Viewer (ikpubx/viewer.h),
// paints its current page scaled to the widget, and passes typed keys to
// it as the device's page window takes them.
//
// The page keeps the device's proportions and sits centred: enlarged by a
// whole factor when one fits, so every device pixel stays a square block,
// and scaled smoothly otherwise. With no book the widget is plain white.
// The widget listens to the Viewer's events and repaints on each; they
// reach Qt code as the signals pageChanged and zoomChanged.
//
// Links on the page are followed with a click; the pointer is a hand over
// them. Tab moves through the page's links (drawn with a focus frame)
// before it leaves the widget, and Enter follows the one in focus. Search
// hits set with SetHighlights are drawn over their page.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <vector>

#include "ikpubx/viewer.h"

namespace ikpubx {

// A page image as 8-bit grey: the image's depth spread over 0 (black)
// to 255 (white). A null image for an empty page.
QImage GreyImageOf(const ikutil::PageImage& page);

class ViewerWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ViewerWidget(QWidget* parent = nullptr);
  ~ViewerWidget() override;

  IViewer& viewer() { return *viewer_; }
  // Opens a book (IViewer::SetBookName) and repaints.
  HRESULT OpenBook(const QString& path);
  // The page image as last painted (null with no book), for its size.
  QImage PageImage();
  // Where the page lands in the widget.
  QRect PageRect(QSize page_size) const;

  // Paints the page again; for calls made on viewer() that fire no event
  // (ChangeDeviceSettings, a book closed with "q").
  void Refresh();

  // Hits to draw over page `page`, each a rectangle per line in the page's
  // pixels; hit `current` stands out. An empty list clears them.
  void SetHighlights(int page, const QVector<QVector<QRect>>& hits, int current);
  // The point of the widget over `page_point` on the page shown.
  QPoint WidgetPointOf(QPoint page_point);
  // The link in keyboard focus, -1 when none.
  int FocusedLink() const { return focused_link_; }

  QSize sizeHint() const override;

 signals:
  void pageChanged(int page);
  void zoomChanged();
  // After each key passed to the Viewer.
  void keyHandled();
  // A link was clicked or entered: `result` is what FollowLink answered
  // (S_OK followed, S_FALSE outside the book or broken); `link` says where
  // it leads.
  void linkActivated(const ikutil::PageLink& link, HRESULT result);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  class Sink;
  // The links of the page shown, fetched once per page.
  const std::vector<ikutil::PageLink>& Links();
  // The link under the widget's `point`, -1 when none.
  int LinkAt(QPoint point);
  void Activate(int index);
  QRect ToWidget(const QRect& page_rect, const QRect& target, QSize page_size) const;

  std::shared_ptr<IViewer> viewer_;
  std::shared_ptr<Sink> sink_;
  uint32_t cookie_ = 0;
  QImage cached_;  // the current page, until the Viewer reports a change
  std::vector<ikutil::PageLink> links_;
  int links_page_ = 0;  // the page links_ belongs to, 0 none
  int focused_link_ = -1;
  int highlight_page_ = 0;
  QVector<QVector<QRect>> highlights_;
  int current_highlight_ = -1;
};

}  // namespace ikpubx
