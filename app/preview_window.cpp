#include "preview_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "book_preview.h"
#include "ikpubx/qt/viewer_widget.h"
#include "page_preview.h"
#include "window_fit.h"

namespace {

constexpr int kPageRole = Qt::UserRole;

}  // namespace

PreviewWindow::PreviewWindow(const QString& path, const QString& title, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("frmPreview"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("%1 - Preview").arg(title));

  preview_ = new PagePreview(this);
  preview_->setObjectName(QStringLiteral("pagePreview"));
  page_label_ = new QLabel(this);
  page_label_->setObjectName(QStringLiteral("lblPage"));
  page_label_->setMinimumWidth(page_label_->fontMetrics().horizontalAdvance(QStringLiteral("Page 8888 of 8888")));
  prev_button_ = new QPushButton(tr("< &Previous"), this);
  prev_button_->setObjectName(QStringLiteral("cmdPrevPage"));
  next_button_ = new QPushButton(tr("&Next >"), this);
  next_button_->setObjectName(QStringLiteral("cmdNextPage"));
  zoom_button_ = new QPushButton(tr("&Zoom"), this);
  zoom_button_->setObjectName(QStringLiteral("cmdZoom"));
  zoom_button_->setCheckable(true);
  size_box_ = new QComboBox(this);
  size_box_->setObjectName(QStringLiteral("cboDeviceSize"));
  for (const DeviceSize& size : DeviceSizes()) size_box_->addItem(size.name);
  // The paging buttons leave the keyboard with the page, whose keys are the
  // device's; their mnemonics reach them.
  for (QWidget* control :
       {static_cast<QWidget*>(prev_button_), static_cast<QWidget*>(next_button_), static_cast<QWidget*>(zoom_button_)})
    control->setFocusPolicy(Qt::NoFocus);

  // The proofing bar above the page.
  back_button_ = new QPushButton(tr("&Back"), this);
  back_button_->setObjectName(QStringLiteral("cmdBack"));
  back_button_->setToolTip(tr("Back to the page the last link left (Alt+Left)"));
  auto* page_box_label = new QLabel(tr("P&age:"), this);
  page_box_label->setObjectName(QStringLiteral("lblPageBox"));
  page_box_ = new QSpinBox(this);
  page_box_->setObjectName(QStringLiteral("spnPage"));
  page_box_->setKeyboardTracking(false);
  page_box_->setAccessibleName(tr("Page number"));
  page_box_label->setBuddy(page_box_);
  page_count_label_ = new QLabel(this);
  page_count_label_->setObjectName(QStringLiteral("lblPageCount"));
  auto* find_label = new QLabel(tr("&Find:"), this);
  find_label->setObjectName(QStringLiteral("lblFindBox"));
  find_box_ = new QLineEdit(this);
  find_box_->setObjectName(QStringLiteral("txtFind"));
  find_box_->setPlaceholderText(tr("Text in the book"));
  find_box_->setToolTip(tr("Enter: next hit; Shift+Enter: previous hit"));
  find_label->setBuddy(find_box_);
  find_label_ = new QLabel(this);
  find_label_->setObjectName(QStringLiteral("lblFind"));
  find_label_->setMinimumWidth(find_label_->fontMetrics().horizontalAdvance(tr("888 of 888 on this page")));
  info_button_ = new QPushButton(tr("&Info tray"), this);
  info_button_->setObjectName(QStringLiteral("cmdInfoTray"));
  info_button_->setCheckable(true);
  info_button_->setToolTip(tr("Show the book's title and page at the foot of the page (Ctrl+I)"));
  status_label_ = new QLabel(this);
  status_label_->setObjectName(QStringLiteral("lblStatus"));
  status_label_->setTextFormat(Qt::PlainText);
  status_label_->setWordWrap(true);
  status_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  contents_ = new QTreeWidget(this);
  contents_->setObjectName(QStringLiteral("treContents"));
  contents_->setColumnCount(2);
  contents_->setHeaderLabels({tr("Contents"), tr("Page")});
  contents_->header()->setStretchLastSection(false);
  contents_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  contents_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  contents_->setAccessibleName(tr("Contents"));
  contents_->setMinimumWidth(140);

  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("splPreview"));
  splitter_->addWidget(contents_);
  splitter_->addWidget(preview_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setChildrenCollapsible(false);

  auto* proofing = new QHBoxLayout;
  proofing->addWidget(back_button_);
  proofing->addWidget(page_box_label);
  proofing->addWidget(page_box_);
  proofing->addWidget(page_count_label_);
  proofing->addSpacing(12);
  proofing->addWidget(find_label);
  proofing->addWidget(find_box_, 1);
  proofing->addWidget(find_label_);
  proofing->addWidget(info_button_);
  auto* controls = new QHBoxLayout;
  controls->addWidget(prev_button_);
  controls->addWidget(next_button_);
  controls->addWidget(page_label_);
  controls->addStretch();
  controls->addWidget(zoom_button_);
  auto* device_label = new QLabel(tr("&Device:"), this);
  device_label->setObjectName(QStringLiteral("lblDevice"));
  device_label->setBuddy(size_box_);
  controls->addWidget(device_label);
  controls->addWidget(size_box_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(proofing);
  layout->addWidget(splitter_, 1);
  layout->addWidget(status_label_);
  layout->addLayout(controls);

  ikpubx::ViewerWidget& view = preview_->viewer_widget();
  connect(&view, &ikpubx::ViewerWidget::pageChanged, this, &PreviewWindow::UpdatePage);
  connect(&view, &ikpubx::ViewerWidget::zoomChanged, this, &PreviewWindow::FillContents);
  connect(&view, &ikpubx::ViewerWidget::zoomChanged, this, &PreviewWindow::UpdatePage);
  connect(&view, &ikpubx::ViewerWidget::keyHandled, this, &PreviewWindow::UpdatePage);
  connect(&view, &ikpubx::ViewerWidget::linkActivated, this, &PreviewWindow::LinkActivated);
  connect(prev_button_, &QPushButton::clicked, this, &PreviewWindow::PrevPage);
  connect(next_button_, &QPushButton::clicked, this, &PreviewWindow::NextPage);
  connect(zoom_button_, &QPushButton::clicked, this, &PreviewWindow::ToggleZoom);
  connect(back_button_, &QPushButton::clicked, this, &PreviewWindow::GoBack);
  connect(info_button_, &QPushButton::clicked, this, &PreviewWindow::ToggleInfoTray);
  connect(page_box_, &QSpinBox::editingFinished, this, &PreviewWindow::PageNumberEntered);
  connect(contents_, &QTreeWidget::itemClicked, this, &PreviewWindow::ContentsEntryChosen);
  connect(contents_, &QTreeWidget::itemActivated, this, &PreviewWindow::ContentsEntryChosen);
  connect(find_box_, &QLineEdit::textChanged, this, &PreviewWindow::FindTextChanged);
  find_box_->installEventFilter(this);

  auto shortcut = [this](QKeySequence keys, auto slot) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
  };
  shortcut(QKeySequence(Qt::ALT | Qt::Key_Left), &PreviewWindow::GoBack);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_I), &PreviewWindow::ToggleInfoTray);
  shortcut(QKeySequence::Find, [this] {
    find_box_->setFocus(Qt::ShortcutFocusReason);
    find_box_->selectAll();
  });
  shortcut(QKeySequence::FindNext, [this] { FindNext(false); });
  shortcut(QKeySequence::FindPrevious, [this] { FindNext(true); });

  preview_->ShowBook(path);
  // The size the book opened with, from the device settings, is chosen
  // first; one that is not offered is added.
  QImage page = view.PageImage();
  int chosen = -1;
  for (int i = 0; i < DeviceSizes().size(); ++i)
    if (page.width() == DeviceSizes()[i].width && page.height() == DeviceSizes()[i].height) chosen = i;
  if (chosen < 0 && !page.isNull()) {
    size_box_->insertItem(0, QStringLiteral("%1 × %2 (settings)").arg(page.width()).arg(page.height()));
    chosen = 0;
  }
  size_box_->setCurrentIndex(std::max(chosen, 0));
  connect(size_box_, &QComboBox::currentIndexChanged, this, &PreviewWindow::DeviceSizeChosen);
  FillContents();
  UpdatePage();
  view.setFocus();
  resize(entries_.empty() ? 560 : 760, 820);
  FitOnScreen(*this);
  if (!entries_.empty()) splitter_->setSizes({200, 560});
}

