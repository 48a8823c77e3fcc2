#include "book_preview.h"

#include <QFileInfo>

#include "ikutil/book_viewer.h"

const QVector<DeviceSize>& DeviceSizes() {
  static const QVector<DeviceSize> sizes = {
      {QStringLiteral("480 × 640 (the device)"), 480, 640, 4},
      {QStringLiteral("600 × 800"), 600, 800, 4},
      {QStringLiteral("758 × 1024"), 758, 1024, 8},
      {QStringLiteral("320 × 480"), 320, 480, 4},
      {QStringLiteral("640 × 480 (landscape)"), 640, 480, 4},
  };
  return sizes;
}

QString PageLabelText(int32_t page, int32_t pages) {
  if (page <= 0 || pages <= 0) return QString();
  return QStringLiteral("Page %1 of %2").arg(page).arg(pages);
}

QString OpenFailureText(const QString& path, int32_t result, const QString& detail) {
  if (QFileInfo(path).isDir())
    return QStringLiteral("This is a book folder. Its pages can be previewed once it is added to the bookshelf.");
  switch (static_cast<int32_t>(static_cast<uint32_t>(result) & 0x7FFFFFFFu)) {
    case ikutil::kViewerNotFound:
      return QStringLiteral("The book file could not be read.");
    case ikutil::kViewerNotABookFile:
      return QStringLiteral("This file is not a device book.");
    case ikutil::kViewerNotOurs:
      return QStringLiteral(
          "This book was made by another tool. Only books published with Vellix Publisher can be previewed.");
    case ikutil::kViewerNewerVersion:
      return QStringLiteral("This book was published by a newer version of Vellix Publisher.");
    case ikutil::kViewerCorrupt:
      return QStringLiteral("This book file is damaged.");
    case ikutil::kViewerTooLarge:
      return QStringLiteral("This book holds more text than the device can show.");
    default:
      return detail.isEmpty() ? QStringLiteral("The book could not be shown.")
                              : QStringLiteral("The book could not be shown: %1").arg(detail);
  }
}
