#include "about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

#include "platform_dialogs.h"
#include "version.h"

AboutDialog::AboutDialog(PlatformDialogs& dialogs, QWidget* parent, const QString& home_page) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(tr("About Vellix Publisher"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  auto* version = new QLabel(VersionText(kProgramVersionMajor, kProgramVersionMinor, kProgramVersionRevision), this);
  version->setObjectName(QStringLiteral("lblVersion"));

  auto* notice = new QLabel(tr("Publishes books for the Vellix hand-held reader.\n"
                               "Provided as is, without warranty of any kind."),
                            this);
  notice->setObjectName(QStringLiteral("lblNotice"));

  // Drawn as a link in the highlight colour; a click hands the address to
  // the desktop's browser rather than following it here.
  const QString address = home_page;
  auto* site = new QLabel(this);
  site->setObjectName(QStringLiteral("lblSite"));
  site->setTextFormat(Qt::RichText);
  site->setText(QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:underline\">%1</a>")
                    .arg(address.toHtmlEscaped(), palette().color(QPalette::Highlight).name()));
  site->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  site->setOpenExternalLinks(false);
  site->setCursor(Qt::PointingHandCursor);
  connect(site, &QLabel::linkActivated, this, [&dialogs, address] { dialogs.OpenUrl(QUrl(address)); });
  site->setVisible(!address.isEmpty());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->setObjectName(QStringLiteral("cmdClose"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  layout->setSpacing(10);
  layout->addWidget(version);
  layout->addWidget(notice);
  layout->addWidget(site);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutDialog::VersionText(int major, int minor, int revision) {
  return tr("Version: %1.%2.%3").arg(major).arg(minor).arg(revision);
}
