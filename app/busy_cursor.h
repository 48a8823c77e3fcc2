// Shows the busy cursor for as long as it lives. The library works on the
// one user-interface thread, so the cursor is put on screen before the
// work starts; user input waits until the work is done.
#pragma once

#include <QCoreApplication>
#include <QGuiApplication>

class BusyCursor {
 public:
  BusyCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};
