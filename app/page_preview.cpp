#include "page_preview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "book_preview.h"
#include "ikpubx/qt/viewer_widget.h"

PagePreview::PagePreview(QWidget* parent) : QWidget(parent) {
  viewer_ = new ikpubx::ViewerWidget(this);
  viewer_->setObjectName(QStringLiteral("pageView"));
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("lblPreviewMessage"));
  message_->setTextFormat(Qt::PlainText);
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignCenter);
  message_->setMargin(24);
  message_->setAutoFillBackground(true);
  QPalette palette = message_->palette();
  // Paper stays white with dark text, in a dark palette too.
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, QColor(0x30, 0x30, 0x30));
  message_->setPalette(palette);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  stack_ = new QStackedLayout;
  stack_->setContentsMargins(0, 0, 0, 0);
  stack_->addWidget(viewer_);
  stack_->addWidget(message_);
  column->addLayout(stack_, 1);
}

void PagePreview::ShowPagingBar() {
  if (paging_bar_ != nullptr) return;
  paging_bar_ = new QWidget(this);
  prev_button_ = new QPushButton(tr("<"), paging_bar_);
  prev_button_->setObjectName(QStringLiteral("cmdPanePrev"));
  prev_button_->setToolTip(tr("Previous page"));
  prev_button_->setAccessibleName(tr("Previous page"));
  next_button_ = new QPushButton(tr(">"), paging_bar_);
  next_button_->setObjectName(QStringLiteral("cmdPaneNext"));
  next_button_->setToolTip(tr("Next page"));
  next_button_->setAccessibleName(tr("Next page"));
  page_label_ = new QLabel(paging_bar_);
  page_label_->setObjectName(QStringLiteral("lblPanePage"));
  page_label_->setAlignment(Qt::AlignCenter);
  auto* row = new QHBoxLayout(paging_bar_);
  row->setContentsMargins(0, 4, 0, 0);
  row->addWidget(prev_button_);
  row->addWidget(page_label_, 1);
  row->addWidget(next_button_);
  static_cast<QVBoxLayout*>(layout())->addWidget(paging_bar_);
  connect(prev_button_, &QPushButton::clicked, this, [this] { viewer_->viewer().PrevPage(); });
  connect(next_button_, &QPushButton::clicked, this, [this] { viewer_->viewer().NextPage(); });
  connect(viewer_, &ikpubx::ViewerWidget::pageChanged, this, &PagePreview::UpdatePagingBar);
  connect(viewer_, &ikpubx::ViewerWidget::keyHandled, this, &PagePreview::UpdatePagingBar);
  UpdatePagingBar();
}

void PagePreview::UpdatePagingBar() {
  if (paging_bar_ == nullptr) return;
  ikpubx::IViewer& viewer = viewer_->viewer();
  int32_t page = 0, pages = 0;
  const bool open = !ShowsMessage() && viewer.HasBook() && ikpubx::Succeeded(viewer.CurPage(&page)) &&
                    ikpubx::Succeeded(viewer.NumPages(&pages));
  page_label_->setText(open ? PageLabelText(page, pages) : QString());
  prev_button_->setEnabled(open && page > 1);
  next_button_->setEnabled(open && page < pages);
}

bool PagePreview::ShowBook(const QString& path) {
  path_ = path;
  if (path.isEmpty()) {
    viewer_->OpenBook(QString());
    stack_->setCurrentWidget(viewer_);
    UpdatePagingBar();
    return false;
  }
  viewer_->OpenBook(path);
  // The same name again is not opened again: what it answered then holds.
  const ikpubx::IViewer& viewer = viewer_->viewer();
  if (!viewer.HasBook()) {
    message_->setText(OpenFailureText(path, ikpubx::ViewerFailure(viewer.LastError()),
                                      QString::fromStdString(viewer.LastErrorMessage())));
    stack_->setCurrentWidget(message_);
    UpdatePagingBar();
    return false;
  }
  viewer_->viewer().SetCurPage(1);
  stack_->setCurrentWidget(viewer_);
  UpdatePagingBar();
  return true;
}

bool PagePreview::ShowsMessage() const { return stack_->currentWidget() == message_; }

QString PagePreview::Message() const { return ShowsMessage() ? message_->text() : QString(); }
