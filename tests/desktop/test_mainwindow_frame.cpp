// The window's frame as the user meets it: title, docks, start page and tabs, the reduced
// edition, full screen, the language entries, tab changes and closing, and teardown.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QActionGroup>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QToolBar>
#include <QtTest>

#include <cmath>

#include "desktop/ai/AiPanel.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "desktop/window/lang.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::AiPanel;
using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

// The dock that shows its content: a tabified dock that is not raised has no visible region.
bool raised(QDockWidget* d) { return d->isVisible() && !d->visibleRegion().isEmpty(); }

QList<QAction*> allActions(MainWindow& w) {
  QList<QAction*> out;
  for (QMenu* m : w.menuBar()->findChildren<QMenu*>())
    for (QAction* a : m->actions())
      if (!a->isSeparator() && !out.contains(a)) out << a;
  for (QToolBar* t : w.findChildren<QToolBar*>())
    for (QAction* a : t->actions())
      if (!a->isSeparator() && !out.contains(a)) out << a;
  return out;
}

// Notes whether a widget has had its first paint.
class PaintSeen : public QObject {
 public:
  explicit PaintSeen(QWidget& w) : target(&w) { w.installEventFilter(this); }
  bool painted = false;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == target && e->type() == QEvent::Paint) painted = true;
    return false;
  }

 private:
  QWidget* target;
};

}  // namespace

class MainWindowFrameTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString onePage, fivePages, twoPages;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    onePage = writeTestFile(dir, "one.pdf", text_pdf({"one"}));
    fivePages = writeTestFile(dir, "five.pdf", text_pdf({"1", "2", "3", "4", "5"}));
    twoPages = writeTestFile(dir, "two.pdf", text_pdf({"a", "b"}));
  }

  void init() {
    qunsetenv("QUORVEL_EDITION");
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void docksAndTitleInBothLanguages_data() {
    QTest::addColumn<int>("lang");
    QTest::newRow("ru") << 0;
    QTest::newRow("en") << 1;
  }
  void docksAndTitleInBothLanguages() {
    QFETCH(int, lang);
    quorvel::desktop::g_lang = lang;
    MainWindow w;
    WindowProbe p{w};
    QCOMPARE(w.windowTitle(), QStringLiteral("PDF Dodiru Quorvel"));
    QCOMPARE(w.size(), QSize(1100, 780));
    QVERIFY(w.acceptDrops());

    struct Expect {
      const char* name;
      const char* ru;
      const char* en;
      int minWidth;
      Qt::DockWidgetArea area;
    } const docks[] = {{"thumbDock", "Страницы", "Pages", 170, Qt::LeftDockWidgetArea},
                       {"outlineDock", "Оглавление", "Outline", 170, Qt::LeftDockWidgetArea},
                       {"commentsDock", "Комментарии", "Comments", 220, Qt::RightDockWidgetArea},
                       {"aiDock", "Tavi AI", "Tavi AI", 260, Qt::RightDockWidgetArea}};
    for (const Expect& e : docks) {
      QDockWidget* d = p.dock(e.name);
      QVERIFY2(d, e.name);
      QCOMPARE(d->windowTitle(), QString::fromUtf8(lang ? e.en : e.ru));
      QCOMPARE(d->minimumWidth(), e.minWidth);
      QCOMPARE(w.dockWidgetArea(d), e.area);
      QCOMPARE(d->features(), QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    }
    QVERIFY(p.dock("aiDock")->widget()->objectName() == QStringLiteral("aiPanel"));

    QStringList menus;
    for (QAction* a : w.menuBar()->actions()) menus << a->text();
    QCOMPARE(menus, lang ? QStringList({"&File", "&View"}) : QStringList({"&Файл", "&Вид"}));
    QCOMPARE(p.status(), lang ? QStringLiteral("Ready. Drop a PDF here or use File → Open.")
                              : QStringLiteral("Готово. Перетащите PDF сюда или Файл → Открыть."));
  }

  void viewMenuHoldsDockTogglesFullScreenAndLanguages() {
    MainWindow w;
    QMenu* view = nullptr;
    for (QAction* a : w.menuBar()->actions())
      if (a->text() == QStringLiteral("&Вид")) view = a->menu();
    QVERIFY(view);
    QStringList entries;
    for (QAction* a : view->actions())
      entries << (a->isSeparator() ? QStringLiteral("|") : a->text());
    QCOMPARE(entries, (QStringList{"Страницы", "Оглавление", "Комментарии", "Tavi AI", "|",
                                   "Полноэкранный режим", "Язык", "|", "Настройки…"}));
    QAction* full = view->actions().at(5);
    QCOMPARE(full->shortcut(), QKeySequence(Qt::Key_F11));
    QStringList languages;
    for (QAction* a : view->actions().at(6)->menu()->actions()) languages << a->text();
    QCOMPARE(languages, (QStringList{"Русский", "English"}));
  }

  void startPageUntilATabOpens_andDocksFollow() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    WindowProbe p{w};
    QCOMPARE(p.stack()->currentIndex(), 0);
    for (const char* d : {"thumbDock", "outlineDock", "commentsDock", "aiDock"}) QVERIFY(!p.dock(d)->isVisible());

    w.openFile(onePage);
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(p.stack()->currentIndex(), 1);
    for (const char* d : {"thumbDock", "outlineDock", "commentsDock", "aiDock"}) QVERIFY(p.dock(d)->isVisible());
    QCOMPARE(w.tabifiedDockWidgets(p.dock("thumbDock")), QList<QDockWidget*>{p.dock("outlineDock")});
    QCOMPARE(w.tabifiedDockWidgets(p.dock("commentsDock")), QList<QDockWidget*>{p.dock("aiDock")});
    QTRY_VERIFY(raised(p.dock("thumbDock")));
    QVERIFY(raised(p.dock("commentsDock")));
    QVERIFY(!raised(p.dock("outlineDock")));
    QVERIFY(!raised(p.dock("aiDock")));

    // Closing the last tab: the start page with the list refreshed, every dock hidden.
    emit p.tabs()->tabCloseRequested(0);
    QCOMPARE(p.tabs()->count(), 0);
    QCOMPARE(p.stack()->currentIndex(), 0);
    for (const char* d : {"thumbDock", "outlineDock", "commentsDock", "aiDock"}) QVERIFY(!p.dock(d)->isVisible());
    auto* recents = w.findChild<QListWidget*>(QStringLiteral("startRecents"));
    QVERIFY(recents);
    QCOMPARE(recents->item(0)->data(Qt::UserRole).toString(), onePage);
  }

  void closingTabsReleasesViewsAndRebindsPanels() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(onePage);
    w.openFile(twoPages);
    w.openFile(fivePages);
    QPointer<PdfView> first = p.view(0), second = p.view(1), third = p.view(2);
    auto* ai = w.findChild<AiPanel*>();
    QCOMPARE(ai->currentView(), third.data());

    // A tab that is not current: the panels stay on the current view.
    emit p.tabs()->tabCloseRequested(0);
    QVERIFY(first.isNull());
    QCOMPARE(ai->currentView(), third.data());
    QCOMPARE(w.currentView(), third.data());

    // The current tab: the panels move to the view that remains before the closed one goes.
    emit p.tabs()->tabCloseRequested(p.tabs()->indexOf(third));
    QVERIFY(third.isNull());
    QCOMPARE(ai->currentView(), second.data());
    emit p.tabs()->tabCloseRequested(0);
    QVERIFY(second.isNull());
    QCOMPARE(ai->currentView(), static_cast<PdfView*>(nullptr));
  }

  void windowWithTabsTearsDownCleanly() {
    QPointer<PdfView> a, b;
    {
      auto* w = new MainWindow;
      w->show();
      w->openFile(fivePages);
      w->openFile(twoPages);
      WindowProbe p{*w};
      a = p.view(0);
      b = p.view(1);
      QVERIFY(a && b);
      delete w;
    }
    QVERIFY(a.isNull());
    QVERIFY(b.isNull());
  }

  // Changing to a tab with fewer pages lowers the field's maximum before its value is set,
  // and the page field reports no change, so the viewer is not scrolled by it.
  void tabChangeSyncsControlsSilently() {
    MainWindow w;
    w.show();
    WindowProbe p{w};
    w.openFile(fivePages);
    p.view(0)->goToPage(4);
    QTRY_COMPARE(p.view(0)->currentPage(), 4);
    w.openFile(twoPages);
    auto* spin = w.findChild<QSpinBox*>();
    auto* total = w.findChild<QLabel*>(QStringLiteral("pageTotal"));
    auto* zoom = w.findChild<QLabel*>(QStringLiteral("zoomLabel"));
    QCOMPARE(spin->maximum(), 2);
    QCOMPARE(spin->value(), p.view(1)->currentPage());
    QCOMPARE(total->text(), QStringLiteral(" / 2"));

    QSignalSpy changes(spin, &QSpinBox::valueChanged);
    p.tabs()->setCurrentIndex(0);
    QCOMPARE(spin->maximum(), 5);
    QCOMPARE(spin->value(), 4);
    QCOMPARE(total->text(), QStringLiteral(" / 5"));
    QCOMPARE(zoom->text(), QStringLiteral("%1%").arg(std::lround(p.view(0)->scale * 100)));
    p.tabs()->setCurrentIndex(1);
    QCOMPARE(spin->value(), p.view(1)->currentPage());
    QCOMPARE(changes.count(), 0);
    QCOMPARE(p.view(0)->currentPage(), 4);

    while (p.tabs()->count()) emit p.tabs()->tabCloseRequested(0);
    QCOMPARE(spin->maximum(), 0);
    QCOMPARE(total->text(), QStringLiteral(" / 0"));
    QCOMPARE(zoom->text(), QStringLiteral("—"));
  }

  void reducedEditionFromEnvironment_data() {
    QTest::addColumn<QString>("edition");
    QTest::addColumn<bool>("reduced");
    QTest::newRow("mvp") << "mvp" << true;
    QTest::newRow("MVP") << "MVP" << true;
    QTest::newRow("leading space") << " mvp" << false;
    QTest::newRow("other") << "full" << false;
  }
  void reducedEditionFromEnvironment() {
    QFETCH(QString, edition);
    QFETCH(bool, reduced);
    qputenv("QUORVEL_EDITION", edition.toUtf8());
    MainWindow w;
    w.show();
    WindowProbe p{w};
    QCOMPARE(w.windowTitle(), reduced ? QStringLiteral("Tavi PDF AI Dodiru") : QStringLiteral("PDF Dodiru Quorvel"));
    w.openFile(onePage);
    QCOMPARE(p.dock("commentsDock")->isVisible(), !reduced);
    QCOMPARE(p.dock("aiDock")->isVisible(), true);
    if (reduced) QTRY_VERIFY(raised(p.dock("aiDock")));
    int hidden = 0;
    for (QAction* a : allActions(w)) hidden += a->isVisible() ? 0 : 1;
    QCOMPARE(hidden, reduced ? 34 : 0);
    QCOMPARE(w.findChild<quorvel::desktop::ThumbnailPanel*>()->pageMenuEnabled, !reduced);
  }

  void reducedEditionFromTheEditionFile_data() {
    QTest::addColumn<QString>("env");
    QTest::addColumn<QByteArray>("file");  // "-" for no file
    QTest::addColumn<bool>("reduced");
    QTest::newRow("file with line break") << "" << QByteArray("mvp\n") << true;
    QTest::newRow("file padded, capitals") << "" << QByteArray("  MVP \r\n") << true;
    QTest::newRow("file other") << "" << QByteArray("mvp2") << false;
    QTest::newRow("empty file") << "" << QByteArray("") << false;
    QTest::newRow("no file") << "" << QByteArray("-") << false;
    QTest::newRow("variable wins") << "full" << QByteArray("mvp") << false;
    QTest::newRow("variable alone") << "Mvp" << QByteArray("-") << true;
  }
  void reducedEditionFromTheEditionFile() {
    QFETCH(QString, env);
    QFETCH(QByteArray, file);
    TempDir folder;
    if (file != "-") writeTestFile(folder, "edition.txt", file.toStdString());
    QTEST(MainWindow::editionIsReduced(env, QString::fromStdString(folder.path())), "reduced");
  }

  // main shows the window and hands it the command line to run once it is on screen: a large
  // document's open begins after the window's first paint, and a window that is not shown
  // still gets its document.
  void commandLineRunsOnceTheWindowIsOnScreen_data() {
    QTest::addColumn<bool>("shown");
    QTest::newRow("shown") << true;
    QTest::newRow("never shown") << false;
  }
  void commandLineRunsOnceTheWindowIsOnScreen() {
    QFETCH(bool, shown);
    MainWindow w;
    WindowProbe p{w};
    PaintSeen seen(w);
    if (shown) w.show();
    bool ran = false, paintedBefore = false;
    w.runWhenShown([&] {
      ran = true;
      paintedBefore = seen.painted;
      quorvel::desktop::runCommandLine(w, {onePage});
    });
    QVERIFY(!ran);
    QTRY_VERIFY(ran);
    QCOMPARE(paintedBefore, shown);
    QCOMPARE(p.tabs()->count(), 1);
  }

  void mvpFromTheCommandLine() {
    MainWindow w;
    w.show();
    quorvel::desktop::runCommandLine(w, {"--mvp", onePage});
    QCOMPARE(w.windowTitle(), QStringLiteral("Tavi PDF AI Dodiru"));
    WindowProbe p{w};
    QCOMPARE(p.tabs()->count(), 1);
    QVERIFY(!p.dock("commentsDock")->isVisible());
    QTRY_VERIFY(raised(p.dock("aiDock")));
  }

  void fullScreenHidesChromeAndEscReturns() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    WindowProbe p{w};
    w.openFile(onePage);

    // Esc in the normal window changes nothing.
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!w.isFullScreen());

    w.toggleFullScreen();
    QVERIFY(w.isFullScreen());
    QVERIFY(w.menuBar()->isHidden());
    QVERIFY(w.statusBar()->isHidden());
    QVERIFY(p.tabs()->tabBar()->isHidden());
    for (QToolBar* t : w.findChildren<QToolBar*>()) QVERIFY(t->isHidden());
    for (const char* d : {"thumbDock", "outlineDock", "commentsDock", "aiDock"}) QVERIFY(p.dock(d)->isHidden());

    QTest::keyClick(w.currentView(), Qt::Key_Escape);
    QVERIFY(!w.isFullScreen());
    QVERIFY(!w.menuBar()->isHidden());
    QVERIFY(!w.statusBar()->isHidden());
    QVERIFY(!p.tabs()->tabBar()->isHidden());
    for (QToolBar* t : w.findChildren<QToolBar*>()) QVERIFY(!t->isHidden());
    for (const char* d : {"thumbDock", "outlineDock", "commentsDock", "aiDock"}) QVERIFY(!p.dock(d)->isHidden());
  }

  void leavingFullScreenWithoutTabsKeepsDocksHidden() {
    MainWindow w;
    w.show();
    WindowProbe p{w};
    quorvel::desktop::runCommandLine(w, {"--fullscreen"});
    QVERIFY(w.isFullScreen());
    w.toggleFullScreen();
    QVERIFY(!w.isFullScreen());
    for (const char* d : {"thumbDock", "outlineDock", "commentsDock", "aiDock"}) QVERIFY(p.dock(d)->isHidden());
    QVERIFY(!w.menuBar()->isHidden());
  }

  // The choice is stored and announced; nothing on screen changes until the next start.
  void languageEntriesStoreTheChoiceOnly_data() {
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("ru window, English") << 0 << "English" << "en" << "Язык"
                                        << "Язык изменён. Перезапустите приложение.";
    QTest::newRow("en window, Русский") << 1 << "Русский" << "ru" << "Language"
                                        << "Language changed. Please restart the application.";
  }
  void languageEntriesStoreTheChoiceOnly() {
    QFETCH(int, lang);
    QFETCH(QString, entry);
    quorvel::desktop::g_lang = lang;
    MainWindow w;
    w.show();
    QAction* choice = nullptr;
    for (QAction* a : allActions(w))
      if (a->text() == entry) choice = a;
    QVERIFY(choice);
    const QString fileMenu = w.menuBar()->actions().at(0)->text();
    ModalAnswerer answers({pressButton(QMessageBox::Ok)});
    choice->trigger();
    QCOMPARE(answers.seen.size(), 1);
    QTEST(answers.seen[0].title, "title");
    QTEST(answers.seen[0].text, "text");
    QTEST(QSettings().value(QStringLiteral("ui/lang")).toString(), "stored");
    QCOMPARE(w.menuBar()->actions().at(0)->text(), fileMenu);
  }

  // The stores move a damaged database aside; the user learns why earlier annotations and
  // recent files are gone, and the window still works.
  void damagedDatabaseIsReported() {
    const QString db = QDir::homePath() + QStringLiteral("/.quorvel/quorvel.db");
    QDir().mkpath(QFileInfo(db).path());
    QFile::remove(db);
    {
      QFile f(db);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(8192, 'x'));
    }
    MainWindow w;
    WindowProbe p{w};
    QVERIFY2(p.status().startsWith(QStringLiteral("Файл базы данных повреждён и отложен: ")), qPrintable(p.status()));
    const QString moved = p.status().mid(QStringLiteral("Файл базы данных повреждён и отложен: ").size());
    QVERIFY(QFile::exists(moved));
    QFile::remove(moved);
    w.openFile(onePage);
    QCOMPARE(p.tabs()->count(), 1);
  }

  void defaultToolFromSettingsReachesTheView() {
    QSettings().setValue(QStringLiteral("ui/defaultMode"), 2);
    MainWindow w;
    QAction* checked = nullptr;
    for (QAction* a : allActions(w))
      if (a->property("mode").isValid() && a->isChecked()) checked = a;
    QVERIFY(checked);
    QCOMPARE(checked->property("mode").toInt(), 2);
    w.openFile(onePage);
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), 2);
  }
};

QTEST_MAIN(MainWindowFrameTest)
#include "test_mainwindow_frame.moc"
