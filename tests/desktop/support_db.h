// Direct access to a test's database file, beside the stores' own connections, to look at
// what they wrote and to plant rows that other versions or programs may have written.
#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace quorvel::test {

class SqlFile {
 public:
  explicit SqlFile(const QString& path);
  ~SqlFile();
  SqlFile(const SqlFile&) = delete;
  SqlFile& operator=(const SqlFile&) = delete;

  bool isOpen() const { return db.isOpen(); }
  QSqlDatabase& handle() { return db; }
  // Every row of the statement's result with its values as text (NULL as "<null>"); the
  // statement's error text as the only row when it fails.
  QList<QStringList> rows(const QString& sql, const QVariantList& bind = {});
  QString one(const QString& sql, const QVariantList& bind = {});
  bool exec(const QString& sql, const QVariantList& bind = {});

 private:
  QSqlDatabase db;
  QString name;
};

// Runs the sqlite3 program on the file with the statements on its standard input; gives its
// output, or a text starting with "error:" when it failed.
QString sqlite3Cli(const QString& path, const QString& statements);

}  // namespace quorvel::test
