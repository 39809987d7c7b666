// Autosave and crash recovery as a user meets them: the snapshot files of the open tabs, the
// question at the next start and what each answer does, a normal close, the folders' modes,
// windows that run and crash side by side, a folder that is not ours, recovered documents and
// what a normal close keeps of them, and a snapshot whose write is cut short.
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "FakeDocument.h"
#include "core/engine.h"
#include "desktop/stores/RecentsStore.h"
#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

QString primaryRoot() { return QDir::tempPath() + QStringLiteral("/quorvel-recovery"); }
QString fallbackRoot() {
  return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/recovery");
}

QStringList filesIn(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The folders of the windows that wrote into a recovery root.
QStringList windowFolders(const QString& root) {
  QStringList out;
  for (const QString& name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    out << root + QLatin1Char('/') + name;
  return out;
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

// The folder of a window that ended without closing: nobody holds its lock.
QString leftFolder(const QString& name) {
  const QString folder = primaryRoot() + QLatin1Char('/') + name;
  if (!QDir().mkpath(folder)) return {};
  QFile::setPermissions(primaryRoot(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return folder;
}

QStringList tabTitles(QTabWidget* tabs) {
  QStringList out;
  for (int i = 0; i < tabs->count(); ++i) out << tabs->tabText(i);
  return out;
}

QStringList recentPaths() {
  quorvel::desktop::RecentsStore store(QDir::homePath() + QStringLiteral("/.quorvel/quorvel.db"));
  QStringList out;
  for (const auto& e : store.list(100)) out << e.path;
  return out;
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

// A window of its own process, killed once it has written its snapshots.
class WindowProcess {
 public:
  explicit WindowProcess(const QStringList& args) {
    p.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/quorvel_test_recovery_window"));
    p.setArguments(args);
    p.start();
  }
  bool ready() {
    QByteArray out;
    while (!out.contains("ready\n") && p.waitForReadyRead(60000)) out += p.readAllStandardOutput();
    return out.contains("ready\n");
  }
  bool crash() {
    p.kill();  // SIGKILL: no close, no destructor
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::CrashExit;
  }

 private:
  QProcess p;
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
    for (const QString& root : {primaryRoot(), fallbackRoot()}) {
      if (QFileInfo(root).isSymLink() || QFileInfo(root).isFile())
        QFile::remove(root);
      else
        QDir(root).removeRecursively();
    }
  }

  void tabsAreSnapshottedByTheirPlace() {
    ::umask(022);
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();  // nothing left from before: settled at once
    for (const QString& d : docs) w.openFile(d);
    QCOMPARE(p.tabs()->count(), 3);
    // A root of ours that others may read is closed before anything goes into it.
    QVERIFY(QDir().mkpath(primaryRoot()));
    QCOMPARE(::chmod(QFile::encodeName(primaryRoot()).constData(), 0755), 0);

    w.autosaveSnapshot();
    QCOMPARE(windowFolders(primaryRoot()).size(), 1);
    const QString folder = windowFolders(primaryRoot()).first();
    QCOMPARE(filesIn(folder), (QStringList{"rec-0.pdf", "rec-0.txt", "rec-1.pdf", "rec-1.txt", "rec-2.pdf", "rec-2.txt"}));
    QCOMPARE(modeOf(primaryRoot()), 0700);
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

  // The copies a window left: the question counts the PDFs; No deletes every file of its
  // folder, Yes opens each copy in a tab.
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
    const QString folder = leftFolder("101-dead");
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
      QTRY_VERIFY(!QFileInfo::exists(folder));
      QCOMPARE(p.tabs()->count(), 0);
      return;
    }
    QTRY_COMPARE(p.tabs()->count(), 2);
    QCOMPARE(p.view(0)->pageCount(), 2);
    QCOMPARE(p.view(1)->pageCount(), 3);
    QCOMPARE(filesIn(folder).size(), 5);
    // A second check in the same run asks nothing.
    w.checkRecovery();
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.unexpected, 0);
  }

  // Recovered tabs stand for the files they were made from: their names, their order (by place,
  // not by listing), their paths for the next snapshot; the copies never become recent files.
  void recoveredTabsStandForTheirFiles() {
    const QString folder = leftFolder("102-dead");
    const QString places[] = {"10", "2", "0"};
    const QString origins[] = {docs[0], dir.file("gone/report (final).pdf").c_str(), docs[2]};
    for (int i = 0; i < 3; ++i) {
      putFile(folder + "/rec-" + places[i] + ".pdf", text_pdf(std::vector<std::string>(size_t(i + 1), "p")));
      putFile(folder + "/rec-" + places[i] + ".txt", origins[i].toStdString());
    }
    putFile(folder + "/rec-3.pdf", text_pdf({"q", "q", "q", "q"}));  // its path was never written
    const QStringList recentsBefore = recentPaths();

    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answerer({pressButton(QMessageBox::Yes)});
    QTRY_COMPARE(p.tabs()->count(), 4);
    // Recovered work is unsaved until a save writes it somewhere.
    QCOMPARE(tabTitles(p.tabs()), (QStringList{"• three.pdf", "• report (final).pdf", "• rec-3.pdf", "• one.pdf"}));
    QCOMPARE(p.tabs()->tabToolTip(0), docs[2]);
    QCOMPARE(p.tabs()->tabToolTip(1), origins[1]);
    QCOMPARE(p.tabs()->tabToolTip(3), docs[0]);
    QCOMPARE(p.view(3)->pageCount(), 1);
    QCOMPARE(recentPaths(), recentsBefore);

    // The next snapshot still names the original file, however often the window crashes.
    w.autosaveSnapshot();
    QCOMPARE(QString::fromUtf8(bytesOf(folder + "/rec-10.txt")), docs[0]);
    QCOMPARE(pagesOf(folder + "/rec-10.pdf"), 1);
  }

  // A recovered document exists nowhere else until it is saved: a normal close keeps it for
  // the next start, with its later changes; once saved, it goes.
  void recoveredWorkStaysUntilSaved() {
    const QString folder = leftFolder("103-dead");
    putFile(folder + "/rec-0.pdf", text_pdf({"a", "b", "c"}));
    putFile(folder + "/rec-0.txt", docs[2].toStdString());
    putFile(folder + "/rec-1.pdf", text_pdf({"a", "b"}));
    putFile(folder + "/rec-1.txt", docs[1].toStdString());
    {
      MainWindow w;
      WindowProbe p{w};
      ModalAnswerer answerer({pressButton(QMessageBox::Yes)});
      QTRY_COMPARE(p.tabs()->count(), 2);
      p.tabs()->setCurrentIndex(0);
      w.deletePageAt(1);
      w.autosaveSnapshot();
      w.close();
      QCOMPARE(answerer.unexpected, 0);
    }
    QCOMPARE(filesIn(folder), (QStringList{"rec-0.pdf", "rec-0.txt", "rec-1.pdf", "rec-1.txt"}));
    QCOMPARE(pagesOf(folder + "/rec-0.pdf"), 2);

    {
      MainWindow w;
      WindowProbe p{w};
      ModalAnswerer answerer({pressButton(QMessageBox::Yes)});
      QTRY_COMPARE(p.tabs()->count(), 2);
      QCOMPARE(tabTitles(p.tabs()), (QStringList{"• three.pdf", "• two.pdf"}));
      p.tabs()->setCurrentIndex(0);
      const QString saved = dir.file("three-saved.pdf").c_str();
      w.saveDocumentTo(saved);
      QCOMPARE(pagesOf(saved), 2);
      QCOMPARE(tabTitles(p.tabs()), (QStringList{"three.pdf", "• two.pdf"}));
      w.close();
    }
    QCOMPARE(filesIn(folder), (QStringList{"rec-1.pdf", "rec-1.txt"}));

    MainWindow w;
    ModalAnswerer answerer({pressButton(QMessageBox::No)});
    QTRY_COMPARE(answerer.seen.size(), 1);
    QVERIFY(answerer.seen[0].text.contains(QStringLiteral("(1)")));
    QTRY_VERIFY(!QFileInfo::exists(folder));
  }

  // Two windows running side by side: each writes its own copies, a third one starting offers
  // neither, and closing one removes its copies alone.
  void runningWindowsKeepApart() {
    MainWindow a, b;
    a.checkRecovery();
    b.checkRecovery();
    a.openFile(docs[0]);
    b.openFile(docs[1]);
    b.openFile(docs[2]);
    a.autosaveSnapshot();
    b.autosaveSnapshot();
    const QStringList folders = windowFolders(primaryRoot());
    QCOMPARE(folders.size(), 2);
    QStringList pages;
    for (const QString& f : folders) {
      QStringList counts;
      for (const QString& name : filesIn(f))
        if (name.endsWith(".pdf")) counts << QString::number(pagesOf(f + "/" + name));
      pages << counts.join(',');
    }
    pages.sort();
    QCOMPARE(pages, (QStringList{"1", "2,3"}));

    {
      MainWindow c;
      ModalAnswerer answerer({});
      c.checkRecovery();
      QCOMPARE(answerer.seen.size(), 0);
    }
    a.close();
    QCOMPARE(windowFolders(primaryRoot()).size(), 1);
    QCOMPARE(filesIn(windowFolders(primaryRoot()).first()).size(), 4);
  }

  // Both windows are killed: the next start offers each one's documents as it had them, and a
  // window starting while that one runs offers nothing.
  void crashOfTwoWindows() {
    {
      WindowProcess first({QStringLiteral("--delete-first-page"), docs[2]});
      QVERIFY(first.ready());
      WindowProcess second({docs[0], docs[1]});
      QVERIFY(second.ready());
      QVERIFY(first.crash());
      QVERIFY(second.crash());
    }
    QCOMPARE(windowFolders(primaryRoot()).size(), 2);

    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answerer({pressButton(QMessageBox::Yes)});
    QTRY_COMPARE(p.tabs()->count(), 3);
    QVERIFY(answerer.seen[0].text.contains(QStringLiteral("(3)")));
    const QStringList titles = tabTitles(p.tabs()).replaceInStrings(QStringLiteral("• "), QString());
    QCOMPARE(titles.count("three.pdf"), 1);
    QCOMPARE(titles.indexOf("two.pdf"), titles.indexOf("one.pdf") + 1);
    QCOMPARE(p.view(int(titles.indexOf("three.pdf")))->pageCount(), 2);  // the edit survived
    QCOMPARE(p.tabs()->tabToolTip(int(titles.indexOf("one.pdf"))), docs[0]);
    for (const QString& recent : recentPaths()) QVERIFY2(!recent.startsWith(primaryRoot()), qPrintable(recent));

    MainWindow later;
    ModalAnswerer none({});
    later.checkRecovery();
    QCOMPARE(none.seen.size(), 0);
  }

  void closingBeforeTheAnswerKeepsTheEarlierCopies() {
    const QString folder = leftFolder("104-dead");
    putFile(folder + "/rec-0.pdf", text_pdf({"x"}));
    MainWindow w;
    w.close();
    QCOMPARE(filesIn(folder), QStringList{"rec-0.pdf"});
  }

  void questionWaitsForAnotherDialog() {
    const QString folder = leftFolder("105-dead");
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
    QTRY_VERIFY(!QFileInfo::exists(folder));
  }

  // A root under the fixed name that is a link, a file, or someone else's is never read,
  // written or emptied; the copies go to the user's cache folder instead.
  void foreignRootIsLeftAlone_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("a file") << "file";
    if (geteuid() == 0) QTest::newRow("another user's") << "foreign";
  }
  void foreignRootIsLeftAlone() {
    QFETCH(QString, kind);
    TempDir elsewhere;
    const QString target = QString::fromStdString(elsewhere.path()) + "/target";
    const QString theirs = kind == "link" ? target : primaryRoot() + "/7-theirs";
    if (kind == "file") {
      putFile(primaryRoot(), "not a folder");
    } else {
      QVERIFY(QDir().mkpath(theirs));
      putFile(theirs + "/rec-0.pdf", text_pdf({"theirs"}));
      putFile(theirs + "/keep.txt", "keep");
      if (kind == "link") QVERIFY(QFile::link(target, primaryRoot()));
      if (kind == "foreign") QCOMPARE(::chown(QFile::encodeName(primaryRoot()).constData(), 65534, 65534), 0);
    }
    const QByteArray before = kind == "file" ? bytesOf(primaryRoot()) : bytesOf(theirs + "/rec-0.pdf");
    {
      MainWindow w;
      ModalAnswerer answerer({});
      w.checkRecovery();
      w.openFile(docs[2]);
      w.autosaveSnapshot();
      QCOMPARE(windowFolders(fallbackRoot()).size(), 1);
      QCOMPARE(pagesOf(windowFolders(fallbackRoot()).first() + "/rec-0.pdf"), 3);
      QCOMPARE(modeOf(fallbackRoot()), 0700);
      w.close();
      QCOMPARE(answerer.seen.size(), 0);
      QVERIFY(windowFolders(fallbackRoot()).isEmpty());
    }
    if (kind == "file") {
      QCOMPARE(bytesOf(primaryRoot()), before);
      return;
    }
    QCOMPARE(filesIn(theirs), (QStringList{"keep.txt", "rec-0.pdf"}));
    QCOMPARE(bytesOf(theirs + "/rec-0.pdf"), before);
    if (kind == "link") QVERIFY(QFileInfo(primaryRoot()).isSymLink());
  }

  // With no root to use at all, the window says once that autosave is off.
  void nowhereToWriteIsToldOnce() {
    putFile(primaryRoot(), "not a folder");
    QVERIFY(QDir().mkpath(QFileInfo(fallbackRoot()).path()));
    putFile(fallbackRoot(), "not a folder either");
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();
    w.openFile(docs[0]);
    w.autosaveSnapshot();
    QCOMPARE(p.status(), QStringLiteral("Автосохранение выключено: нет доступной папки для копий восстановления."));
    w.openFile(docs[1]);
    const QString opened = p.status();
    w.autosaveSnapshot();
    QCOMPARE(p.status(), opened);
  }

  void cutShortSnapshotKeepsTheLastGoodOne() {
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();
    w.openFile(docs[1]);
    w.autosaveSnapshot();
    const QString folder = windowFolders(primaryRoot()).value(0);
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
