#include "desktop/stores/AnnotationStore.h"

#include <QSet>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>

#include <climits>
#include <memory>

#include "desktop/stores/StoreDatabase.h"

namespace quorvel::desktop {

namespace {

int g_annotationStores = 0;  // GUI thread only

QString utf8Text(const std::string& s) {
  return storedb::nonNull(QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
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
  // Lets the load read a document's rows in page order without sorting them (an index entry
  // ends with the rowid, so insertion order within a page comes free).
  if (ok) {
    ok = q.exec(QStringLiteral(
        "CREATE INDEX IF NOT EXISTS annotations_doc_page ON annotations(doc_hash, page)"));
  }
  q.finish();
  if (!ok || !db.commit()) db.rollback();
}

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

}  // namespace

AnnotationStore::AnnotationStore(const QString& path)
    : connectionName(QStringLiteral("quorvel-annot-%1").arg(++g_annotationStores)) {
  db = storedb::open(connectionName, path, &damagedPath);
  if (db.isOpen()) prepareSchema(db);
}

AnnotationStore::~AnnotationStore() { storedb::close(db, connectionName); }

bool AnnotationStore::isOpen() const { return db.isOpen(); }

QString AnnotationStore::damagedCopy() const { return damagedPath; }

namespace {

// An upsert rather than INSERT OR REPLACE: replacing would delete the row and give it a new
// rowid, moving an edited annotation to the top of its page on the next load.
constexpr const char* kUpsert =
    "INSERT INTO annotations (id,doc_hash,page,type,color,x0,y0,x1,y1,path,body,width,opacity) "
    "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT(doc_hash,id) DO UPDATE SET "
    "page=excluded.page,type=excluded.type,color=excluded.color,x0=excluded.x0,"
    "y0=excluded.y0,x1=excluded.x1,y1=excluded.y1,path=excluded.path,body=excluded.body,"
    "width=excluded.width,opacity=excluded.opacity";

// Writes the rows through the driver's own SQLite handle with one prepared statement: binding
// through QSqlQuery costs more than SQLite's own work on a large import.
bool upsertRows(sqlite3* handle, const QByteArray& key, const std::vector<annot::Annotation>& list) {
  sqlite3_stmt* raw = nullptr;
  const int prepared = sqlite3_prepare_v2(handle, kUpsert, -1, &raw, nullptr);
  const Statement stmt(raw);
  if (prepared != SQLITE_OK) return false;
  sqlite3_stmt* st = stmt.get();
  const auto text = [st](int col, const std::string& s) {
    sqlite3_bind_text(st, col, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  };
  for (const annot::Annotation& a : list) {
    // SQLite takes int lengths.
    if (a.id.size() > INT_MAX / 2 || a.text.size() > INT_MAX / 2) return false;
    sqlite3_reset(st);
    text(1, a.id);
    sqlite3_bind_text(st, 2, key.constData(), static_cast<int>(key.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 3, a.page);
    sqlite3_bind_text(st, 4, annot::type_name(a.type), -1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 5, static_cast<sqlite3_int64>(a.color));
    sqlite3_bind_double(st, 6, a.x0);
    sqlite3_bind_double(st, 7, a.y0);
    sqlite3_bind_double(st, 8, a.x1);
    sqlite3_bind_double(st, 9, a.y1);
    text(10, annot::encode_path(a.points));
    text(11, a.text);
    sqlite3_bind_double(st, 12, a.width);
    sqlite3_bind_int(st, 13, a.opacity);
    if (sqlite3_step(st) != SQLITE_DONE) return false;
  }
  return true;
}

}  // namespace

bool AnnotationStore::add(const QString& docHash, const annot::Annotation& a) {
  if (!db.isOpen()) return false;
  QSqlQuery q(db);
  q.prepare(QString::fromLatin1(kUpsert));
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

bool AnnotationStore::addAll(const QString& docHash, const std::vector<annot::Annotation>& list) {
  sqlite3* handle = storedb::sqliteHandle(db);
  if (!handle) return false;
  if (list.empty()) return true;
  if (!db.transaction()) return false;
  if (upsertRows(handle, storedb::nonNull(docHash).toUtf8(), list) && db.commit()) return true;
  db.rollback();
  return false;
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
  // Read through the driver's own SQLite handle: QSqlQuery turns every column of every row
  // into a QVariant (text through UTF-16), which alone costs more than the read itself when a
  // document holds thousands of annotations. The rows are UTF-8 already, as the model wants.
  sqlite3* handle = storedb::sqliteHandle(db);
  if (!handle) return out;
  sqlite3_stmt* raw = nullptr;
  const int prepared = sqlite3_prepare_v2(
      handle,
      "SELECT id,page,type,color,x0,y0,x1,y1,path,body,width,opacity "
      "FROM annotations WHERE doc_hash=? ORDER BY page, rowid",
      -1, &raw, nullptr);
  const Statement stmt(raw);
  if (prepared != SQLITE_OK) return out;
  const QByteArray key = docHash.toUtf8();
  sqlite3_stmt* st = stmt.get();
  sqlite3_bind_text(st, 1, key.constData(), static_cast<int>(key.size()), SQLITE_STATIC);
  const auto text = [st](int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(st, col)))
             : std::string_view();
  };
  const auto isNull = [st](int col) { return sqlite3_column_type(st, col) == SQLITE_NULL; };
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    annot::Annotation a;
    a.id = std::string(text(0));
    a.page = static_cast<int>(sqlite3_column_int64(st, 1));
    a.type = annot::type_from_name(text(2)).value_or(annot::AnnotType::Highlight);
    a.color = static_cast<uint32_t>(sqlite3_column_int64(st, 3));
    a.x0 = sqlite3_column_double(st, 4);
    a.y0 = sqlite3_column_double(st, 5);
    a.x1 = sqlite3_column_double(st, 6);
    a.y1 = sqlite3_column_double(st, 7);
    if (!isNull(8)) a.points = annot::decode_path(text(8));
    if (!isNull(9)) a.text = std::string(text(9));
    if (!isNull(10)) a.width = sqlite3_column_double(st, 10);
    if (!isNull(11)) a.opacity = static_cast<uint8_t>(sqlite3_column_int64(st, 11) & 0xff);
    out.push_back(std::move(a));
  }
  if (rc != SQLITE_DONE) out.clear();  // a failed read gives nothing rather than a part
  return out;
}

}  // namespace quorvel::desktop
