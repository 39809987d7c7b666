// Page and content edits that no save has written: the tab shows them, and closing the tab or
// the window over them asks once whether to save them, drop them or stay; recovery copies go
// only with edits that were saved or dropped. A window that is not shown asks nothing.
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
using Answers = std::deque<ModalAnswerer::Answer>;

namespace {

QString recoveryFolder() { return QDir::tempPath() + QStringLiteral("/quorvel-recovery"); }

// The snapshots of the one window that is running (each window writes into a folder of its own).
QStringList snapshots() {
  const QStringList folders = QDir(recoveryFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  if (folders.size() != 1) return {};
  return QDir(recoveryFolder() + QLatin1Char('/') + folders.first()).entryList(QDir::Files, QDir::Name);
}

int pagesOf(const QString& path) {
  auto doc = quorvel::make_engine(quorvel::EngineKind::Pdfium)->open(as_bytes(read_file(path.toStdString())), "");
  return doc ? doc->page_count() : -1;
}

QStringList tabTitles(QTabWidget* tabs) {
  QStringList out;
  for (int i = 0; i < tabs->count(); ++i) out << tabs->tabText(i);
  return out;
}

}  // namespace

class UnsavedEditsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString three, two;

  QString out(const char* name) const { return QString::fromStdString(dir.file(name)); }

  // A shown window with "three.pdf" less its first page and "two.pdf", turned when
  // `bothChanged`, and a recovery copy of each.
  void openTwo(MainWindow& w, bool bothChanged) {
    w.show();
    w.checkRecovery();
    w.openFile(three);
    w.deletePageAt(1);
    w.openFile(two);
    if (bothChanged) w.rotatePageAt(1);
    w.autosaveSnapshot();
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    three = writeTestFile(dir, "three.pdf", text_pdf({"one", "two", "three"}));
    two = writeTestFile(dir, "two.pdf", text_pdf({"first", "second"}));
  }
  void init() {
    QSettings().clear();
    QDir(recoveryFolder()).removeRecursively();
  }

