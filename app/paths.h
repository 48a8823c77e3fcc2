// Paths as the window and the presenter handle them: Qt strings with '/'
// between components, where trailing slashes do not count.
#pragma once

#include <QString>

// `path` without the slashes it ends with ("/books/" -> "/books"); the root
// stays "/".
QString WithoutTrailingSlashes(QString path);

// True when a folder of that path exists ("" never names one).
bool IsFolder(const QString& path);

// The folder that holds `path` ("/books/shelf" -> "/books"), "" when the
// path names no parent. Trailing slashes are ignored.
QString ParentFolder(const QString& path);

// `name` in `folder`, or `name` alone when there is no folder. An empty
// name leaves the folder with its separator, as the dialogs expect.
QString JoinPath(const QString& folder, const QString& name);

// The last component of `path`, extension included
// ("/books/my.shelf/" -> "my.shelf").
QString FileName(const QString& path);

// The last component of `path` without its extension
// ("/books/my.shelf" -> "my"). Trailing slashes are ignored.
QString BaseName(const QString& path);
