#include "add_book.h"

#include "paths.h"

bool IsBookFolderPath(const QString& path) { return IsFolder(path) && path.right(4).toUpper() == u".RES"; }
