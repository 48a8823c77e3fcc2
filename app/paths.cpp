#include "paths.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

QString WithoutTrailingSlashes(QString path) {
  while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
  return path;
}

bool IsFolder(const QString& path) {
  if (path.isEmpty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(path.toStdString()), ec);
}

QString ParentFolder(const QString& path) {
  QString trimmed = WithoutTrailingSlashes(path);
  // A bare name has no folder here (not "."), and the root has no parent.
  if (!trimmed.contains(u'/') || trimmed == u"/") return QString();
  return QFileInfo(trimmed).path();
}

QString JoinPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  if (name.isEmpty()) return folder.endsWith(u'/') ? folder : folder + u'/';
  return QDir(folder).filePath(name);
}

QString FileName(const QString& path) { return QFileInfo(WithoutTrailingSlashes(path)).fileName(); }

QString BaseName(const QString& path) {
  QFileInfo info(WithoutTrailingSlashes(path));
  // A name that only starts with a dot keeps it.
  return info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
}
