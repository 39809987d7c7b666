#include "desktop/stores/RecentsStore.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

#include "desktop/stores/StoreDatabase.h"

namespace quorvel::desktop {

namespace {

int g_recentsStores = 0;  // GUI thread only

}  // namespace

RecentsStore::RecentsStore(const QString& path)
    : connectionName(QStringLiteral("quorvel-recents-%1").arg(++g_recentsStores)) {
  db = storedb::open(connectionName, path, &damagedPath);
  if (!db.isOpen()) return;
  QSqlQuery q(db);
  q.exec(QStringLiteral(
      "CREATE TABLE IF NOT EXISTS recent_documents (  path TEXT PRIMARY KEY, title TEXT, "
      "opened INTEGER)"));
  q.finish();
}

RecentsStore::~RecentsStore() { storedb::close(db, connectionName); }

bool RecentsStore::isOpen() const { return db.isOpen(); }

QString RecentsStore::damagedCopy() const { return damagedPath; }

bool RecentsStore::add(const QString& path, const QString& title) {
  if (!db.isOpen()) return false;
  // The replaced row gets a new rowid, which orders files reopened within one second.
  QSqlQuery q(db);
  q.prepare(QStringLiteral(
      "INSERT OR REPLACE INTO recent_documents (path,title,opened) VALUES (?,?,?)"));
  // A NULL path would never conflict with itself and add a row on every call.
  q.addBindValue(storedb::nonNull(path));
  q.addBindValue(title);
  q.addBindValue(static_cast<qint64>(QDateTime::currentSecsSinceEpoch()));
  const bool ok = q.exec();
  q.finish();
  return ok;
}

std::vector<RecentEntry> RecentsStore::list(int limit) {
  std::vector<RecentEntry> out;
  if (!db.isOpen()) return out;
  QSqlQuery q(db);
  q.setForwardOnly(true);
  q.prepare(QStringLiteral(
      "SELECT path,title FROM recent_documents ORDER BY opened DESC, rowid DESC LIMIT ?"));
  q.addBindValue(limit);
  if (!q.exec()) return out;
  while (q.next()) out.push_back(RecentEntry{q.value(0).toString(), q.value(1).toString()});
  q.finish();
  return out;
}

void RecentsStore::clear() {
  if (!db.isOpen()) return;
  QSqlQuery q(db);
  q.exec(QStringLiteral("DELETE FROM recent_documents"));
  q.finish();
}

}  // namespace quorvel::desktop
