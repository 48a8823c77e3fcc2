// The preview window: one book page by page as the device shows it, with
// the page number, next and previous page (buttons, the arrow keys, and
// "n" / "p" as on the device), zoom, and a choice of device size. It is
// modeless; the main window keeps one per book.
#pragma once

#include <QWidget>

class PagePreview;
class QComboBox;
class QLabel;
class QPushButton;

class PreviewWindow : public QWidget {
  Q_OBJECT

 public:
  // `title` names the book in the window's title.
  PreviewWindow(const QString& path, const QString& title, QWidget* parent = nullptr);

  const QString& path() const;
  PagePreview& preview() { return *preview_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void NextPage();
  void PrevPage();
  void ToggleZoom();
  void DeviceSizeChosen(int index);
  void UpdatePage();

  PagePreview* preview_;
  QLabel* page_label_;
  QPushButton* prev_button_;
  QPushButton* next_button_;
  QPushButton* zoom_button_;
  QComboBox* size_box_;
};
