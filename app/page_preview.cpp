#include "page_preview.h"

#include <QLabel>
#include <QStackedLayout>

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
  palette.setColor(QPalette::Window, Qt::white);
  message_->setPalette(palette);
  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);
  stack_->addWidget(viewer_);
  stack_->addWidget(message_);
}

bool PagePreview::ShowBook(const QString& path) {
  path_ = path;
  if (path.isEmpty()) {
    viewer_->OpenBook(QString());
    stack_->setCurrentWidget(viewer_);
    return false;
  }
  viewer_->OpenBook(path);
  // The same name again is not opened again: what it answered then holds.
  const ikpubx::IViewer& viewer = viewer_->viewer();
  if (!viewer.HasBook()) {
    message_->setText(OpenFailureText(path, ikpubx::ViewerFailure(viewer.LastError()),
                                      QString::fromStdString(viewer.LastErrorMessage())));
    stack_->setCurrentWidget(message_);
    return false;
  }
  viewer_->viewer().SetCurPage(1);
  stack_->setCurrentWidget(viewer_);
  return true;
}

bool PagePreview::ShowsMessage() const { return stack_->currentWidget() == message_; }

QString PagePreview::Message() const { return ShowsMessage() ? message_->text() : QString(); }
