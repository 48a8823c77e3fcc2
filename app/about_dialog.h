// The About box: the program's version, a notice line and a link to the
// home page, which opens in the desktop's browser; without a home page
// there is no link. A Close button (Escape) and the close box close it.
#pragma once

#include <QDialog>
#include <QString>

#include "version.h"

class PlatformDialogs;

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  // `home_page` is the address the link shows and opens; by default the
  // one the build names.
  explicit AboutDialog(PlatformDialogs& dialogs, QWidget* parent = nullptr,
                       const QString& home_page = QString::fromUtf8(kProgramHomePage));

  // "Version: 2.0.4" for 2, 0, 4: plain decimals, no leading zeros.
  static QString VersionText(int major, int minor, int revision);
};
