#include "support_db.h"

#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace quorvel::test {

namespace {
int g_files = 0;
}

SqlFile::SqlFile(const QString& path) : name(QStringLiteral("test-check-%1").arg(++g_files)) {
  db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
  db.setDatabaseName(path);
  db.open();
}

SqlFile::~SqlFile() {
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(name);
}

QList<QStringList> SqlFile::rows(const QString& sql, const QVariantList& bind) {
  QList<QStringList> out;
  QSqlQuery q(db);
  q.setForwardOnly(true);
  q.prepare(sql);
  for (const QVariant& v : bind) q.addBindValue(v);
  if (!q.exec()) return {QStringList{QStringLiteral("error: ") + q.lastError().text()}};
  while (q.next()) {
    QStringList row;
    for (int i = 0; i < q.record().count(); ++i) {
      row << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
    }
    out << row;
  }
  return out;
}

QString SqlFile::one(const QString& sql, const QVariantList& bind) {
  const QList<QStringList> r = rows(sql, bind);
  return r.isEmpty() || r.first().isEmpty() ? QString() : r.first().first();
}

bool SqlFile::exec(const QString& sql, const QVariantList& bind) {
  QSqlQuery q(db);
  q.prepare(sql);
  for (const QVariant& v : bind) q.addBindValue(v);
  return q.exec();
}

QString sqlite3Cli(const QString& path, const QString& statements) {
  QProcess p;
  p.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), path});
  if (!p.waitForStarted()) return QStringLiteral("error: sqlite3 did not start");
  p.write(statements.toUtf8());
  p.closeWriteChannel();
  p.waitForFinished();
  const QString out = QString::fromUtf8(p.readAllStandardOutput());
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    return QStringLiteral("error: ") + QString::fromUtf8(p.readAllStandardError());
  }
  return out;
}

}  // namespace quorvel::test