const QString& PreviewWindow::path() const { return preview_->path(); }

void PreviewWindow::NextPage() { preview_->viewer_widget().viewer().NextPage(); }

void PreviewWindow::PrevPage() { preview_->viewer_widget().viewer().PrevPage(); }

void PreviewWindow::ToggleZoom() { preview_->viewer_widget().viewer().ToggleZoom(); }

void PreviewWindow::GoBack() {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  if (!viewer.HasBook()) return;
  if (viewer.GoBack() == ikpubx::S_OK) {
    back_steps_ = std::max(0, back_steps_ - 1);
    status_label_->clear();
  } else {
    back_steps_ = 0;
  }
  UpdatePage();
}

void PreviewWindow::ToggleInfoTray() {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  if (!viewer.HasBook()) return;
  viewer.ShowInfoTray();
  info_shown_ = !info_shown_;
  info_button_->setChecked(info_shown_);
  preview_->viewer_widget().Refresh();
  UpdatePage();
}

void PreviewWindow::DeviceSizeChosen(int index) {
  QString name = size_box_->itemText(index);
  for (const DeviceSize& size : DeviceSizes()) {
    if (size.name != name) continue;
    preview_->viewer_widget().viewer().ChangeDeviceSettings(size.width, size.height, size.depth);
    preview_->viewer_widget().Refresh();
  }
  // The book opened again: its history and info tray start afresh.
  back_steps_ = 0;
  info_shown_ = false;
  info_button_->setChecked(false);
  FillContents();
  UpdatePage();
}

