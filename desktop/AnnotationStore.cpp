#include "desktop/AnnotationStore.h"

#include <QSet>
#include <QSqlQuery>
#include <QVariant>

#include "desktop/StoreDatabase.h"

namespace quorvel::desktop {

namespace {

int g_annotationStores = 0;  // GUI thread only

QString utf8Text(const std::string& s) {
  return storedb::nonNull(QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
}

std::string utf8Bytes(const QString& s) {
  const QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

// Brings a database from before the width and opacity columns up to date; its older rows then
// read the column defaults. One transaction, so a crash never leaves half a migration.
void prepareSchema(QSqlDatabase& db) {
  if (!db.transaction()) return;
  QSqlQuery q(db);
  bool ok = q.exec(QStringLiteral(
      "CREATE TABLE IF NOT EXISTS annotations (  id TEXT NOT NULL, doc_hash TEXT NOT NULL, "
      "page INTEGER NOT NULL,  type TEXT NOT NULL, color INTEGER NOT NULL,  x0 REAL, y0 REAL, "
      "x1 REAL, y1 REAL,  path TEXT, body TEXT,  width REAL DEFAULT 1.0, "
      "opacity INTEGER DEFAULT 255,  PRIMARY KEY(doc_hash, id))"));
  QSet<QString> columns;
  if (ok && (ok = q.exec(QStringLiteral("PRAGMA table_info(annotations)")))) {
    while (q.next()) columns.insert(q.value(1).toString());
  }
  q.finish();
  if (ok && !columns.contains(QStringLiteral("width"))) {
    ok = q.exec(QStringLiteral("ALTER TABLE annotations ADD COLUMN width REAL DEFAULT 1.0"));
  }
  if (ok && !columns.contains(QStringLiteral("opacity"))) {
    ok = q.exec(QStringLiteral("ALTER TABLE annotations ADD COLUMN opacity INTEGER DEFAULT 255"));
  }
  q.finish();
  if (!ok || !db.commit()) db.rollback();
}

}  // namespace

AnnotationStore::AnnotationStore(const QString& path)
    : connectionName(QStringLiteral("quorvel-annot-%1").arg(++g_annotationStores)) {
  db = storedb::open(connectionName, path, &damagedPath);
  if (db.isOpen()) prepareSchema(db);
}

AnnotationStore::~AnnotationStore() { storedb::close(db, connectionName); }

bool AnnotationStore::isOpen() const { return db.isOpen(); }

QString AnnotationStore::damagedCopy() const { return damagedPath; }

bool AnnotationStore::add(const QString& docHash, const annot::Annotation& a) {
  if (!db.isOpen()) return false;
  // An upsert rather than INSERT OR REPLACE: replacing would delete the row and give it a new
  // rowid, moving an edited annotation to the top of its page on the next load.
  QSqlQuery q(db);
  q.prepare(QStringLiteral(
      "INSERT INTO annotations (id,doc_hash,page,type,color,x0,y0,x1,y1,path,body,width,opacity) "
      "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(doc_hash,id) DO UPDATE SET "
      "page=excluded.page,type=excluded.type,color=excluded.color,x0=excluded.x0,"
      "y0=excluded.y0,x1=excluded.x1,y1=excluded.y1,path=excluded.path,body=excluded.body,"
      "width=excluded.width,opacity=excluded.opacity"));
  q.addBindValue(utf8Text(a.id));
  q.addBindValue(storedb::nonNull(docHash));
  q.addBindValue(static_cast<qint32>(a.page));
  q.addBindValue(QString::fromLatin1(annot::type_name(a.type)));
  q.addBindValue(static_cast<qint64>(a.color));
  q.addBindValue(a.x0);
  q.addBindValue(a.y0);
  q.addBindValue(a.x1);
  q.addBindValue(a.y1);
  q.addBindValue(utf8Text(annot::encode_path(a.points)));
  q.addBindValue(utf8Text(a.text));
  q.addBindValue(a.width);
  q.addBindValue(static_cast<int>(a.opacity));
  const bool ok = q.exec();
  q.finish();
  return ok;
}

bool AnnotationStore::remove(const QString& docHash, const QString& id) {
  if (!db.isOpen()) return false;
  QSqlQuery q(db);
  q.prepare(QStringLiteral("DELETE FROM annotations WHERE doc_hash=? AND id=?"));
  q.addBindValue(storedb::nonNull(docHash));
  q.addBindValue(storedb::nonNull(id));
  const bool ok = q.exec();
  q.finish();
  return ok;
}

std::vector<annot::Annotation> AnnotationStore::load(const QString& docHash) {
  std::vector<annot::Annotation> out;
  if (!db.isOpen()) return out;
  QSqlQuery q(db);
  q.setForwardOnly(true);
  q.prepare(QStringLiteral(
      "SELECT id,page,type,color,x0,y0,x1,y1,path,body,width,opacity FROM annotations "
      "WHERE doc_hash=? ORDER BY page, rowid"));
  q.addBindValue(storedb::nonNull(docHash));
  if (!q.exec()) return out;
  while (q.next()) {
    annot::Annotation a;
    a.id = utf8Bytes(q.value(0).toString());
    a.page = static_cast<int>(q.value(1).toLongLong());
    a.type = annot::type_from_name(utf8Bytes(q.value(2).toString()))
                 .value_or(annot::AnnotType::Highlight);
    a.color = static_cast<uint32_t>(q.value(3).toLongLong());
    a.x0 = q.value(4).toDouble();
    a.y0 = q.value(5).toDouble();
    a.x1 = q.value(6).toDouble();
    a.y1 = q.value(7).toDouble();
    if (!q.isNull(8)) a.points = annot::decode_path(utf8Bytes(q.value(8).toString()));
    if (!q.isNull(9)) a.text = utf8Bytes(q.value(9).toString());
    if (!q.isNull(10)) a.width = q.value(10).toDouble();
    if (!q.isNull(11)) a.opacity = static_cast<uint8_t>(q.value(11).toLongLong() & 0xff);
    out.push_back(std::move(a));
  }
  q.finish();
  return out;
}

}  // namespace quorvel::desktop
