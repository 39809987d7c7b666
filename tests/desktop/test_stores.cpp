// The annotation and recent-documents stores against real database files.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>
#include <QDir>
#include <sys/stat.h>

#include "desktop/stores/AnnotationStore.h"
#include "desktop/stores/RecentsStore.h"
#include "support_db.h"
#include "common/time_bound.h"

using quorvel::annot::Annotation;
using quorvel::annot::AnnotType;
using quorvel::desktop::AnnotationStore;
using quorvel::desktop::RecentEntry;
using quorvel::desktop::RecentsStore;
using quorvel::test::SqlFile;
using quorvel::test::sqlite3Cli;

namespace {

Annotation note(const std::string& id, int page, const std::string& text = {}) {
  Annotation a;
  a.id = id;
  a.page = page;
  a.type = AnnotType::Note;
  a.text = text;
  return a;
}

QStringList ids(const std::vector<Annotation>& list) {
  QStringList out;
  for (const Annotation& a : list) out << QString::fromStdString(a.id);
  return out;
}

QStringList paths(const std::vector<RecentEntry>& list) {
  QStringList out;
  for (const RecentEntry& e : list) out << e.path;
  return out;
}

// The schema that databases written before the width and opacity columns have.
const char* kOldSchema =
    "CREATE TABLE annotations (  id TEXT NOT NULL, doc_hash TEXT NOT NULL, page INTEGER NOT "
    "NULL,  type TEXT NOT NULL, color INTEGER NOT NULL,  x0 REAL, y0 REAL, x1 REAL, y1 REAL,  "
    "path TEXT, body TEXT,  PRIMARY KEY(doc_hash, id));\n";

}  // namespace

class StoresTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString db;

 private slots:
  void init() {
    // A store that leaves a connection in use, or runs a statement on a closed one, says so
    // through a Qt warning.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QVERIFY(dir.isValid());
    static int n = 0;
    db = dir.filePath(QStringLiteral("quorvel-%1.db").arg(++n));
  }

  // Kept first: the counters start with the process.
  void connectionNamesCountPerClass() {
    {
      AnnotationStore a1(db);
      RecentsStore r1(db);
      AnnotationStore a2(db);
      QVERIFY(a1.isOpen() && r1.isOpen() && a2.isOpen());
      const QStringList names = QSqlDatabase::connectionNames();
      QVERIFY2(names.contains(QStringLiteral("quorvel-annot-1")), qPrintable(names.join(',')));
      QVERIFY(names.contains(QStringLiteral("quorvel-recents-1")));
      QVERIFY(names.contains(QStringLiteral("quorvel-annot-2")));
    }
    QVERIFY(QSqlDatabase::connectionNames().isEmpty());
    RecentsStore r2(db);
    QVERIFY(QSqlDatabase::connectionNames().contains(QStringLiteral("quorvel-recents-2")));
  }

  void freshFileGetsBothTablesOnce() {
    {
      AnnotationStore a(db);
      RecentsStore r(db);
      QVERIFY(a.isOpen() && r.isOpen());
    }
    SqlFile f(db);
    const QList<QStringList> schemaBefore =
        f.rows(QStringLiteral("SELECT name, sql FROM sqlite_master ORDER BY name"));
    // name, declared type, NOT NULL, default, position in the primary key
    const QList<QStringList> expected = {
        {"id", "TEXT", "1", "<null>", "2"},       {"doc_hash", "TEXT", "1", "<null>", "1"},
        {"page", "INTEGER", "1", "<null>", "0"},  {"type", "TEXT", "1", "<null>", "0"},
        {"color", "INTEGER", "1", "<null>", "0"}, {"x0", "REAL", "0", "<null>", "0"},
        {"y0", "REAL", "0", "<null>", "0"},       {"x1", "REAL", "0", "<null>", "0"},
        {"y1", "REAL", "0", "<null>", "0"},       {"path", "TEXT", "0", "<null>", "0"},
        {"body", "TEXT", "0", "<null>", "0"},     {"width", "REAL", "0", "1.0", "0"},
        {"opacity", "INTEGER", "0", "255", "0"},
    };
    QCOMPARE(f.rows(QStringLiteral(
                 "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info('annotations')")),
             expected);
    const QList<QStringList> recents = {{"path", "TEXT", "0", "1"},
                                        {"title", "TEXT", "0", "0"},
                                        {"opened", "INTEGER", "0", "0"}};
    QCOMPARE(f.rows(QStringLiteral(
                 "SELECT name, type, \"notnull\", pk FROM pragma_table_info('recent_documents')")),
             recents);
    // Other programs read the file: the statements stored with the tables stay these.
    QCOMPARE(f.one(QStringLiteral("SELECT sql FROM sqlite_master WHERE name='annotations'")),
             QStringLiteral("CREATE TABLE annotations (  id TEXT NOT NULL, doc_hash TEXT NOT "
                            "NULL, page INTEGER NOT NULL,  type TEXT NOT NULL, color INTEGER NOT "
                            "NULL,  x0 REAL, y0 REAL, x1 REAL, y1 REAL,  path TEXT, body TEXT,  "
                            "width REAL DEFAULT 1.0, opacity INTEGER DEFAULT 255,  "
                            "PRIMARY KEY(doc_hash, id))"));
    QCOMPARE(f.one(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));

    { AnnotationStore again(db); RecentsStore againToo(db); }
    QCOMPARE(f.rows(QStringLiteral("SELECT name, sql FROM sqlite_master ORDER BY name")),
             schemaBefore);
  }

  void olderSchemaGainsWidthAndOpacity() {
    const QString made = sqlite3Cli(db, QString::fromLatin1(kOldSchema) + QStringLiteral(
        "INSERT INTO annotations VALUES ('old-1','k',2,'ink',255,NULL,NULL,NULL,NULL,"
        "'1.000,2.000;3.000,4.000','Старая');\n"
        "INSERT INTO annotations VALUES ('old-2','k',0,'rectangle',16711680,10,20,30,40,'','');\n"));
    QVERIFY2(!made.startsWith(QStringLiteral("error:")), qPrintable(made));
    for (int round = 0; round < 2; ++round) {  // the second open must find nothing to do
      AnnotationStore s(db);
      QVERIFY(s.isOpen());
      const std::vector<Annotation> got = s.load(QStringLiteral("k"));
      QCOMPARE(ids(got), (QStringList{"old-2", "old-1"}));
      QCOMPARE(got[1].width, 1.0);
      QCOMPARE(int(got[1].opacity), 255);
      QCOMPARE(got[1].type, AnnotType::Ink);
      QCOMPARE(got[1].points.size(), size_t(2));
      QCOMPARE(got[1].text, std::string("Старая"));
      QCOMPARE(got[0].x1, 30.0);
      QCOMPARE(got[0].color, 0xFF0000u);
      Annotation wide = note("new", 0);
      wide.width = 4.5;
      wide.opacity = 40;
      QVERIFY(s.add(QStringLiteral("n"), wide));
      QCOMPARE(s.load(QStringLiteral("n"))[0].width, 4.5);
    }
    SqlFile f(db);
    QCOMPARE(f.rows(QStringLiteral("SELECT name FROM pragma_table_info('annotations') "
                                   "WHERE name IN ('width','opacity')")),
             (QList<QStringList>{{"width"}, {"opacity"}}));
  }

  void addReplacesSameKeyAndIdInPlace() {
    AnnotationStore s(db);
    const QString key = QStringLiteral("doc");
    QVERIFY(s.add(key, note("a", 0, "first")));
    QVERIFY(s.add(key, note("b", 0)));
    QVERIFY(s.add(key, note("c", 0)));
    Annotation second;
    second.id = "a";
    second.page = 0;
    second.type = AnnotType::Rectangle;
    second.color = 0x00FF00;
    second.x0 = 1;
    second.y1 = 9;
    second.width = 3;
    second.opacity = 7;
    QVERIFY(s.add(key, second));
    const std::vector<Annotation> got = s.load(key);
    // One row for "a", holding only the second version, still before "b" and "c".
    QCOMPARE(ids(got), (QStringList{"a", "b", "c"}));
    QCOMPARE(got[0].type, AnnotType::Rectangle);
    QCOMPARE(got[0].text, std::string());
    QCOMPARE(got[0].color, 0x00FF00u);
    QCOMPARE(got[0].y1, 9.0);
    QCOMPARE(got[0].width, 3.0);
    QCOMPARE(int(got[0].opacity), 7);
  }

  // An import writes its annotations at once: one transaction, a replaced id keeping its
  // place, every field as a single add writes it, and far less than a second for 10,000.
  void addAllWritesManyInOneTransaction() {
    AnnotationStore s(db);
    const QString key = QStringLiteral("doc");
    QVERIFY(s.add(key, note("first", 0, "old")));
    std::vector<Annotation> many;
    for (int i = 0; i < 10000; ++i) many.push_back(note("n" + std::to_string(i), 0, "текст"));
    Annotation ink;
    ink.id = "first";
    ink.type = AnnotType::Ink;
    ink.color = 0x123456;
    ink.points = {{1.5, 2}, {3, 4.25}};
    ink.text = "новый";
    ink.width = 2.5;
    ink.opacity = 9;
    many.push_back(ink);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(s.addAll(key, many));
    QVERIFY2(clock.elapsed() < quorvel::test::time_bound_ms(500), qPrintable(QString::number(clock.elapsed())));
    const std::vector<Annotation> got = s.load(key);
    QCOMPARE(got.size(), size_t(10001));
    QCOMPARE(got[0].id, std::string("first"));
    QCOMPARE(got[0].type, AnnotType::Ink);
    QCOMPARE(got[0].color, 0x123456u);
    QCOMPARE(got[0].points.size(), size_t(2));
    QCOMPARE(got[0].points[1].y, 4.25);
    QCOMPARE(got[0].text, std::string("новый"));
    QCOMPARE(got[0].width, 2.5);
    QCOMPARE(int(got[0].opacity), 9);
    QCOMPARE(got[10000].id, std::string("n9999"));
    QCOMPARE(got[10000].text, std::string("текст"));
    QVERIFY(s.addAll(key, {}));
    QVERIFY(!AnnotationStore(dir.filePath(QStringLiteral("no/such/folder/x.db"))).addAll(key, many));
  }

  void loadOrdersByPageThenInsertion() {
    AnnotationStore s(db);
    const QString key = QStringLiteral("doc");
    // Ids chosen so that neither id order nor the primary key's index order is the answer.
    for (const auto& [id, page] : std::vector<std::pair<std::string, int>>{
             {"m", 3}, {"z", 1}, {"b", 1}, {"y", 0}, {"a", 3}, {"c", 1}}) {
      QVERIFY(s.add(key, note(id, page)));
    }
    QVERIFY(s.remove(key, QStringLiteral("b")));
    QVERIFY(s.add(key, note("b", 1)));  // removed and added again: now the newest of page 1
    QCOMPARE(ids(s.load(key)), (QStringList{"y", "z", "c", "b", "m", "a"}));
  }

  void removeIsTrueUnlessTheStatementCannotRun() {
    AnnotationStore s(db);
    const QString key = QStringLiteral("doc");
    QVERIFY(s.add(key, note("keep", 0)));
    QVERIFY(s.add(key, note("drop", 0)));
    QVERIFY(s.remove(key, QStringLiteral("absent")));
    QVERIFY(s.remove(QStringLiteral("other-doc"), QStringLiteral("keep")));
    QVERIFY(s.remove(key, QStringLiteral("drop")));
    QCOMPARE(ids(s.load(key)), QStringList{"keep"});

    AnnotationStore closed(dir.filePath(QStringLiteral("no/such/folder/x.db")));
    QVERIFY(!closed.remove(key, QStringLiteral("keep")));
  }

  void fieldsRoundTrip() {
    AnnotationStore s(db);
    const QString key = QStringLiteral("doc");
    Annotation ink;
    ink.id = "ink-1";
    ink.page = 7;
    ink.type = AnnotType::Ink;
    ink.color = 0x123456;
    ink.points = {{1.23456, -3.14159}, {2.0004, 1e6 + 0.0006}, {-0.5, 0}};
    ink.text = "Заметка ✓ \"quoted\" ';--";
    ink.width = 2.5;
    ink.opacity = 128;
    QVERIFY(s.add(key, ink));
    Annotation mark;
    mark.id = "";  // an empty id is a value like any other
    mark.x0 = 10.25;
    mark.y0 = -20.5;
    mark.x1 = 30;
    mark.y1 = 40.125;
    QVERIFY(s.add(key, mark));

    SqlFile f(db);
    QCOMPARE(f.rows(QStringLiteral(
                 "SELECT id, typeof(id), type, color, path, typeof(path), body FROM annotations "
                 "ORDER BY rowid")),
             (QList<QStringList>{
                 {"ink-1", "text", "ink", "1193046", "1.235,-3.142;2.000,1000000.001;-0.500,0.000",
                  "text", QString::fromUtf8("Заметка ✓ \"quoted\" ';--")},
                 {"", "text", "highlight", "16771899", "", "text", ""}}));

    const std::vector<Annotation> got = s.load(key);
    QCOMPARE(got.size(), size_t(2));
    QCOMPARE(got[0].id, std::string(""));
    QCOMPARE(got[0].type, AnnotType::Highlight);
    QVERIFY(got[0].points.empty());
    QCOMPARE(got[0].x0, 10.25);
    QCOMPARE(got[0].y0, -20.5);
    QCOMPARE(got[0].y1, 40.125);
    QCOMPARE(got[0].color, 0xFFEB3Bu);
    const Annotation& back = got[1];
    QCOMPARE(back.page, 7);
    QCOMPARE(back.type, AnnotType::Ink);
    QCOMPARE(back.color, 0x123456u);
    QCOMPARE(back.points.size(), size_t(3));
    QCOMPARE(back.points[0].x, 1.235);
    QCOMPARE(back.points[0].y, -3.142);
    QCOMPARE(back.points[1].y, 1000000.001);
    QCOMPARE(back.text, ink.text);
    QCOMPARE(back.width, 2.5);
    QCOMPARE(int(back.opacity), 128);

    // Every type travels by its name.
    for (int t = 0; t <= 10; ++t) {
      Annotation a;
      a.id = "t" + std::to_string(t);
      a.type = static_cast<AnnotType>(t);
      QVERIFY(s.add(QStringLiteral("types"), a));
    }
    const std::vector<Annotation> typed = s.load(QStringLiteral("types"));
    QCOMPARE(typed.size(), size_t(11));
    for (int t = 0; t <= 10; ++t) QCOMPARE(int(typed[t].type), t);
    QCOMPARE(f.one(QStringLiteral("SELECT group_concat(type, ',') FROM (SELECT type FROM "
                                  "annotations WHERE doc_hash='types' ORDER BY rowid)")),
             QStringLiteral("highlight,ink,note,underline,strikeout,squiggly,rectangle,ellipse,"
                            "line,arrow,freetext"));
  }

  void rowsFromOtherWritersLoadWithDefaults_data() {
    QTest::addColumn<QString>("values");  // type, x0, path, body, width, opacity
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("x0");
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("body");
    QTest::addColumn<double>("width");
    QTest::addColumn<int>("opacity");
    QTest::newRow("unknown type") << "'Ink', 5, '1,2', 'b', 2.0, 10" << 0 << 5.0 << 1 << "b" << 2.0 << 10;
    QTest::newRow("empty type") << "'', 5, '', '', 2.0, 10" << 0 << 5.0 << 0 << "" << 2.0 << 10;
    QTest::newRow("all NULL") << "'arrow', NULL, NULL, NULL, NULL, NULL" << 9 << 0.0 << 0 << "" << 1.0 << 255;
    QTest::newRow("opacity beyond a byte") << "'note', 0, '', '', 1.5, 511" << 2 << 0.0 << 0 << "" << 1.5 << 255;
    QTest::newRow("opacity 256") << "'note', 0, '', '', 1.5, 256" << 2 << 0.0 << 0 << "" << 1.5 << 0;
    QTest::newRow("odd path") << "'ink', 0, '7;8,9;;x,y', '', 1, 1" << 1 << 0.0 << 2 << "" << 1.0 << 1;
  }
  void rowsFromOtherWritersLoadWithDefaults() {
    QFETCH(QString, values);
    { AnnotationStore create(db); }
    SqlFile f(db);
    QVERIFY(f.exec(QStringLiteral("INSERT INTO annotations (id,doc_hash,page,color,type,x0,path,"
                                  "body,width,opacity) VALUES ('r','k',0,16771899,") +
                   values + QLatin1Char(')')));
    AnnotationStore s(db);
    const std::vector<Annotation> got = s.load(QStringLiteral("k"));
    QCOMPARE(got.size(), size_t(1));
    QTEST(int(got[0].type), "type");
    QTEST(got[0].x0, "x0");
    QTEST(int(got[0].points.size()), "points");
    QTEST(QString::fromStdString(got[0].text), "body");
    QTEST(got[0].width, "width");
    QTEST(int(got[0].opacity), "opacity");
  }

  void documentKeysNeverMix() {
    AnnotationStore s(db);
    QVERIFY(s.add(QStringLiteral("A"), note("same", 0, "in A")));
    QVERIFY(s.add(QStringLiteral("B"), note("same", 1, "in B")));
    QVERIFY(s.add(QStringLiteral("B"), note("only-b", 0)));
    QVERIFY(s.add(QStringLiteral("a"), note("lower", 0)));  // keys are compared exactly
    QCOMPARE(ids(s.load(QStringLiteral("A"))), QStringList{"same"});
    QCOMPARE(s.load(QStringLiteral("A"))[0].text, std::string("in A"));
    QCOMPARE(ids(s.load(QStringLiteral("B"))), (QStringList{"only-b", "same"}));
    QVERIFY(s.load(QStringLiteral("C")).empty());
    QVERIFY(s.load(QString()).empty());
    QVERIFY(s.remove(QStringLiteral("A"), QStringLiteral("same")));
    QCOMPARE(ids(s.load(QStringLiteral("B"))), (QStringList{"only-b", "same"}));
  }

  void recentsNewestFirstOnePerPath() {
    RecentsStore r(db);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    QVERIFY(r.add(QStringLiteral("/d/a.pdf"), QStringLiteral("A")));
    QVERIFY(r.add(QStringLiteral("/d/b.pdf"), QString()));
    QVERIFY(r.add(QStringLiteral("/d/c.pdf"), QStringLiteral("C")));
    QVERIFY(r.add(QStringLiteral("/d/a.pdf"), QStringLiteral("A again")));
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    // All within a second or so: the later add still comes first.
    const std::vector<RecentEntry> all = r.list(-1);
    QCOMPARE(paths(all), (QStringList{"/d/a.pdf", "/d/c.pdf", "/d/b.pdf"}));
    QCOMPARE(all[0].title, QStringLiteral("A again"));
    QVERIFY(all[2].title.isEmpty());

    SqlFile f(db);
    QCOMPARE(f.one(QStringLiteral("SELECT count(*) FROM recent_documents WHERE path='/d/a.pdf'")),
             QStringLiteral("1"));
    QCOMPARE(f.one(QStringLiteral("SELECT typeof(title) FROM recent_documents WHERE path='/d/b.pdf'")),
             QStringLiteral("null"));
    const qint64 opened = f.one(QStringLiteral("SELECT max(opened) FROM recent_documents")).toLongLong();
    QVERIFY(opened >= before && opened <= after);

    // The time decides before the order of writing does.
    QVERIFY(f.exec(QStringLiteral("UPDATE recent_documents SET opened=CASE path "
                                  "WHEN '/d/a.pdf' THEN 100 WHEN '/d/b.pdf' THEN 300 ELSE 200 END")));
    QCOMPARE(paths(r.list(12)), (QStringList{"/d/b.pdf", "/d/c.pdf", "/d/a.pdf"}));
  }

  void recentsListLimits_data() {
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("count");
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("fewer than stored") << 3 << 3;
    QTest::newRow("more than stored") << 12 << 5;
    QTest::newRow("negative gives all") << -1 << 5;
  }
  void recentsListLimits() {
    QFETCH(int, limit);
    QFETCH(int, count);
    RecentsStore r(db);
    for (int i = 0; i < 5; ++i) QVERIFY(r.add(QStringLiteral("/f%1.pdf").arg(i), QString()));
    const std::vector<RecentEntry> got = r.list(limit);
    QCOMPARE(int(got.size()), count);
    if (count > 0) QCOMPARE(got[0].path, QStringLiteral("/f4.pdf"));
  }

  void recentsClear() {
    RecentsStore r(db);
    QVERIFY(r.add(QStringLiteral("/x.pdf"), QStringLiteral("X")));
    r.clear();
    QVERIFY(r.list(-1).empty());
    QVERIFY(r.add(QStringLiteral("/y.pdf"), QStringLiteral("Y")));
    QCOMPARE(paths(r.list(-1)), QStringList{"/y.pdf"});
  }

  void filesAndFolderAreTheOwnersAlone() {
    // A folder and files left wider by an earlier version are closed too.
    const QString folder = dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/quorvel.db");
    const auto mode = [](const QString& p) {
      struct stat st{};
      return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    const auto check = [&] {
      QCOMPARE(mode(folder), 0700);
      QCOMPARE(mode(path), 0600);
      QCOMPARE(mode(path + QStringLiteral("-wal")), 0600);
      QCOMPARE(mode(path + QStringLiteral("-shm")), 0600);
    };
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    AnnotationStore annotations(path);
    QVERIFY(annotations.isOpen());
    QVERIFY(annotations.add(QStringLiteral("k"), note("a", 0, "private note")));
    check();
    // Widened while the first store holds the files open; the next store closes them again.
    for (const QString& p : {folder, path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")})
      QVERIFY(::chmod(QFile::encodeName(p).constData(), 0755) == 0);
    RecentsStore recents(path);
    QVERIFY(recents.isOpen());
    recents.add(QStringLiteral("/home/u/secret.pdf"), QStringLiteral("secret"));
    check();
  }

  void databaseInMissingFolderGivesClosedStores() {
    const QString path = dir.filePath(QStringLiteral("missing/deeper/quorvel.db"));
    AnnotationStore a(path);
    RecentsStore r(path);
    QVERIFY(!a.isOpen());
    QVERIFY(!r.isOpen());
    QVERIFY(!a.add(QStringLiteral("k"), note("x", 0)));
    QVERIFY(!a.remove(QStringLiteral("k"), QStringLiteral("x")));
    QVERIFY(a.load(QStringLiteral("k")).empty());
    QVERIFY(!r.add(QStringLiteral("/p.pdf"), QStringLiteral("P")));
    QVERIFY(r.list(-1).empty());
    r.clear();
    QVERIFY(a.damagedCopy().isEmpty() && r.damagedCopy().isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing"))));
  }

  void damagedFileIsMovedAsideNotEmptied_data() {
    QTest::addColumn<bool>("wasDatabase");
    QTest::newRow("broken pages") << true;
    QTest::newRow("not a database") << false;
  }
  void damagedFileIsMovedAsideNotEmptied() {
    QFETCH(bool, wasDatabase);
    if (wasDatabase) {
      {
        AnnotationStore s(db);
        for (int i = 0; i < 300; ++i) {
          QVERIFY(s.add(QStringLiteral("k"), note("n" + std::to_string(i), i % 5, std::string(200, 'x'))));
        }
      }
      QFile file(db);
      QVERIFY(file.open(QIODevice::ReadWrite));
      QVERIFY(file.size() > 6 * 4096);
      file.seek(2 * 4096);  // pages 3 and 4: the table's and the key index's first pages
      file.write(QByteArray(2 * 4096, '\x5a'));
    } else {
      QFile file(db);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QByteArray("Заметки, не база данных\n").repeated(200));
    }
    const QByteArray bytes = [&] { QFile f(db); f.open(QIODevice::ReadOnly); return f.readAll(); }();

    AnnotationStore s(db);
    QVERIFY(!s.isOpen());
    QVERIFY(!s.add(QStringLiteral("k"), note("new", 0)));
    const QString moved = s.damagedCopy();
    QVERIFY2(moved.startsWith(db + QStringLiteral(".damaged-")), qPrintable(moved));
    QVERIFY(!QFile::exists(db));
    QFile kept(moved);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), bytes);

    // The next store starts a new file and leaves the moved one alone.
    RecentsStore r(db);
    QVERIFY(r.isOpen());
    QVERIFY(r.damagedCopy().isEmpty());
    QVERIFY(r.add(QStringLiteral("/a.pdf"), QString()));
    AnnotationStore again(db);
    QVERIFY(again.isOpen());
    QVERIFY(again.load(QStringLiteral("k")).empty());
    QVERIFY(QFile::exists(moved));
  }

  void busyFileIsNotMovedAside() {
    const QString made = sqlite3Cli(db, QString::fromLatin1(kOldSchema));
    QVERIFY2(!made.startsWith(QStringLiteral("error:")), qPrintable(made));
    SqlFile holder(db);
    QVERIFY(holder.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
    QVERIFY(holder.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    {
      AnnotationStore s(db);  // waits out its busy timeout
      QVERIFY(!s.isOpen());
      QVERIFY(s.damagedCopy().isEmpty());
    }
    QVERIFY(QFile::exists(db));
    QVERIFY(holder.exec(QStringLiteral("COMMIT")));
    QCOMPARE(holder.one(QStringLiteral("PRAGMA quick_check")), QStringLiteral("ok"));
  }

  void twoStoresShareTheFileWithAReaderOpen() {
    AnnotationStore a(db);
    RecentsStore r(db);
    SqlFile reader(db);
    // A reader in the middle of a transaction: under a rollback journal every write would wait
    // out the busy timeout and fail.
    QVERIFY(reader.exec(QStringLiteral("BEGIN")));
    QCOMPARE(reader.one(QStringLiteral("SELECT count(*) FROM annotations")), QStringLiteral("0"));
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 20; ++i) {
      QVERIFY(a.add(QStringLiteral("k"), note("n" + std::to_string(i), 0)));
      QVERIFY(r.add(QStringLiteral("/r%1.pdf").arg(i), QString()));
    }
    QVERIFY2(t.elapsed() < quorvel::test::time_bound_ms(3000), qPrintable(QString::number(t.elapsed())));
    QCOMPARE(a.load(QStringLiteral("k")).size(), size_t(20));
    QCOMPARE(r.list(-1).size(), size_t(20));
    QVERIFY(reader.exec(QStringLiteral("COMMIT")));
    // Each add was committed on its own, so a fresh look sees them all.
    QCOMPARE(reader.one(QStringLiteral("SELECT count(*) FROM annotations")), QStringLiteral("20"));
  }
};

QTEST_GUILESS_MAIN(StoresTest)
#include "test_stores.moc"
