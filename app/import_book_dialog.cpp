#include "import_book_dialog.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "platform_dialogs.h"
#include "publish_progress.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/markdown.h"

QString ImportBookDialog::FileFilter() {
  // "All books and documents (*.oeb ...);;Container Files (*.oeb);;..."
  QStringList all, groups;
  for (const vellix::AddableFileKind& kind : vellix::AddableFileKinds()) {
    const QString pattern = QStringLiteral("*.") + QLatin1String(kind.extension);
    all << pattern;
    const QString group = QLatin1String(kind.group) + QStringLiteral(" (");
    if (!groups.isEmpty() && groups.back().startsWith(group))
      groups.back().insert(groups.back().size() - 1, u' ' + pattern);
    else
      groups << group + pattern + u')';
  }
  return QStringLiteral("All books and documents (%1);;%2").arg(all.join(u' '), groups.join(QStringLiteral(";;")));
}

namespace {

// A title for a text or Markdown file, whose own metadata is not read: the
// title a Markdown source gives, else the file's name with its separators
// as spaces ("harbour_notes-2.txt" -> "harbour notes 2"). "" for other kinds.
QString ProposedTitle(const QString& path) {
  const QFileInfo file(path);
  const QString suffix = file.suffix().toLower();
  if (suffix != u"txt" && suffix != u"md" && suffix != u"markdown") return QString();
  if (suffix != u"txt") {
    QFile source(path);
    constexpr qint64 kLargestRead = 8 << 20;  // a title is at the top; a huge file is not read whole
    if (source.open(QIODevice::ReadOnly)) {
      const QByteArray text = source.read(kLargestRead);
      const std::string title = vellix::formats::ConvertMarkdown(std::string_view(text.constData(), text.size())).title;
      if (!title.empty()) return QString::fromStdString(title).simplified();
    }
  }
  QString name = file.completeBaseName();
  name.replace(u'_', u' ').replace(u'-', u' ');
  return name.simplified();
}

QLineEdit* LabelledBox(QWidget* parent, QGridLayout* layout, int row, const QString& caption, const char* label_name,
                       const char* box_name) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(label_name));
  auto* box = new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(box_name));
  label->setBuddy(box);
  layout->addWidget(label, row, 0, 1, 2);
  layout->addWidget(box, row + 1, 0, 1, 2);
  return box;
}

}  // namespace

