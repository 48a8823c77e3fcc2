// What the previews say about a book apart from its pages: the device
// sizes a publisher can try, the page label, and why a book shows no page.
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

struct DeviceSize {
  QString name;  // "480 × 640 (the device)"
  int32_t width;
  int32_t height;
  int16_t depth;
};

// The sizes the preview window offers, the device's own first.
const QVector<DeviceSize>& DeviceSizes();

// "Page 3 of 12"; "" when no book is shown.
QString PageLabelText(int32_t page, int32_t pages);

// The message shown instead of a page when the book at `path` would not
// open: `result` is what opening it answered (the engine's error code with
// the top bit set), `detail` the engine's own words.
QString OpenFailureText(const QString& path, int32_t result, const QString& detail);