void PreviewWindow::PageNumberEntered() {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  if (viewer.HasBook()) viewer.SetCurPage(page_box_->value());
  UpdatePage();
}

void PreviewWindow::ContentsEntryChosen(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  if (viewer.HasBook()) viewer.SetCurPage(item->data(0, kPageRole).toInt());
  UpdatePage();
}

void PreviewWindow::LinkActivated(const ikutil::PageLink& link, int32_t result) {
  if (result == ikpubx::S_OK) {
    ++back_steps_;
    status_label_->clear();
  } else if (link.kind == ikutil::LinkTarget::kOutside) {
    status_label_->setText(tr("This link leads outside the book: %1").arg(QString::fromStdString(link.href)));
  } else if (link.kind == ikutil::LinkTarget::kBroken) {
    status_label_->setText(
        tr("This link is broken: \"%1\" is not in the book.").arg(QString::fromStdString(link.href)));
  }
  UpdatePage();
}

// Entries nest by level under the nearest entry of a smaller level.
void PreviewWindow::FillContents() {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  entries_.clear();
  if (viewer.HasBook()) viewer.GetContents(&entries_);
  contents_->clear();
  std::vector<std::pair<int, QTreeWidgetItem*>> open;  // level, item
  for (const ikutil::ContentsEntry& entry : entries_) {
    while (!open.empty() && open.back().first >= entry.level) open.pop_back();
    auto* item = open.empty() ? new QTreeWidgetItem(contents_) : new QTreeWidgetItem(open.back().second);
    item->setText(0, QString::fromStdString(entry.label));
    item->setText(1, QString::number(entry.page));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, kPageRole, entry.page);
    open.emplace_back(entry.level, item);
  }
  contents_->expandAll();
  contents_->setVisible(!entries_.empty());
}

