// The preview window: one book page by page as the device shows it, with
// what a publisher needs to proof it before it ships.
//
// - Paging: next and previous page (buttons, the arrow keys, and "n" / "p"
//   as on the device), a page number box that goes to a page, zoom, and a
//   choice of device size.
// - The contents beside the page: clicking or entering an entry shows its
//   page; the entry of the page shown is selected.
// - Links on the page are followed with a click (the pointer is a hand
//   over them) or, after tabbing to one, with Enter; Back (the button or
//   Alt+Left) returns. A link outside the book or a broken one is not
//   followed: the status line says where it leads.
// - The search box (Ctrl+F) marks every hit on the page; Enter moves to the
//   next hit and Shift+Enter to the previous one (also F3 / Shift+F3),
//   through the whole book, coming round at its ends.
// - The info tray is shown from its button or Ctrl+I.
//
// It is modeless; the main window keeps one per book.
#pragma once

#include <QRect>
#include <QVector>
#include <QWidget>
#include <vector>

#include "ikutil/book_viewer.h"

class PagePreview;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

class PreviewWindow : public QWidget {
  Q_OBJECT

 public:
  // `title` names the book in the window's title.
  PreviewWindow(const QString& path, const QString& title, QWidget* parent = nullptr);

  const QString& path() const;
  PagePreview& preview() { return *preview_; }

  // Moves to the next (or, `backward`, the previous) hit of the search
  // box's text, as Enter and Shift+Enter in the box do.
  void FindNext(bool backward);
  // The hits marked on the page shown, and the one moved to (-1 none).
  int HitCount() const { return hits_.size(); }
  int CurrentHit() const { return current_hit_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void NextPage();
  void PrevPage();
  void ToggleZoom();
  void GoBack();
  void ToggleInfoTray();
  void DeviceSizeChosen(int index);
  void PageNumberEntered();
  void ContentsEntryChosen(QTreeWidgetItem* item);
  void LinkActivated(const ikutil::PageLink& link, int32_t result);
  void FindTextChanged();
  void UpdatePage();
  void FillContents();
  void MarkHitsOnPage();
  void ShowHits(int page, const std::vector<std::vector<ikutil::PageRect>>& hits, int current);
  void ChooseHit(int current);

  PagePreview* preview_;
  QSplitter* splitter_;
  QTreeWidget* contents_;
  std::vector<ikutil::ContentsEntry> entries_;
  QLabel* page_label_;
  QPushButton* prev_button_;
  QPushButton* next_button_;
  QPushButton* zoom_button_;
  QComboBox* size_box_;
  QPushButton* back_button_;
  QSpinBox* page_box_;
  QLabel* page_count_label_;
  QLineEdit* find_box_;
  QLabel* find_label_;
  QPushButton* info_button_;
  QLabel* status_label_;
  int back_steps_ = 0;  // links followed and not yet gone back from
  bool info_shown_ = false;
  // The search's state: the hits of `hits_text_` on `hits_page_`.
  QString hits_text_;
  int hits_page_ = 0;
  QVector<QVector<QRect>> hits_;
  int current_hit_ = -1;
  bool moving_to_hit_ = false;
};
