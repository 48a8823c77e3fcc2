#include "window_fit.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

void FitOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  // The frame the window manager adds is not known before the window is
  // shown; leave room for a title bar and borders.
  const QSize room = area.size() - QSize(16, 48);
  if (window.width() > room.width() || window.height() > room.height())
    window.resize(window.size().boundedTo(room).expandedTo(window.minimumSize()));
  QPoint place = window.pos();
  place.setX(std::clamp(place.x(), area.left(), std::max(area.left(), area.right() - window.width())));
  place.setY(std::clamp(place.y(), area.top(), std::max(area.top(), area.bottom() - window.height())));
  if (place != window.pos()) window.move(place);
}
