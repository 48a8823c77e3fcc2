#include "preview_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "book_preview.h"
#include "ikpubx/qt/viewer_widget.h"
#include "page_preview.h"

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
  // The buttons leave the keyboard with the page, whose keys are the device's.
  for (QWidget* control :
       {static_cast<QWidget*>(prev_button_), static_cast<QWidget*>(next_button_), static_cast<QWidget*>(zoom_button_)})
    control->setFocusPolicy(Qt::NoFocus);

  auto* controls = new QHBoxLayout;
  controls->addWidget(prev_button_);
  controls->addWidget(next_button_);
  controls->addWidget(page_label_);
  controls->addStretch();
  controls->addWidget(zoom_button_);
  controls->addWidget(new QLabel(tr("Device:"), this));
  controls->addWidget(size_box_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(preview_, 1);
  layout->addLayout(controls);

  ikpubx::ViewerWidget& view = preview_->viewer_widget();
  connect(&view, &ikpubx::ViewerWidget::pageChanged, this, &PreviewWindow::UpdatePage);
  connect(&view, &ikpubx::ViewerWidget::zoomChanged, this, &PreviewWindow::UpdatePage);
  connect(&view, &ikpubx::ViewerWidget::keyHandled, this, &PreviewWindow::UpdatePage);
  connect(prev_button_, &QPushButton::clicked, this, &PreviewWindow::PrevPage);
  connect(next_button_, &QPushButton::clicked, this, &PreviewWindow::NextPage);
  connect(zoom_button_, &QPushButton::clicked, this, &PreviewWindow::ToggleZoom);

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
  UpdatePage();
  view.setFocus();
  resize(560, 780);
}

const QString& PreviewWindow::path() const { return preview_->path(); }

void PreviewWindow::NextPage() { preview_->viewer_widget().viewer().NextPage(); }

void PreviewWindow::PrevPage() { preview_->viewer_widget().viewer().PrevPage(); }

void PreviewWindow::ToggleZoom() { preview_->viewer_widget().viewer().ToggleZoom(); }

void PreviewWindow::DeviceSizeChosen(int index) {
  QString name = size_box_->itemText(index);
  for (const DeviceSize& size : DeviceSizes()) {
    if (size.name != name) continue;
    preview_->viewer_widget().viewer().ChangeDeviceSettings(size.width, size.height, size.depth);
    preview_->viewer_widget().Refresh();
  }
  UpdatePage();
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