  // Every page and content edit marks its tab, an annotation does not (the store keeps it at
  // once), and a save takes the mark away.
  void tabShowsEditsUntilSaved_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("marks");
    for (const char* e : {"delete page", "rotate page", "blank page", "crop", "insert text", "form typing"})
      QTest::newRow(e) << QString::fromLatin1(e) << true;
    QTest::newRow("annotation") << QStringLiteral("annotation") << false;
  }
  void tabShowsEditsUntilSaved() {
    QFETCH(QString, edit);
    QFETCH(bool, marks);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(three);
    QCOMPARE(tabTitles(p.tabs()), QStringList{"three.pdf"});
    PdfView* view = w.currentView();
    const std::map<QString, std::function<void()>> edits{
        {"delete page", [&] { w.deletePageAt(2); }},
        {"rotate page", [&] { w.rotatePageAt(1); }},
        {"blank page", [&] { QVERIFY(w.insertBlankPageAt(1)); }},
        {"crop", [&] { QVERIFY(w.cropAllPages(10, 10, 500, 700)); }},
        {"insert text", [&] { QVERIFY(w.insertTextAt(100, 100, QStringLiteral("added"))); }},
        // Form input reaches the view through the same path as every content edit.
        {"form typing", [&] { view->pageContentEdited(0); }},
        {"annotation", [&] { w.demoAnnotate(); }},
    };
    edits.at(edit)();
    QCOMPARE(view->hasUnsavedChanges(), marks);
    QCOMPARE(tabTitles(p.tabs()), QStringList{marks ? "• three.pdf" : "three.pdf"});
    w.saveDocumentTo(out("saved.pdf"));
    QVERIFY(QFileInfo::exists(out("saved.pdf")));
    QCOMPARE(tabTitles(p.tabs()), QStringList{"three.pdf"});
    QVERIFY(!view->hasUnsavedChanges());
  }

  // A changed tab asks before it closes. Cancel keeps it as it is; Don't save closes it and
  // removes its recovery copy; Save writes the copy through the save dialog and closes. The
  // other tab's copy stays in every case.
  void closingAChangedTabAsks_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("closed");
    QTest::newRow("cancel") << "cancel" << false;
    QTest::newRow("discard") << "discard" << true;
    QTest::newRow("save") << "save" << true;
    QTest::newRow("save, dialog cancelled") << "save, dialog cancelled" << false;
  }
  void closingAChangedTabAsks() {
    QFETCH(QString, answer);
    QFETCH(bool, closed);
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    openTwo(w, false);
    const QStringList pairs{"rec-0.pdf", "rec-0.txt", "rec-1.pdf", "rec-1.txt"};
    QCOMPARE(snapshots(), pairs);

    const QString copy = out("closing-copy.pdf");
    QFile::remove(copy);
    const std::map<QString, Answers> scripts{
        {"cancel", {pressButton(QMessageBox::Cancel)}},
        {"discard", {pressButton(QMessageBox::Discard)}},
        {"save", {pressButton(QMessageBox::Save), chooseFile(copy)}},
        {"save, dialog cancelled", {pressButton(QMessageBox::Save), rejectDialog()}},
    };
    ModalAnswerer dialogs(scripts.at(answer));
    emit p.tabs()->tabCloseRequested(0);
    QCOMPARE(dialogs.unexpected, 0);
    QCOMPARE(dialogs.seen.size(), int(scripts.at(answer).size()));
    QCOMPARE(dialogs.seen[0].title, QStringLiteral("Несохранённые изменения"));
    QCOMPARE(dialogs.seen[0].text, QStringLiteral("В документе «three.pdf» есть несохранённые изменения.\nСохранить их?"));

    QCOMPARE(tabTitles(p.tabs()), (closed ? QStringList{"two.pdf"} : QStringList{"• three.pdf", "two.pdf"}));
    QCOMPARE(snapshots(), (closed ? QStringList{"rec-1.pdf", "rec-1.txt"} : pairs));
    QCOMPARE(pagesOf(copy), answer == QLatin1String("save") ? 2 : -1);
    // An unchanged tab closes without a question.
    emit p.tabs()->tabCloseRequested(p.tabs()->count() - 1);
    QCOMPARE(dialogs.seen.size(), int(scripts.at(answer).size()));
  }

  // The window asks once for all its changed documents; Cancel keeps it open with its tabs, and
  // a close that drops them removes every recovery copy.
  void closingTheWindowAsksOnce() {
    LangGuard en(1);
    MainWindow w;
    WindowProbe p{w};
    openTwo(w, true);
    QCOMPARE(snapshots().size(), 4);
    {
      ModalAnswerer dialogs({pressButton(QMessageBox::Cancel)});
      QVERIFY(!w.close());
      QCOMPARE(dialogs.seen.size(), 1);
      QCOMPARE(dialogs.seen[0].text,
               QStringLiteral("2 documents have unsaved changes: three.pdf, two.pdf.\nSave them?"));
      QVERIFY(w.isVisible());
      QCOMPARE(p.tabs()->count(), 2);
      QCOMPARE(snapshots().size(), 4);
    }
    ModalAnswerer dialogs({pressButton(QMessageBox::Discard)});
    QVERIFY(w.close());
    QCOMPARE(dialogs.seen.size(), 1);
    QCOMPARE(dialogs.unexpected, 0);
    QCOMPARE(QDir(recoveryFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{});
  }

  // Scripted runs and tests close windows nobody sees: nothing is asked, the tab and the window
  // close as they always did.
  void aWindowNotShownAsksNothing() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(three);
    w.deletePageAt(1);
    ModalAnswerer dialogs({});
    emit p.tabs()->tabCloseRequested(0);
    QCOMPARE(p.tabs()->count(), 0);
    w.openFile(two);
    w.rotatePageAt(1);
    QVERIFY(w.close());
    QCOMPARE(dialogs.seen.size(), 0);
  }
};

QTEST_MAIN(UnsavedEditsTest)
#include "test_unsaved_edits.moc"
