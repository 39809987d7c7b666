// Opening and closing of the SQLite connections behind the annotation and recents stores.
#pragma once

#include <QSqlDatabase>
#include <QString>

struct sqlite3;

namespace quorvel::desktop::storedb {

// Adds the connection `name` on the file at `path` and opens it in WAL mode with a busy
// timeout, so the two stores of the window can share the file. A file that is not a sound
// database is closed again and renamed aside; *damagedCopy then holds its new path. The
// returned handle is closed whenever the file could not be used.
QSqlDatabase open(const QString& name, const QString& path, QString* damagedCopy);

// Closes the handle and removes the connection from Qt's registry.
void close(QSqlDatabase& db, const QString& name);

// The driver's SQLite handle of an open connection; null when closed.
sqlite3* sqliteHandle(const QSqlDatabase& db);

// A string that binds as text even when empty (a null QString binds as NULL).
QString nonNull(const QString& s);

}  // namespace quorvel::desktop::storedb
