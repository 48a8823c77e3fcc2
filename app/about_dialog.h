// The About box: the program's version, a notice line and a link to the
// home page, which opens in the desktop's browser. It has no buttons and
// closes with its close box.
#pragma once

#include <QDialog>

class PlatformDialogs;

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  // The home page the link label shows and opens.
  static const char kHomePage[];

  explicit AboutDialog(PlatformDialogs& dialogs, QWidget* parent = nullptr);

  // "Version: 2.0.4" for 2, 0, 4: plain decimals, no leading zeros.
  static QString VersionText(int major, int minor, int revision);
};
