// The outline panel: the bookmark tree fully expanded, clicks that turn the viewer, the
// placeholder, and rebinding.
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QSemaphore>
#include <QTimer>
#include <QtTest>

#include <atomic>

#include "ForwardingDocument.h"
#include "common/fixtures.h"
#include "common/manual_like.h"
#include "common/time_bound.h"
#include "desktop/panels/OutlinePanel.h"
#include "desktop/viewer/PdfView.h"
#include "test_panels_fake.h"

using quorvel::IDocument;
using quorvel::OutlineItem;
using quorvel::desktop::OutlinePanel;
using quorvel::desktop::PdfView;
using quorvel::test::FakeDocument;

namespace {

constexpr int kPageRole = Qt::UserRole + 1;

std::unique_ptr<FakeDocument> withOutline(int pages) {
  auto doc = FakeDocument::letter(pages);
  doc->bookmarks = {
      {"Глава 1", 0, {{"Раздел 1.1", 1, {{"Пункт & <b>", 4, {}}}}, {"Без цели", -1, {}}}},
      {"Глава 2", 4, {}},
      {"За концом", 40, {}},
  };
  return doc;
}

// Depth-first titles with their depth, page and expansion.
QStringList shape(QTreeWidget& tree) {
  QStringList out;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* it, int depth) {
    out << QStringLiteral("%1%2 %3%4")
               .arg(QString(depth * 2, QLatin1Char(' ')), it->text(0))
               .arg(it->data(0, kPageRole).toInt())
               .arg(it->childCount() == 0 ? "" : it->isExpanded() ? " open" : " closed");
    for (int i = 0; i < it->childCount(); ++i) walk(it->child(i), depth + 1);
  };
  for (int i = 0; i < tree.topLevelItemCount(); ++i) walk(tree.topLevelItem(i), 0);
  return out;
}

QTreeWidgetItem* find(QTreeWidget& tree, const QString& title) {
  const auto found = tree.findItems(title, Qt::MatchExactly | Qt::MatchRecursive);
  return found.value(0);
}

void click(QTreeWidget& tree, QTreeWidgetItem* item) {
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(item).center());
}

void showView(PdfView& view, std::unique_ptr<IDocument> doc) {
  view.resize(640, 820);
  view.show();
  view.setDocument(std::move(doc));
}

// A shown panel reads beside the window: its tree (or the placeholder) comes a moment later.
bool bindAndWait(OutlinePanel& panel, PdfView* view) {
  panel.setView(view);
  return QTest::qWaitFor([&] { return panel.topLevelItemCount() > 0; });
}

// A real manual-like document whose first outline read stops once, between two bookmarks or
// after the last one, until the test lets it go on or the read is stopped. The engine's lock
// is free while it waits.
class GatedOutline : public quorvel::test::ForwardingDocument {
 public:
  enum Gate { BetweenBookmarks, AfterRead };
  explicit GatedOutline(Gate g)
      : ForwardingDocument(quorvel::make_engine(quorvel::EngineKind::Pdfium)
                               ->open(quorvel::test::as_bytes(quorvel::test::manual_like_pdf({20, 100, false})), "")),
        gate(g) {}

  std::optional<std::vector<OutlineItem>> outline_at(uint64_t since, const std::function<bool()>& stop) const override {
    const bool first = reads++ == 0;
    int steps = 0;
    auto tree = in->outline_at(since, [&] {
      if (first && gate == BetweenBookmarks && ++steps == 3 && !wait(stop)) return true;
      return stop();
    });
    if (first && gate == AfterRead && !wait(stop)) return std::nullopt;
    return tree;
  }

  Gate gate;
  mutable std::atomic<int> reads{0};
  mutable QSemaphore parked;  // released when the read stops at the gate
  mutable QSemaphore opened;  // released by the test to let it go on

 private:
  // False when the read was stopped while it waited.
  bool wait(const std::function<bool()>& stop) const {
    parked.release();
    while (!opened.tryAcquire(1, 5)) {
      if (stop()) return false;
    }
    return true;
  }
};

