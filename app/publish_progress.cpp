#include "publish_progress.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>

namespace {
// Byte counts may pass what an int holds; the bar moves in thousandths.
constexpr int kSteps = 1000;
}  // namespace

PublishProgress::PublishProgress(QWidget* parent, const QString& what) : what_(what), dialog_(parent) {
  dialog_.setObjectName(QStringLiteral("dlgPublishProgress"));
  dialog_.setWindowTitle(QObject::tr("Vellix Publisher"));
  dialog_.setWindowModality(Qt::ApplicationModal);
  dialog_.setLabelText(QObject::tr("Publishing %1...").arg(what_));
  dialog_.setRange(0, 0);  // busy until the first count arrives
  dialog_.setAutoClose(false);
  dialog_.setAutoReset(false);
  dialog_.setMinimumDuration(0);
  dialog_.setMinimumWidth(360);
  dialog_.show();
  Pump();

  events_.source_start = [this](const std::string& file, int32_t number, int32_t total) {
    SourceStarted(file, number, total);
  };
  events_.progress = [this](int64_t done, int64_t total) { Progressed(done, total); };
  events_.error = [this](const std::string& file, const std::string& message, int32_t line, int32_t, int16_t) {
    Reported(file, message, line);
  };
  events_.keep_going = [this] {
    Pump();
    return !dialog_.wasCanceled();
  };
}

void PublishProgress::SourceStarted(const std::string& file, int32_t number, int32_t total) {
  QString name = QFileInfo(QString::fromStdString(file)).fileName();
  source_ = total > 1 ? QObject::tr("Reading %1 (%2 of %3)").arg(name).arg(number).arg(total)
                      : QObject::tr("Reading %1").arg(name);
  dialog_.setLabelText(QObject::tr("Publishing %1...").arg(what_) + u'\n' + source_);
  Pump();
}

void PublishProgress::Progressed(int64_t done, int64_t total) {
  if (total > 0) {
    dialog_.setRange(0, kSteps);
    dialog_.setValue(static_cast<int>(std::clamp<int64_t>(done, 0, total) * kSteps / total));
  }
  Pump();
}

void PublishProgress::Reported(const std::string& file, const std::string& message, int32_t line) {
  QString where = QFileInfo(QString::fromStdString(file)).fileName();
  if (line > 0) where = QObject::tr("%1, line %2").arg(where).arg(line);
  QString text = QString::fromStdString(message).trimmed();
  problems_ << (where.isEmpty() ? text : where + QStringLiteral(": ") + text);
  Pump();
}

// User input included: that is how a click on "Cancel" arrives.
void PublishProgress::Pump() { QCoreApplication::processEvents(); }
