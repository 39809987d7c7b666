// Autosave and crash recovery as a user meets them: the snapshot files of the open tabs, the
// question at the next start and what each answer does, a normal close, the folder's modes,
// a folder that is not ours, and a snapshot whose write is cut short.
#include <QDir>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "FakeDocument.h"
#include "core/engine.h"
#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

QString recoveryFolder() { return QDir::tempPath() + QStringLiteral("/quorvel-recovery"); }

QStringList filesIn(const QString& dir) {
  QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  return names;
}

int modeOf(const QString& path) {
  struct stat st {};
  if (lstat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

QByteArray bytesOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pagesOf(const QString& path) {
  const std::string bytes = read_file(path.toStdString());
  auto doc = quorvel::make_engine(quorvel::EngineKind::Pdfium)->open(as_bytes(bytes), {});
  return doc ? doc->page_count() : -1;
}

void putFile(const QString& path, const std::string& data) {
  QVERIFY(write_file(path.toStdString(), data));
}

// A document whose save is cut off half-way, as a crash or a full disk leaves it.
class CutShortSave : public FakeDocument {
 public:
  using FakeDocument::FakeDocument;
  bool save_as(const std::string& path, const std::vector<quorvel::annot::Annotation>&) override {
    write_file(path, "%PDF-1.7\n1 0 obj\n<< /Type /Cat");
    return false;
  }
};

}  // namespace

class MainWindowRecoveryTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString docs[3];

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    docs[0] = writeTestFile(dir, "one.pdf", text_pdf({"a"}));
    docs[1] = writeTestFile(dir, "two.pdf", text_pdf({"a", "b"}));
    docs[2] = writeTestFile(dir, "three.pdf", text_pdf({"a", "b", "c"}));
  }

  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
    const QString folder = recoveryFolder();
    if (QFileInfo(folder).isSymLink())
      QFile::remove(folder);
    else
      QDir(folder).removeRecursively();
  }

  void tabsAreSnapshottedByTheirPlace() {
    ::umask(022);
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();  // nothing left from before: settled at once
    for (const QString& d : docs) w.openFile(d);
    QCOMPARE(p.tabs()->count(), 3);
    // A folder of ours that others may read is closed before anything goes into it.
    QVERIFY(QDir().mkpath(recoveryFolder()));
    QCOMPARE(::chmod(QFile::encodeName(recoveryFolder()).constData(), 0755), 0);

    w.autosaveSnapshot();
    const QString folder = recoveryFolder();
    QCOMPARE(filesIn(folder), (QStringList{"rec-0.pdf", "rec-0.txt", "rec-1.pdf", "rec-1.txt", "rec-2.pdf", "rec-2.txt"}));
    QCOMPARE(modeOf(folder), 0700);
    for (const QString& f : filesIn(folder)) QCOMPARE(modeOf(folder + "/" + f), 0600);
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(pagesOf(QStringLiteral("%1/rec-%2.pdf").arg(folder).arg(i)), i + 1);
      QCOMPARE(QString::fromUtf8(bytesOf(QStringLiteral("%1/rec-%2.txt").arg(folder).arg(i))), docs[i]);
    }

    // Closing the second tab: the next tick rewrites places 0 and 1; the third pair stays.
    const QByteArray oldThird = bytesOf(folder + "/rec-2.pdf");
    emit p.tabs()->tabCloseRequested(1);
    w.autosaveSnapshot();
    QCOMPARE(pagesOf(folder + "/rec-0.pdf"), 1);
    QCOMPARE(pagesOf(folder + "/rec-1.pdf"), 3);
    QCOMPARE(QString::fromUtf8(bytesOf(folder + "/rec-1.txt")), docs[2]);
    QCOMPARE(bytesOf(folder + "/rec-2.pdf"), oldThird);
    QCOMPARE(QString::fromUtf8(bytesOf(folder + "/rec-2.txt")), docs[2]);
    QCOMPARE(filesIn(folder).size(), 6);
  }

  void intervalSetting_data() {
    QTest::addColumn<QVariant>("minutes");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("active");
    QTest::newRow("default") << QVariant() << 120000 << true;
    QTest::newRow("three") << QVariant(3) << 180000 << true;
    QTest::newRow("off") << QVariant(0) << 60000 << false;
    QTest::newRow("negative") << QVariant(-4) << 60000 << false;
  }
  void intervalSetting() {
    QFETCH(QVariant, minutes);
    if (minutes.isValid()) QSettings().setValue(QStringLiteral("autosave/intervalMin"), minutes);
    MainWindow w;
    QTimer* autosave = nullptr;
    for (QTimer* t : w.findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
      if (t->interval() % 60000 == 0 && t->interval() > 0) autosave = t;
    QVERIFY(autosave);
    QTEST(autosave->interval(), "interval");
    QTEST(autosave->isActive(), "active");
  }

  // The copies an earlier run left: the question counts the PDFs; No deletes every file of
  // the folder, Yes opens each copy in a tab and keeps the files until a normal close.
  void answersToTheQuestion_data() {
    QTest::addColumn<int>("lang");
    QTest::addColumn<bool>("yes");
    QTest::newRow("no") << 0 << false;
    QTest::newRow("yes, in English") << 1 << true;
  }
  void answersToTheQuestion() {
    QFETCH(int, lang);
    QFETCH(bool, yes);
    LangGuard guard(lang);
    const QString folder = recoveryFolder();
    QVERIFY(QDir().mkpath(folder));
    putFile(folder + "/rec-0.pdf", text_pdf({"x", "y"}));
    putFile(folder + "/rec-0.txt", "/somewhere/a.pdf");
    putFile(folder + "/rec-1.pdf", text_pdf({"x", "y", "z"}));
    putFile(folder + "/notes.txt", "not ours");
    putFile(folder + "/rec-2.pdf.tmp", "%PDF-1.7\n cut short");

    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answerer({pressButton(yes ? QMessageBox::Yes : QMessageBox::No)});
    // The window asks by itself shortly after it was built.
    QTRY_COMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, lang ? QStringLiteral("Recovery") : QStringLiteral("Восстановление"));
    QCOMPARE(answerer.seen[0].text,
             lang ? QStringLiteral("Autosaved copies (2) from the previous session were found.\nOpen them?")
                  : QStringLiteral("Найдены автосохранённые копии (2) после прошлого сеанса.\nОткрыть их?"));
    if (!yes) {
      QTRY_VERIFY(filesIn(folder).isEmpty());
      QCOMPARE(p.tabs()->count(), 0);
      return;
    }
    QTRY_COMPARE(p.tabs()->count(), 2);
    QStringList opened{p.tabs()->tabToolTip(0), p.tabs()->tabToolTip(1)};
    opened.sort();
    QCOMPARE(opened, (QStringList{folder + "/rec-0.pdf", folder + "/rec-1.pdf"}));
    QCOMPARE(filesIn(folder).size(), 5);
    // A second check in the same run asks nothing.
    w.checkRecovery();
    QCOMPARE(answerer.seen.size(), 1);
    // A normal close empties the folder, the copies open in tabs included.
    w.close();
    QVERIFY(filesIn(folder).isEmpty());
    QCOMPARE(answerer.unexpected, 0);
  }

  void closingBeforeTheAnswerKeepsTheEarlierCopies() {
    const QString folder = recoveryFolder();
    QVERIFY(QDir().mkpath(folder));
    putFile(folder + "/rec-0.pdf", text_pdf({"x"}));
    MainWindow w;
    w.close();
    QCOMPARE(filesIn(folder), QStringList{"rec-0.pdf"});
  }

  void questionWaitsForAnotherDialog() {
    const QString folder = recoveryFolder();
    QVERIFY(QDir().mkpath(folder));
    putFile(folder + "/rec-0.pdf", text_pdf({"x"}));
    MainWindow w;
    bool keptDuringOther = false;
    ModalAnswerer answerer({[&](QWidget* other) {
                              // The check comes due while a command's dialog is open.
                              QTimer::singleShot(0, other, [&, other] {
                                w.checkRecovery();
                                keptDuringOther = QFile::exists(folder + "/rec-0.pdf") &&
                                                  QApplication::activeModalWidget() == other;
                                qobject_cast<QDialog*>(other)->accept();
                              });
                            },
                            pressButton(QMessageBox::No)});
    QMessageBox other(QMessageBox::Information, QStringLiteral("Other"), QStringLiteral("busy"),
                      QMessageBox::Ok, &w);
    other.exec();
    QVERIFY(keptDuringOther);
    QTRY_COMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("Other"));
    QCOMPARE(answerer.seen[1].title, QStringLiteral("Восстановление"));
    QTRY_VERIFY(filesIn(folder).isEmpty());
  }

  // A folder under the fixed name that is a link, or belongs to someone else, is never read,
  // written or emptied.
  void foreignFolderIsLeftAlone_data() {
    QTest::addColumn<bool>("link");
    QTest::newRow("symbolic link") << true;
    if (geteuid() == 0) QTest::newRow("another user's") << false;
  }
  void foreignFolderIsLeftAlone() {
    QFETCH(bool, link);
    TempDir elsewhere;
    const QString target = QString::fromStdString(elsewhere.path()) + "/target";
    const QString folder = link ? target : recoveryFolder();
    QVERIFY(QDir().mkpath(folder));
    putFile(folder + "/rec-0.pdf", text_pdf({"theirs"}));
    putFile(folder + "/keep.txt", "keep");
    if (link) {
      QVERIFY(QFile::link(target, recoveryFolder()));
    } else {
      QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    }
    const QByteArray before = bytesOf(folder + "/rec-0.pdf");
    {
      MainWindow w;
      ModalAnswerer answerer({});
      w.checkRecovery();
      w.openFile(docs[2]);
      w.autosaveSnapshot();
      w.close();
      QCOMPARE(answerer.seen.size(), 0);
    }
    QCOMPARE(filesIn(folder), (QStringList{"keep.txt", "rec-0.pdf"}));
    QCOMPARE(bytesOf(folder + "/rec-0.pdf"), before);
    if (link) QVERIFY(QFileInfo(recoveryFolder()).isSymLink());
  }

  void cutShortSnapshotKeepsTheLastGoodOne() {
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();
    w.openFile(docs[1]);
    w.autosaveSnapshot();
    const QString folder = recoveryFolder();
    const QByteArray good = bytesOf(folder + "/rec-0.pdf");
    QCOMPARE(pagesOf(folder + "/rec-0.pdf"), 2);

    p.view(0)->setDocument(std::make_unique<CutShortSave>(5));
    w.autosaveSnapshot();
    QCOMPARE(bytesOf(folder + "/rec-0.pdf"), good);
    QCOMPARE(filesIn(folder), (QStringList{"rec-0.pdf", "rec-0.txt"}));
  }
};

QTEST_MAIN(MainWindowRecoveryTest)
#include "test_mainwindow_recovery.moc"
