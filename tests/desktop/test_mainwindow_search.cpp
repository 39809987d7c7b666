// The search bar: its controls, the match counter, stepping with wrap-around, the options,
// the hit cap, what clears the results, and the command line's search; the search running off
// the window's thread with hits that come while it runs, the page text kept between searches,
// and Cyrillic text.
#include <QAction>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QSettings>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/time_bound.h"
#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "qt_contract.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

QToolBar* searchBar(MainWindow& w) {
  for (QToolBar* b : w.findChildren<QToolBar*>())
    if (b->windowTitle() == QStringLiteral("Поиск")) return b;
  return nullptr;
}
QLineEdit* field(MainWindow& w) { return w.findChild<QLineEdit*>(QStringLiteral("searchEdit")); }
QString label(MainWindow& w) { return w.findChild<QLabel*>(QStringLiteral("searchLabel"))->text(); }

QAction* barAction(MainWindow& w, const QString& textOrTip) {
  for (QAction* a : searchBar(w)->actions())
    if (a->text() == textOrTip || a->toolTip() == textOrTip) return a;
  return nullptr;
}
void next(MainWindow& w) { barAction(w, QStringLiteral("Следующее (Enter)"))->trigger(); }
void prev(MainWindow& w) { barAction(w, QStringLiteral("Предыдущее (Shift+Enter)"))->trigger(); }

// The search ends on a thread of its own: a test waits for its last word.
bool settled(MainWindow& w) {
  PdfView* v = w.currentView();
  if (!v || !v->searchRunning()) return true;
  QSignalSpy done(v, &PdfView::searchFinished);
  return done.wait(time_bound_ms(20000));
}
bool find(MainWindow& w, const QString& query) {
  w.findText(query);
  return settled(w);
}

// A real document whose text reads from page `gateAt` on each wait for a page the test grants.
// A gate left shut for long opens for good, so that a window that waits for its search itself
// is not held for ever but fails the test. The state outlives the document, for checks after
// its tab closed.
class GatedDocument : public quorvel::IDocument {
 public:
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    int gateAt = 1 << 30;
    int granted = 0;
    bool open = false;
    int waitingAt = -1;
    int reads = 0;
    int inside = 0;
    bool destroyed = false;
    int insideWhenDestroyed = 0;

    void grant(int pages) {
      std::lock_guard<std::mutex> g(m);
      granted += pages;
      cv.notify_all();
    }
    void openForGood() {
      std::lock_guard<std::mutex> g(m);
      open = true;
      cv.notify_all();
    }
    // Blocks the test until a read waits at the page.
    bool waitUntilWaitingAt(int page) {
      std::unique_lock<std::mutex> l(m);
      return cv.wait_for(l, std::chrono::milliseconds(time_bound_ms(20000)), [&] { return waitingAt == page; });
    }
    int readCount() {
      std::lock_guard<std::mutex> g(m);
      return reads;
    }
  };

  GatedDocument(std::unique_ptr<IDocument> inner, std::shared_ptr<Gate> g) : in(std::move(inner)), gate(std::move(g)) {}
  ~GatedDocument() override {
    std::lock_guard<std::mutex> g(gate->m);
    gate->destroyed = true;
    gate->insideWhenDestroyed = gate->inside;
  }

  int page_count() const override { return in->page_count(); }
  quorvel::PageInfo page_info(int page) const override { return in->page_info(page); }
  quorvel::RenderedTile render_tile(int page, const quorvel::RenderRequest& req) override {
    return in->render_tile(page, req);
  }
  quorvel::DocMetadata metadata() const override { return in->metadata(); }
  quorvel::TextPage extract_text(int page) const override {
    {
      std::unique_lock<std::mutex> l(gate->m);
      ++gate->reads;
      ++gate->inside;
      if (page >= gate->gateAt && !gate->open) {
        gate->waitingAt = page;
        gate->cv.notify_all();
        if (!gate->cv.wait_for(l, std::chrono::milliseconds(time_bound_ms(10000)),
                               [&] { return gate->granted > 0 || gate->open; }))
          gate->open = true;
        if (gate->granted > 0) --gate->granted;
        gate->waitingAt = -1;
      }
    }
    quorvel::TextPage text = in->extract_text(page);
    std::lock_guard<std::mutex> g(gate->m);
    --gate->inside;
    return text;
  }
  int replace_text(int page, const std::string& find, const std::string& with) override {
    return in->replace_text(page, find, with);
  }

  std::unique_ptr<IDocument> in;
  std::shared_ptr<Gate> gate;
};

