// A writer killed in the middle of its adds leaves a sound database holding exactly the
// annotations it had added, in order.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "desktop/stores/AnnotationStore.h"
#include "support_db.h"

using quorvel::annot::AnnotType;
using quorvel::desktop::AnnotationStore;
using quorvel::test::SqlFile;

class DurabilityTest : public QObject {
  Q_OBJECT

 private slots:
  void killedWriterLeavesAPrefix_data() {
    QTest::addColumn<int>("killAfter");
    QTest::newRow("early") << 5;
    QTest::newRow("middle") << 400;
    QTest::newRow("late") << 800;
  }
  void killedWriterLeavesAPrefix() {
    QFETCH(int, killAfter);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("quorvel.db"));
    const QString key = QStringLiteral("0123abcd");

    QProcess child;
    child.setProgram(QCoreApplication::applicationDirPath() +
                     QStringLiteral("/quorvel_test_store_writer"));
    child.setArguments({db, key, QStringLiteral("1000")});
    child.start();
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    int confirmed = 0;
    QByteArray pending;
    const auto takeLines = [&] {
      pending += child.readAllStandardOutput();
      qsizetype nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        confirmed = pending.left(nl).trimmed().toInt();
        pending.remove(0, nl + 1);
      }
    };
    while (confirmed < killAfter && child.waitForReadyRead(20000)) takeLines();
    const int seenBeforeKill = confirmed;
    child.kill();  // SIGKILL: no destructor, no checkpoint, possibly inside a write
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY2(seenBeforeKill >= killAfter,
             qPrintable(QStringLiteral("writer stopped at %1").arg(seenBeforeKill)));
    takeLines();  // what it printed before the signal landed

    // The killed writer never checkpointed: what it committed is in the write-ahead log.
    QVERIFY(QFile::exists(db + QStringLiteral("-wal")));
    {
      SqlFile check(db);
      QCOMPARE(check.one(QStringLiteral("PRAGMA quick_check")), QStringLiteral("ok"));
    }
    AnnotationStore store(db);
    QVERIFY(store.isOpen());
    QVERIFY(store.damagedCopy().isEmpty());
    const auto got = store.load(key);
    // Everything the writer had confirmed, perhaps the one it was killed after, nothing else.
    QVERIFY2(int(got.size()) >= confirmed && int(got.size()) <= confirmed + 1 && got.size() < 1000,
             qPrintable(QStringLiteral("%1 rows, %2 confirmed").arg(got.size()).arg(confirmed)));
    qInfo("writer killed after %d of 1000 adds", int(got.size()));
    for (int i = 0; i < int(got.size()); ++i) {
      const auto& a = got[i];
      QCOMPARE(QString::fromStdString(a.id), QStringLiteral("w%1").arg(i, 4, 10, QLatin1Char('0')));
      QCOMPARE(a.type, AnnotType::Ink);
      QCOMPARE(a.points.size(), size_t(2));
      QCOMPARE(a.points[1].x, double(i) + 2);
      QCOMPARE(a.text, "note " + std::to_string(i));
    }
    // The store goes on writing to the recovered file.
    quorvel::annot::Annotation next;
    next.id = "after";
    next.page = 5000;
    QVERIFY(store.add(key, next));
    QCOMPARE(store.load(key).back().id, std::string("after"));
  }
};

QTEST_GUILESS_MAIN(DurabilityTest)
#include "test_stores_durability.moc"
