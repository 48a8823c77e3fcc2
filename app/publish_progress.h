// A progress dialog for one publication, fed by the library's publish
// events.
//
// The library publishes on the user-interface thread, so the events pump
// the event loop themselves: the dialog repaints and a click on "Cancel"
// is seen, and the next keep_going question answers it. The dialog is
// application-modal and shown at once, so nothing else takes input while
// the book is being published.
#pragma once

#include <QProgressDialog>
#include <QStringList>

#include "vellix/book.h"

class PublishProgress {
 public:
  // `what` names the book in the dialog's text.
  PublishProgress(QWidget* parent, const QString& what);
  PublishProgress(const PublishProgress&) = delete;
  PublishProgress& operator=(const PublishProgress&) = delete;

  // Valid as long as this object lives.
  const vellix::PublishEvents* events() const { return &events_; }
  bool WasCancelled() const { return dialog_.wasCanceled(); }
  // The problems the build reported, one line each ("file, line 3: text"),
  // to explain a publication that failed.
  const QStringList& Problems() const { return problems_; }
  QProgressDialog& dialog() { return dialog_; }

 private:
  void SourceStarted(const std::string& file, int32_t number, int32_t total);
  void Progressed(int64_t done, int64_t total);
  void Reported(const std::string& file, const std::string& message, int32_t line);
  void Pump();

  QString what_;
  QString source_;
  QStringList problems_;
  QProgressDialog dialog_;
  vellix::PublishEvents events_;
};