// Titles and pages depth first, for comparing trees.
QStringList flat(const std::vector<OutlineItem>& items, int depth = 0) {
  QStringList out;
  for (const OutlineItem& o : items) {
    out << QStringLiteral("%1%2 %3").arg(QString(depth * 2, QLatin1Char(' ')), QString::fromStdString(o.title)).arg(o.page);
    out << flat(o.children, depth + 1);
  }
  return out;
}

QStringList flat(QTreeWidget& tree) {
  QStringList out;
  for (const QString& line : shape(tree)) out << QString(line).remove(QStringLiteral(" open"));
  return out;
}

}  // namespace

class OutlinePanelTest : public QObject {
  Q_OBJECT

 private slots:
  void treeShowsEveryBookmarkExpanded() {
    PdfView view;
    showView(view, withOutline(8));
    OutlinePanel panel;
    panel.resize(240, 400);
    panel.show();
    QVERIFY(bindAndWait(panel, &view));
    const QStringList expected{
        "Глава 1 0 open", "  Раздел 1.1 1 open", "    Пункт & <b> 4", "  Без цели -1",
        "Глава 2 4", "За концом 40"};
    QCOMPARE(shape(panel), expected);

    // A double click neither closes nor opens a branch.
    QTreeWidgetItem* chapter = find(panel, "Глава 1");
    QTest::mouseDClick(panel.viewport(), Qt::LeftButton, {}, panel.visualItemRect(chapter).center());
    QVERIFY(chapter->isExpanded());

    // Reading it again gives the same tree, not a second copy.
    QVERIFY(bindAndWait(panel, &view));
    QCOMPARE(shape(panel), expected);
  }

