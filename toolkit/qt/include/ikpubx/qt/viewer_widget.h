// ViewerWidget: the Viewer's window. It hosts one Viewer (ikpubx/viewer.h),
// paints its current page scaled to the widget, and passes typed keys to
// it as the device's page window takes them.
//
// The page keeps the device's proportions and sits centred: enlarged by a
// whole factor when one fits, so every device pixel stays a square block,
// and scaled smoothly otherwise. With no book the widget is plain white.
// The widget listens to the Viewer's events and repaints on each; they
// reach Qt code as the signals pageChanged and zoomChanged.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

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

  QSize sizeHint() const override;

 signals:
  void pageChanged(int page);
  void zoomChanged();
  // After each key passed to the Viewer.
  void keyHandled();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Sink;

  std::shared_ptr<IViewer> viewer_;
  std::shared_ptr<Sink> sink_;
  uint32_t cookie_ = 0;
  QImage cached_;  // the current page, until the Viewer reports a change
};

}  // namespace ikpubx