// While it lives, opens the gate for good should a read come to wait at the page: a search that
// is being stopped goes on until it sees the stop.
class OpenIfReached {
 public:
  OpenIfReached(std::shared_ptr<GatedDocument::Gate> g, int page) : gate(std::move(g)) {
    watcher = std::thread([this, page] {
      std::unique_lock<std::mutex> l(gate->m);
      gate->cv.wait(l, [&] { return gate->waitingAt == page || done; });
      if (done) return;
      gate->open = true;
      gate->cv.notify_all();
    });
  }
  ~OpenIfReached() {
    {
      std::lock_guard<std::mutex> g(gate->m);
      done = true;
      gate->cv.notify_all();
    }
    watcher.join();
  }

 private:
  std::shared_ptr<GatedDocument::Gate> gate;
  bool done = false;  // under the gate's mutex
  std::thread watcher;
};

// Opens the file in a new tab and puts its document behind a gate.
std::shared_ptr<GatedDocument::Gate> openGated(MainWindow& w, const QString& file, int gateAt) {
  w.openFile(file);
  auto gate = std::make_shared<GatedDocument::Gate>();
  gate->gateAt = gateAt;
  PdfView* v = w.currentView();
  v->doc = std::make_unique<GatedDocument>(std::move(v->doc), gate);
  return gate;
}

// One page of `lines` lines of `perLine` letters x in a small font, so every one is on the page.
std::string manyHits(int lines, int perLine) {
  std::string content = "BT /F1 4 Tf 10 780 Td 5 TL";
  const std::string row(static_cast<size_t>(perLine), 'x');
  for (int i = 0; i < lines; ++i) content += " (" + row + ") '";
  content += " ET";
  PageSpec p;
  p.content = content;
  return make_pdf({p});
}

}  // namespace

class MainWindowSearchTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString words, other, crowded, exact, russian, manyPages;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    // "alpha": twice on page 1, as a word and inside "alphabet" on page 2 (once capitalised),
    // once on page 3.
    words = writeTestFile(dir, "words.pdf", text_pdf({"alpha beta alpha", "Alpha alphabet", "gamma alpha"}));
    other = writeTestFile(dir, "other.pdf", text_pdf({"alpha"}));
    crowded = writeTestFile(dir, "crowded.pdf", manyHits(100, 60));
    exact = writeTestFile(dir, "exact.pdf", manyHits(100, 50));
    russian = QString::fromStdString(dir.file("russian.pdf"));
    QVERIFY(writeQtLines(russian, {QStringLiteral("ДОГОВОР поставки"), QStringLiteral("Ёлка и ёлка"),
                                      QStringLiteral("условия договора: договор")}, 16, 30));
    std::vector<std::string> pages(1000, "alpha page");
    manyPages = writeTestFile(dir, "pages.pdf", text_pdf(pages));
  }
  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void barHoldsItsControlsInOrder_data() {
    QTest::addColumn<int>("lang");
    QTest::newRow("ru") << 0;
    QTest::newRow("en") << 1;
  }
  void barHoldsItsControlsInOrder() {
    QFETCH(int, lang);
    LangGuard guard(lang);
    MainWindow w;
    QToolBar* bar = searchBar(w);
    QVERIFY(bar);
    QVERIFY(!bar->isMovable());
    QCOMPARE(bar->iconSize(), QSize(18, 18));
    QCOMPARE(w.toolBarArea(bar), Qt::TopToolBarArea);
    QStringList items;
    for (QAction* a : bar->actions()) {
      QWidget* widget = bar->widgetForAction(a);
      if (a->isSeparator()) items << QStringLiteral("|");
      else if (widget == field(w)) items << QStringLiteral("field");
      else if (qobject_cast<QLabel*>(widget)) items << QStringLiteral("label");
      else items << (a->text().isEmpty() ? a->toolTip() : a->text());
    }
    QCOMPARE(items, (QStringList{"field", "Aa", "W", ".*", "|", "Предыдущее (Shift+Enter)", "Следующее (Enter)",
                                 "label", "|", "✨ По смыслу"}));
    QCOMPARE(field(w)->placeholderText(),
             lang ? QStringLiteral("Search in document…") : QStringLiteral("Поиск в документе…"));
    QVERIFY(field(w)->isClearButtonEnabled());
    QCOMPARE(field(w)->minimumWidth(), 340);
    QCOMPARE(field(w)->maximumWidth(), 460);
    for (const char* t : {"Aa", "W", ".*"}) {
      QAction* a = barAction(w, QString::fromLatin1(t));
      QVERIFY(a->isCheckable());
      QCOMPARE(bar->widgetForAction(a)->objectName(), QStringLiteral("searchToggle"));
    }
    QCOMPARE(barAction(w, QStringLiteral("Aa"))->toolTip(), QStringLiteral("Учитывать регистр"));
    QCOMPARE(label(w), QString());
  }

  void labelCountsAndStepsWrapAtBothEnds() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    QCOMPARE(v->highlights.size(), size_t{5});
    QCOMPARE(v->activeMatch, 0);

    prev(w);  // from the first hit back to the last
    QCOMPARE(label(w), QStringLiteral("5 / 5"));
    QCOMPARE(v->activeMatch, 4);
    QCOMPARE(v->currentPage(), 3);
    next(w);  // and from the last on to the first
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    QCOMPARE(v->currentPage(), 1);
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QStringLiteral("2 / 5"));
    QCOMPARE(v->activeMatch, 1);
  }

  // Typing does not search, but Return, the arrows and Shift+Return search a text that differs
  // from the one the hits are of; with the same text they step.
  void steppingSearchesAChangedText() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();
    QVERIFY(find(w, QStringLiteral("alpha")));
    next(w);
    field(w)->setText(QStringLiteral("gamma"));
    QCOMPARE(label(w), QStringLiteral("2 / 5"));
    QTest::keyClick(field(w), Qt::Key_Return);
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
    QCOMPARE(v->highlights.size(), size_t{1});
    QCOMPARE(v->currentPage(), 3);
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QStringLiteral("1 / 1"));

    field(w)->setText(QStringLiteral("beta"));
    prev(w);
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
    QCOMPARE(v->currentPage(), 1);
    field(w)->setText(QStringLiteral("Alpha"));
    QTest::keyClick(field(w), Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    // A toggle searches the text the field holds, as before.
    barAction(w, QStringLiteral("Aa"))->setChecked(true);
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
  }

  void optionsChooseTheHits_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("wholeWord");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<QString>("expected");
    const QString w = QStringLiteral("words"), ru = QStringLiteral("russian");
    QTest::newRow("plain, any case") << w << "alpha" << false << false << false << "1 / 5";
    QTest::newRow("case") << w << "alpha" << true << false << false << "1 / 4";
    QTest::newRow("whole word") << w << "alpha" << false << true << false << "1 / 4";
    QTest::newRow("case and whole word") << w << "alpha" << true << true << false << "1 / 3";
    QTest::newRow("regex") << w << "al.ha" << false << false << true << "1 / 5";
    QTest::newRow("dot without regex is a dot") << w << "al.ha" << false << false << false << "нет совпадений";
    QTest::newRow("regex whole word") << w << "a\\w+" << false << true << true << "1 / 5";
    QTest::newRow("invalid regex") << w << "(" << false << false << true << "нет совпадений";
    // Matches the empty string everywhere: only the non-empty runs of a count, and the
    // search ends.
    QTest::newRow("empty-matching regex") << w << "a*" << false << false << true << "1 / 13";
    QTest::newRow("nothing there") << w << "delta" << false << false << false << "нет совпадений";
    // Cyrillic: "ДОГОВОР", inside "договора", "договор"; "Ёлка", "ёлка".
    QTest::newRow("Cyrillic, any case") << ru << "ДОГОВОР" << false << false << false << "1 / 3";
    QTest::newRow("Cyrillic, case") << ru << "ДОГОВОР" << true << false << false << "1 / 1";
    QTest::newRow("Cyrillic whole word") << ru << "договор" << true << true << false << "1 / 1";
    QTest::newRow("Cyrillic whole word, any case") << ru << "договор" << false << true << false << "1 / 2";
    QTest::newRow("Ё folds") << ru << "ёлка" << false << false << false << "1 / 2";
    QTest::newRow("Cyrillic regex, any case") << ru << "ДОГОВОР\\w*" << false << false << true << "1 / 3";
    QTest::newRow("Cyrillic regex whole word") << ru << "договор" << false << true << true << "1 / 2";
  }
  void optionsChooseTheHits() {
    QFETCH(QString, file);
    QFETCH(QString, query);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, wholeWord);
    QFETCH(bool, regex);
    MainWindow w;
    w.openFile(file == QStringLiteral("russian") ? russian : words);
    barAction(w, QStringLiteral("Aa"))->setChecked(caseSensitive);
    barAction(w, QStringLiteral("W"))->setChecked(wholeWord);
    barAction(w, QStringLiteral(".*"))->setChecked(regex);
    QVERIFY(find(w, query));
    QTEST(label(w), "expected");
    QCOMPARE(w.currentView()->highlights.empty(), label(w) == QStringLiteral("нет совпадений"));
  }

  void hitsStopAtFiveThousandAndSaySo_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("6000 letters") << crowded << "1 / 5000+" << "5000 / 5000+";
    QTest::newRow("exactly 5000") << exact << "1 / 5000" << "5000 / 5000";
  }
  void hitsStopAtFiveThousandAndSaySo() {
    QFETCH(QString, file);
    MainWindow w;
    w.openFile(file);
    QVERIFY(find(w, QStringLiteral("x")));
    QTEST(label(w), "first");
    QCOMPARE(w.currentView()->highlights.size(), size_t{5000});
    prev(w);
    QTEST(label(w), "last");
    // Whole lines: one hit per line, well under the cap.
    barAction(w, QStringLiteral(".*"))->setChecked(true);
    QVERIFY(find(w, QStringLiteral("x+")));
    QCOMPARE(label(w), QStringLiteral("1 / 100"));
  }

  // The first hits show while later pages are still being read, the count grows, and stepping
  // goes through the hits found so far without starting again.
  void hitsShowWhileTheSearchRuns() {
    MainWindow w;
    auto gate = openGated(w, words, 2);
    PdfView* v = w.currentView();
    w.findText(QStringLiteral("alpha"));
    QVERIFY(v->searchRunning());
    QSignalSpy batches(v, &PdfView::searchHitsFound);
    while (v->highlights.size() < 4) QVERIFY(batches.wait(time_bound_ms(20000)));
    QVERIFY(gate->waitUntilWaitingAt(2));
    QCOMPARE(label(w), QStringLiteral("1 / 4"));
    QCOMPARE(v->activeMatch, 0);
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QStringLiteral("2 / 4"));
    QCOMPARE(gate->readCount(), 3);  // not searched again

    gate->openForGood();
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("2 / 5"));
    QCOMPARE(v->highlights.size(), size_t{5});
  }

  // Before any hit the counter says the search is on, not that nothing was found.
  void counterWaitsForTheFirstHit() {
    MainWindow w;
    auto gate = openGated(w, words, 0);
    w.findText(QStringLiteral("gamma"));
    QVERIFY(gate->waitUntilWaitingAt(0));
    QCOMPARE(label(w), QStringLiteral("поиск…"));
    QTest::keyClick(field(w), Qt::Key_Return);  // the same text: nothing to step through yet
    QCOMPARE(gate->readCount(), 1);
    gate->openForGood();
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
  }

  // The window's event loop goes on while a search runs: an event queued after the search
  // began is handled before the search ends, which it cannot do before the event was handled.
  void eventsAreHandledWhileTheSearchRuns() {
    MainWindow w;
    auto gate = openGated(w, words, 1);
    PdfView* v = w.currentView();
    QStringList order;
    connect(v, &PdfView::searchFinished, &w, [&] { order << QStringLiteral("finished"); });
    w.findText(QStringLiteral("alpha"));
    QTimer::singleShot(0, &w, [&] {
      order << (v->searchRunning() ? QStringLiteral("queued, search running") : QStringLiteral("queued"));
      gate->openForGood();
    });
    QVERIFY(settled(w));
    QCoreApplication::processEvents();
    QCOMPARE(order, (QStringList{"queued, search running", "finished"}));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
  }

  // A second search reads no page again; an edited page is read again, and only that one.
  void pageTextIsKeptUntilThePageChanges() {
    MainWindow w;
    auto gate = openGated(w, words, 1 << 30);
    PdfView* v = w.currentView();
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(gate->readCount(), 3);
    QVERIFY(find(w, QStringLiteral("gamma")));
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    QCOMPARE(gate->readCount(), 3);
    QCOMPARE(v->searchTextCache().pages(), size_t{3});

    QVERIFY(v->doc->replace_text(2, "alpha", "omega") > 0);
    v->pageContentEdited(2);
    QVERIFY(find(w, QStringLiteral("omega")));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
    QCOMPARE(gate->readCount(), 4);
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(label(w), QStringLiteral("1 / 4"));
    // A change of the page list forgets every page.
    v->refreshStructure();
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(gate->readCount(), 7);
  }

  // An edit while the search runs ends it: what was found stays, and the count says it may be
  // more.
  void anEditEndsTheSearch() {
    MainWindow w;
    auto gate = openGated(w, words, 1);
    PdfView* v = w.currentView();
    w.findText(QStringLiteral("alpha"));
    QVERIFY(gate->waitUntilWaitingAt(1));
    QSignalSpy batches(v, &PdfView::searchHitsFound);
    while (v->highlights.size() < 2) QVERIFY(batches.wait(time_bound_ms(20000)));
    {
      OpenIfReached further(gate, 2);
      gate->grant(1);
      v->pageContentEdited(0);
    }
    QVERIFY(!v->searchRunning());
    QCOMPARE(label(w), QStringLiteral("1 / 2+"));
    QVERIFY(gate->readCount() <= 3);
  }

  // Closing the tab stops its search before the document goes: no page is read after it, no
  // hit of it reaches the window.
  // From page 2 on the gate stays open: how many pages the search reads before the window's
  // thread gets to stopping it is the scheduler's to say, but one that closing did not stop
  // would read the whole document before the tab could go.
  void closingTheTabStopsItsSearch() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(words);
    auto gate = openGated(w, manyPages, 1);
    w.findText(QStringLiteral("alpha"));
    QVERIFY(gate->waitUntilWaitingAt(1));
    {
      OpenIfReached further(gate, 2);
      gate->grant(1);
      p.tabs()->tabCloseRequested(1);
    }
    {
      std::lock_guard<std::mutex> g(gate->m);
      QVERIFY(gate->destroyed);
      QCOMPARE(gate->insideWhenDestroyed, 0);
      QVERIFY(gate->reads < 1000);
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCOMPARE(label(w), QString());
    QVERIFY(w.currentView()->highlights.empty());
    QCOMPARE(field(w)->text(), QString());
  }

  void emptyFieldAndClearingDropTheHits() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();

    // Return in an empty field searches nothing and says nothing.
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QString());

    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    w.findText(QString());
    QCOMPARE(field(w)->text(), QString());
    QCOMPARE(label(w), QString());
    QVERIFY(v->highlights.empty());

    QVERIFY(find(w, QStringLiteral("alpha")));
    field(w)->clear();  // the field's clear button does the same
    QCOMPARE(label(w), QString());
    QVERIFY(v->highlights.empty());
    QCOMPARE(v->activeMatch, -1);

    // A toggle with an empty field clears the viewer and leaves the counter empty.
    QVERIFY(find(w, QStringLiteral("alpha")));
    field(w)->blockSignals(true);
    field(w)->setText(QString());
    field(w)->blockSignals(false);
    barAction(w, QStringLiteral("Aa"))->setChecked(true);
    QVERIFY(v->highlights.empty());
    QCOMPARE(label(w), QString());
    // Stepping with no hits searches afresh.
    field(w)->setText(QStringLiteral("gamma"));
    next(w);
    QVERIFY(settled(w));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
  }

  void withoutDocumentNothingIsFound() {
    MainWindow w;
    w.findText(QStringLiteral("alpha"));
    QCOMPARE(field(w)->text(), QStringLiteral("alpha"));
    QCOMPARE(label(w), QStringLiteral("нет совпадений"));
    next(w);
    prev(w);
    QCOMPARE(label(w), QStringLiteral("нет совпадений"));
  }

  void tabChangeClearsTheResults() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(other);
    w.openFile(words);
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    p.tabs()->setCurrentIndex(0);
    QCOMPARE(field(w)->text(), QString());
    QCOMPARE(label(w), QString());
    // Nothing of the other tab's hits is left to step through.
    next(w);
    QCOMPARE(label(w), QString());
    QVERIFY(find(w, QStringLiteral("alpha")));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
    // Closing the searched tab also starts the bar afresh.
    p.tabs()->tabCloseRequested(0);
    QCOMPARE(label(w), QString());
  }

  void shortcutsFocusTheFieldAndStepBack() {
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.openFile(words);
    QVERIFY(find(w, QStringLiteral("alpha")));
    w.currentView()->setFocus();
    QTest::keyClick(w.currentView(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(field(w)->hasFocus());
    QCOMPARE(field(w)->selectedText(), QStringLiteral("alpha"));
    QTest::keyClick(field(w), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(label(w), QStringLiteral("5 / 5"));
  }
};

QTEST_MAIN(MainWindowSearchTest)
#include "test_mainwindow_search.moc"