void PreviewWindow::UpdatePage() {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  int32_t page = 0, pages = 0;
  const bool open =
      viewer.HasBook() && ikpubx::Succeeded(viewer.CurPage(&page)) && ikpubx::Succeeded(viewer.NumPages(&pages));
  page_label_->setText(open ? PageLabelText(page, pages) : QString());
  prev_button_->setEnabled(open && page > 1);
  next_button_->setEnabled(open && page < pages);
  zoom_button_->setEnabled(open);
  zoom_button_->setChecked(viewer.IsZoomed());
  size_box_->setEnabled(open);
  back_button_->setEnabled(open && back_steps_ > 0);
  info_button_->setEnabled(open);
  find_box_->setEnabled(open);
  page_box_->setEnabled(open);
  {
    const QSignalBlocker quiet(page_box_);
    page_box_->setRange(open ? 1 : 0, open ? pages : 0);
    page_box_->setValue(page);
  }
  page_count_label_->setText(open ? tr("of %1").arg(pages) : QString());

  // The entry whose section the page is in.
  QTreeWidgetItem* current = nullptr;
  for (QTreeWidgetItemIterator it(contents_); *it; ++it)
    if ((*it)->data(0, kPageRole).toInt() <= page) current = *it;
  if (current != nullptr && contents_->currentItem() != current) {
    const QSignalBlocker quiet(contents_);
    contents_->setCurrentItem(current);
  }
  if (!moving_to_hit_) MarkHitsOnPage();
}

// --- Search ---

void PreviewWindow::ShowHits(int page, const std::vector<std::vector<ikutil::PageRect>>& hits, int current) {
  hits_page_ = page;
  hits_.clear();
  for (const std::vector<ikutil::PageRect>& hit : hits) {
    QVector<QRect> rects;
    for (const ikutil::PageRect& r : hit) rects << QRect(r.x, r.y, r.width, r.height);
    hits_ << rects;
  }
  ChooseHit(current);
}

void PreviewWindow::ChooseHit(int current) {
  current_hit_ = current;
  preview_->viewer_widget().SetHighlights(hits_page_, hits_, current);
  if (hits_text_.isEmpty())
    find_label_->clear();
  else if (hits_.isEmpty())
    find_label_->setText(tr("Not on this page"));
  else if (current < 0)
    find_label_->setText(tr("%n on this page", nullptr, hits_.size()));
  else
    find_label_->setText(tr("%1 of %2 on this page").arg(current + 1).arg(hits_.size()));
}

// The hits on the page shown, none of them chosen yet.
void PreviewWindow::MarkHitsOnPage() {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  int32_t page = 0;
  ikutil::FindResult found;
  if (!hits_text_.isEmpty() && viewer.HasBook() && ikpubx::Succeeded(viewer.CurPage(&page)))
    viewer.Find(hits_text_.toStdString(), page, 0, &found);
  ShowHits(page, found.hits, -1);
}

void PreviewWindow::FindTextChanged() {
  hits_text_ = find_box_->text().trimmed();
  MarkHitsOnPage();
}

void PreviewWindow::FindNext(bool backward) {
  ikpubx::IViewer& viewer = preview_->viewer_widget().viewer();
  int32_t page = 0, pages = 0;
  if (hits_text_.isEmpty() || !viewer.HasBook() || ikpubx::Failed(viewer.CurPage(&page)) ||
      ikpubx::Failed(viewer.NumPages(&pages)))
    return;
  if (hits_page_ == page && !hits_.isEmpty()) {
    const int next = current_hit_ < 0 ? (backward ? hits_.size() - 1 : 0) : current_hit_ + (backward ? -1 : 1);
    if (next >= 0 && next < hits_.size()) {
      ChooseHit(next);
      return;
    }
  }
  // On to the next page with a hit, coming round at the book's ends.
  const std::string text = hits_text_.toStdString();
  ikutil::FindResult found;
  viewer.Find(text, backward ? page - 1 : page + 1, backward ? -1 : 1, &found);
  if (found.page == 0) viewer.Find(text, backward ? pages : 1, backward ? -1 : 1, &found);
  if (found.page == 0 || found.hits.empty()) {
    ShowHits(page, {}, -1);
    find_label_->setText(tr("Not found"));
    return;
  }
  moving_to_hit_ = true;
  viewer.SetCurPage(found.page);
  UpdatePage();
  moving_to_hit_ = false;
  ShowHits(found.page, found.hits, backward ? static_cast<int>(found.hits.size()) - 1 : 0);
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == find_box_ && enter) {
      FindNext(key->modifiers() & Qt::ShiftModifier);
      return true;
    }
    if (watched == find_box_ && key->key() == Qt::Key_Escape) {
      preview_->viewer_widget().setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageDown:
      NextPage();
      break;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_PageUp:
      PrevPage();
      break;
    case Qt::Key_Escape:
      close();
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}
