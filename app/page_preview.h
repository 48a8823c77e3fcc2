// PagePreview: one book's page as the device shows it, or, when the book
// cannot be shown (a book of another tool, a damaged file, a book folder),
// a message saying why in the page's place. With its paging bar shown
// (the bookshelf's pane) it pages through the book with previous and next
// under the page.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedLayout;
class QWidget;

namespace ikpubx {
class ViewerWidget;
}

class PagePreview : public QWidget {
  Q_OBJECT

 public:
  explicit PagePreview(QWidget* parent = nullptr);

  // Shows the first page of the book at `path`; "" shows an empty page.
  // True when the book opened.
  bool ShowBook(const QString& path);
  const QString& path() const { return path_; }

  ikpubx::ViewerWidget& viewer_widget() { return *viewer_; }
  // Shows previous / next and the page number under the page.
  void ShowPagingBar();
  bool ShowsMessage() const;
  QString Message() const;

 private:
  QString path_;
  ikpubx::ViewerWidget* viewer_;
  QLabel* message_;
  QStackedLayout* stack_;
  QWidget* paging_bar_ = nullptr;
  QPushButton* prev_button_ = nullptr;
  QPushButton* next_button_ = nullptr;
  QLabel* page_label_ = nullptr;
  void UpdatePagingBar();
};