  void clickTurnsTheViewer_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("page");  // one-based, from page 3
    QTest::newRow("page index 4") << "Пункт & <b>" << 5;
    QTest::newRow("first page") << "Глава 1" << 1;
    QTest::newRow("nested") << "Раздел 1.1" << 2;
    QTest::newRow("no target") << "Без цели" << 3;
    QTest::newRow("past the end") << "За концом" << 3;
  }
  void clickTurnsTheViewer() {
    QFETCH(QString, title);
    QFETCH(int, page);
    PdfView view;
    showView(view, withOutline(8));
    view.goToPage(3);
    OutlinePanel panel;
    panel.resize(240, 400);
    panel.show();
    QVERIFY(bindAndWait(panel, &view));
    click(panel, find(panel, title));
    QCOMPARE(view.currentPage(), page);
  }

  void placeholderWithoutBookmarks_data() {
    QTest::addColumn<bool>("hasDocument");
    QTest::newRow("no document") << false;
    QTest::newRow("no bookmarks") << true;
  }
  void placeholderWithoutBookmarks() {
    QFETCH(bool, hasDocument);
    PdfView view;
    showView(view, hasDocument ? FakeDocument::letter(5) : nullptr);
    if (hasDocument) view.goToPage(3);
    const int page = view.currentPage();
    OutlinePanel panel;
    panel.show();
    QVERIFY(bindAndWait(panel, &view));
    QCOMPARE(panel.topLevelItemCount(), 1);
    QTreeWidgetItem* none = panel.topLevelItem(0);
    QCOMPARE(none->text(0), QStringLiteral("Нет оглавления"));
    QCOMPARE(none->flags(), Qt::NoItemFlags);
    // Read as a page it would be 0: the viewer must not go to page 1.
    click(panel, none);
    emit panel.itemClicked(none, 0);
    QCOMPARE(view.currentPage(), page);

    panel.setView(nullptr);
    QCOMPARE(panel.topLevelItemCount(), 0);
  }

  // Behind another dock of a shown window the tree is not read; raised, it is read once the
  // viewer has painted, not inside the raise, and raising it again reads nothing more.
  void readOnlyOnceInSight_data() {
    QTest::addColumn<bool>("pageAlreadyShown");
    QTest::newRow("raised as the page is to paint") << false;
    QTest::newRow("raised long after the page") << true;
  }
  void readOnlyOnceInSight() {
    QFETCH(bool, pageAlreadyShown);
    QMainWindow w;
    auto* view = new PdfView(&w);
    w.setCentralWidget(view);
    auto* panel = new OutlinePanel;
    auto* front = new QDockWidget(QStringLiteral("front"), &w);
    front->setWidget(new QLabel(QStringLiteral("pages")));
    auto* back = new QDockWidget(QStringLiteral("back"), &w);
    back->setWidget(panel);
    w.addDockWidget(Qt::LeftDockWidgetArea, front);
    w.addDockWidget(Qt::LeftDockWidgetArea, back);
    w.tabifyDockWidget(front, back);
    w.resize(900, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    front->raise();
    QTRY_VERIFY(panel->visibleRegion().isEmpty());

    auto doc = withOutline(8);
    const FakeDocument* d = doc.get();
    view->setDocument(std::move(doc));
    panel->setView(view);
    QCOMPARE(d->outlineReads, 0);
    QCOMPARE(panel->topLevelItemCount(), 0);
    if (pageAlreadyShown) {
      // Nothing in the window is to paint when the dock is raised later.
      QTRY_VERIFY(!view->viewport()->visibleRegion().isEmpty());
      QCoreApplication::processEvents();
    }
    back->raise();
    QCOMPARE(d->outlineReads, 0);
    QTRY_COMPARE(panel->topLevelItemCount(), 3);
    QCOMPARE(d->outlineReads, 1);
    QCOMPARE(find(*panel, "Пункт & <b>")->data(0, kPageRole).toInt(), 4);

    front->raise();
    back->raise();
    QCoreApplication::processEvents();
    QCOMPARE(d->outlineReads, 1);
  }

  // The read runs beside the window: while it is under way the window's thread and the engine
  // answer, and the panel shows nothing yet. An edit during the read, or after it but before
  // the tree reaches the panel, makes it read again: the tree is the edited document's, never
  // one mixed from both.
  void treeArrivesBesideTheWindow_data() {
    QTest::addColumn<int>("gate");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<int>("reads");
    QTest::newRow("no edit") << int(GatedOutline::BetweenBookmarks) << false << 1;
    QTest::newRow("edit between bookmarks") << int(GatedOutline::BetweenBookmarks) << true << 2;
    QTest::newRow("edit before the tree is shown") << int(GatedOutline::AfterRead) << true << 2;
  }
  void treeArrivesBesideTheWindow() {
    QFETCH(int, gate);
    QFETCH(bool, edit);
    QFETCH(int, reads);
    PdfView view;
    auto doc = std::make_unique<GatedOutline>(GatedOutline::Gate(gate));
    GatedOutline* gated = doc.get();
    QVERIFY(gated->in);
    const QStringList before = flat(gated->in->outline());
    showView(view, std::move(doc));
    OutlinePanel panel;
    panel.resize(240, 400);
    panel.show();
    panel.setView(&view);
    QTRY_VERIFY_WITH_TIMEOUT(gated->parked.available() > 0, quorvel::test::time_bound_ms(10000));
    QCOMPARE(panel.topLevelItemCount(), 0);
    QVERIFY(!view.renderPageImage(0, 0.5).isNull());
    if (edit) QVERIFY(view.deletePage(0));
    QCoreApplication::processEvents();
    QCOMPARE(panel.topLevelItemCount(), 0);

    gated->opened.release();
    QTRY_VERIFY(panel.topLevelItemCount() > 0);
    QCOMPARE(gated->reads.load(), reads);
    const QStringList now = flat(view.doc->outline());
    QCOMPARE(now.size(), 100);
    QCOMPARE(now != before, edit);  // the edit changed the pages the bookmarks name
    QCOMPARE(flat(panel), now);
  }

  // A read under way ends when its tab closes or the panel moves to another tab: the document
  // may go at once, and the tree read never reaches the panel.
  void readEndsWithItsView_data() {
    QTest::addColumn<int>("gate");
    QTest::addColumn<bool>("close");
    QTest::newRow("tab closed between bookmarks") << int(GatedOutline::BetweenBookmarks) << true;
    QTest::newRow("tab closed before the tree is shown") << int(GatedOutline::AfterRead) << true;
    QTest::newRow("panel moved between bookmarks") << int(GatedOutline::BetweenBookmarks) << false;
    QTest::newRow("panel moved before the tree is shown") << int(GatedOutline::AfterRead) << false;
  }
  void readEndsWithItsView() {
    QFETCH(int, gate);
    QFETCH(bool, close);
    OutlinePanel panel;
    panel.resize(240, 400);
    panel.show();
    auto* view = new PdfView;
    auto doc = std::make_unique<GatedOutline>(GatedOutline::Gate(gate));
    GatedOutline* gated = doc.get();
    showView(*view, std::move(doc));
    panel.setView(view);
    QTRY_VERIFY_WITH_TIMEOUT(gated->parked.available() > 0, quorvel::test::time_bound_ms(10000));

    PdfView other;
    showView(other, withOutline(8));
    if (close) {
      delete view;
      view = nullptr;
      QCoreApplication::processEvents();
      QCOMPARE(panel.topLevelItemCount(), 0);
    }
    QVERIFY(bindAndWait(panel, &other));
    QCoreApplication::processEvents();
    QCOMPARE(panel.topLevelItemCount(), 3);
    QCOMPARE(panel.topLevelItem(0)->text(0), QStringLiteral("Глава 1"));
    if (view) {
      // The stopped read never comes back to the panel, also when its document lives on.
      QCOMPARE(gated->reads.load(), 1);
      delete view;
    }
  }

  // A tool that needs the whole tree (the bookmark editor, the split by bookmarks) waits for
  // it with the window's events going on, and gets nothing once its view or document went.
  void toolReadLetsTheWindowRun_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::newRow("nothing") << "";
    QTest::newRow("document replaced") << "replace";
    QTest::newRow("tab closed") << "close";
  }
  void toolReadLetsTheWindowRun() {
    QFETCH(QString, meanwhile);
    auto* view = new PdfView;
    auto doc = std::make_unique<GatedOutline>(GatedOutline::BetweenBookmarks);
    GatedOutline* gated = doc.get();
    const QStringList expected = flat(gated->in->outline());
    showView(*view, std::move(doc));
    bool ran = false;
    QTimer::singleShot(0, [&] {
      // Runs only while the read is parked beside the window's events.
      ran = gated->parked.tryAcquire(1, quorvel::test::time_bound_ms(10000));
      if (meanwhile == QLatin1String("replace")) {
        view->setDocument(FakeDocument::letter(2));
      } else if (meanwhile == QLatin1String("close")) {
        delete view;
        view = nullptr;
      } else {
        gated->opened.release();
      }
    });
    const std::optional<std::vector<OutlineItem>> tree = quorvel::desktop::readOutlineAnswering(*view);
    QVERIFY(ran);
    QCOMPARE(tree.has_value(), meanwhile.isEmpty());
    if (tree) QCOMPARE(flat(*tree), expected);
    delete view;
  }

  void viewDestroyedBeforeRebinding() {
    OutlinePanel panel;
    panel.resize(240, 400);
    panel.show();
    {
      PdfView view;
      showView(view, withOutline(8));
      QVERIFY(bindAndWait(panel, &view));
    }
    click(panel, find(panel, "Глава 2"));
    PdfView other;
    showView(other, FakeDocument::letter(1));
    QVERIFY(bindAndWait(panel, &other));
    QCOMPARE(panel.topLevelItem(0)->text(0), QStringLiteral("Нет оглавления"));
  }
};

QTEST_MAIN(OutlinePanelTest)
#include "test_panels_outline.moc"
