#include "desktop/stores/StoreDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace quorvel::desktop::storedb {

namespace {

constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADb = 26;

// Only these two mean the bytes are bad; busy, locked or I/O errors say nothing about the file
// and must never make us move a user's data out of the way.
bool isDamage(const QSqlError& err) {
  bool ok = false;
  const int code = err.nativeErrorCode().toInt(&ok);
  if (!ok) return false;
  const int primary = code & 0xff;  // extended codes carry the primary one in the low byte
  return primary == kSqliteCorrupt || primary == kSqliteNotADb;
}

enum class Check { Sound, Damaged, Unusable };

Check quickCheck(QSqlDatabase& db) {
  QSqlQuery q(db);
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("PRAGMA quick_check"))) {
    return isDamage(q.lastError()) ? Check::Damaged : Check::Unusable;
  }
  const bool sound = q.next() && q.value(0).toString() == QLatin1String("ok");
  q.finish();
  return sound ? Check::Sound : Check::Damaged;
}

// The WAL and shared-memory files belong to the damaged file and go with it, so a later
// recovery attempt sees the same state.
QString moveAside(const QString& path) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString target = path + QStringLiteral(".damaged-") + stamp;
  for (int n = 2; QFile::exists(target) || QFile::exists(target + QStringLiteral("-wal")); ++n) {
    target = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
  }
  if (!QFile::rename(path, target)) return QString();
  for (const char* suffix : {"-wal", "-shm"}) {
    const QString side = path + QLatin1String(suffix);
    if (QFile::exists(side)) QFile::rename(side, target + QLatin1String(suffix));
  }
  return target;
}

// The recent paths and the annotation texts are the user's alone: the folder is closed to others
// and the files, with the WAL's two, readable by the owner only, also when an earlier version
// made them wider. The file is made before the driver opens it, so SQLite (which gives the WAL
// files the database's mode) never creates it with the umask's 0644.
void makePrivate(const QString& path) {
  const QString dir = QFileInfo(path).absolutePath();
  const bool ownFolder = QFileInfo(dir).ownerId() == ::getuid() && dir != QDir::homePath() &&
                         dir != QDir::tempPath() && dir != QDir::rootPath();
  if (ownFolder) ::chmod(QFile::encodeName(dir).constData(), 0700);
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::fchmod(fd, 0600);
    ::close(fd);
  }
  for (const char* suffix : {"-wal", "-shm"}) ::chmod(QFile::encodeName(path + QLatin1String(suffix)).constData(), 0600);
}

}  // namespace

QSqlDatabase open(const QString& name, const QString& path, QString* damagedCopy) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
  db.setDatabaseName(path);
  db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
  makePrivate(path);
  if (!db.open()) return db;

  Check check = quickCheck(db);
  if (check == Check::Sound) {
    QSqlQuery q(db);
    // Readers and the writer of the other store's connection then never block each other.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && isDamage(q.lastError())) {
      check = Check::Damaged;
    }
    q.finish();
  }
  if (check == Check::Sound) {
    // With WAL, NORMAL keeps every commit through a crash of the program and never corrupts
    // the file; only a power cut may lose the last commits. A sync per commit would make
    // each annotation stroke wait for the disk.
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    q.finish();
    return db;
  }

  db.close();
  if (check == Check::Damaged && damagedCopy) *damagedCopy = moveAside(path);
  return db;
}

void close(QSqlDatabase& db, const QString& name) {
  const QString copy = name;
  if (db.isOpen()) db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(copy);
}

sqlite3* sqliteHandle(const QSqlDatabase& db) {
  if (!db.isOpen() || !db.driver()) return nullptr;
  const QVariant v = db.driver()->handle();
  if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(v.constData());
}

QString nonNull(const QString& s) { return s.isNull() ? QStringLiteral("") : s; }

}  // namespace quorvel::desktop::storedb