ImportBookDialog::ImportBookDialog(PlatformDialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("frmImportBook"));
  setWindowTitle(tr("Import Book"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  auto* layout = new QGridLayout(this);
  auto* book_label = new QLabel(tr("Boo&k"), this);
  book_label->setObjectName(QStringLiteral("lblBook"));
  file_box_ = new QLineEdit(this);
  file_box_->setObjectName(QStringLiteral("txtFile"));
  file_box_->setMinimumWidth(340);
  book_label->setBuddy(file_box_);
  auto* browse = new QPushButton(tr("&Browse..."), this);
  browse->setObjectName(QStringLiteral("cmdBrowseFile"));
  browse->setAutoDefault(false);
  layout->addWidget(book_label, 0, 0, 1, 2);
  layout->addWidget(file_box_, 1, 0);
  layout->addWidget(browse, 1, 1);

  title_box_ = LabelledBox(this, layout, 2, tr("&Title"), "lblTitle", "txtTitle");
  author_box_ = LabelledBox(this, layout, 4, tr("&Author"), "lblAuthor", "txtAuthor");
  category_box_ = LabelledBox(this, layout, 6, tr("&Category"), "lblCategory", "txtCategory");

  // Shown for a book that carries its own fields, in place of the spacing.
  fields_note_ = new QLabel(this);
  fields_note_->setObjectName(QStringLiteral("lblFieldsNote"));
  fields_note_->setWordWrap(true);
  fields_note_->setVisible(false);
  layout->addWidget(fields_note_, 8, 0, 1, 2);

  import_button_ = new QPushButton(tr("&Import Book"), this);
  import_button_->setObjectName(QStringLiteral("cmdImportBook"));
  import_button_->setEnabled(false);
  layout->setRowMinimumHeight(8, 6);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cmdCancel"));
  cancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel);
  buttons->addWidget(import_button_);
  layout->addLayout(buttons, 9, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(browse, &QPushButton::clicked, this, &ImportBookDialog::Browse);
  connect(file_box_, &QLineEdit::textChanged, this, &ImportBookDialog::FileChanged);
  for (QLineEdit* box : {title_box_, author_box_, category_box_})
    connect(box, &QLineEdit::textChanged, this, &ImportBookDialog::UpdateImportButton);
  connect(import_button_, &QPushButton::clicked, this, &ImportBookDialog::Import);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

ImportBookDialog::~ImportBookDialog() = default;

void ImportBookDialog::SetBookshelf(std::shared_ptr<vellix::Bookshelf> bookshelf) { bookshelf_ = std::move(bookshelf); }

void ImportBookDialog::Browse() {
  const QStringList files = dialogs_.OpenFileNames(this, tr("Import Book"), FileFilter());
  if (files.size() == 1) file_box_->setText(files.first());
  // Many books take the fields they hold: the window adds them in one batch.
  if (files.size() > 1) {
    chosen_files_ = files;
    reject();
  }
}

void ImportBookDialog::SetFile(const QString& path) { file_box_->setText(path); }

void ImportBookDialog::FileChanged() {
  LoadImportFile();
  UpdateImportButton();
}

void ImportBookDialog::LoadImportFile() {
  QString error;
  switch (import_.LoadFile(file_box_->text(), &error)) {
    case BookImport::LoadResult::kNoFile:
      return;
    case BookImport::LoadResult::kLoaded:
      title_box_->setText(import_.Title().isEmpty() && !import_.CarriesOwnFields() ? ProposedTitle(file_box_->text())
                                                                                   : import_.Title());
      author_box_->setText(import_.Author());
      category_box_->setText(import_.Category());
      ShowWhoseFields();
      return;
    case BookImport::LoadResult::kFailed:
      ShowWhoseFields();
      dialogs_.ShowMessage(this, tr("Vellix Publisher"), error);
      return;
  }
}

void ImportBookDialog::ShowWhoseFields() {
  // A container's build takes the fields it carries: they are shown, and
  // not offered for typing that would be dropped.
  const bool own = import_.CarriesOwnFields();
  for (QLineEdit* box : {title_box_, author_box_, category_box_}) box->setEnabled(!own);
  fields_note_->setVisible(own);
  if (!own) return;
  if (import_.FieldsUnreadable().isEmpty())
    fields_note_->setText(tr("A container carries its own title, author and category: the book takes them as shown."));
  else
    fields_note_->setText(tr("A container carries its own title, author and category, which cannot be read: %1")
                              .arg(import_.FieldsUnreadable()));
}

void ImportBookDialog::UpdateImportButton() {
  import_button_->setEnabled(
      import_.CanImport(file_box_->text(), title_box_->text(), author_box_->text(), category_box_->text()));
}

void ImportBookDialog::Import() {
  import_button_->setEnabled(false);
  QString error;
  bool imported;
  bool cancelled;
  QStringList problems;
  {
    PublishProgress progress(this, title_box_->text());
    imported = import_.Import(bookshelf_.get(), title_box_->text(), author_box_->text(), category_box_->text(),
                              progress.events(), &error);
    cancelled = progress.WasCancelled();
    problems = progress.Problems();
  }
  if (!imported) {
    // The button stays disabled until one of the boxes changes.
    if (cancelled) {
      error = tr("The import was cancelled; no book was added.");
    } else {
      // What the build found explains the failure better than its outcome;
      // the error itself may already name the first problem.
      problems.removeIf([&error](const QString& problem) { return error.contains(problem); });
      constexpr int kShown = 5;
      if (!problems.isEmpty()) error += u'\n' + problems.mid(0, kShown).join(u'\n');
      if (problems.size() > kShown) error += u'\n' + tr("(%1 more)").arg(problems.size() - kShown);
    }
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), error);
    return;
  }
  imported_title_ = title_box_->text();
  import_button_->setEnabled(true);
  accept();
}
