// The outline panel: the bookmark tree fully expanded, clicks that turn the viewer, the
// placeholder, and rebinding.
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QtTest>

#include "desktop/panels/OutlinePanel.h"
#include "desktop/viewer/PdfView.h"
#include "test_panels_fake.h"

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

void showView(PdfView& view, std::unique_ptr<FakeDocument> doc) {
  view.resize(640, 820);
  view.show();
  view.setDocument(std::move(doc));
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
    panel.setView(&view);
    const QStringList expected{
        "Глава 1 0 open", "  Раздел 1.1 1 open", "    Пункт & <b> 4", "  Без цели -1",
        "Глава 2 4", "За концом 40"};
    QCOMPARE(shape(panel), expected);

    // A double click neither closes nor opens a branch.
    QTreeWidgetItem* chapter = find(panel, "Глава 1");
    QTest::mouseDClick(panel.viewport(), Qt::LeftButton, {}, panel.visualItemRect(chapter).center());
    QVERIFY(chapter->isExpanded());

    // Reading it again gives the same tree, not a second copy.
    panel.setView(&view);
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
    panel.setView(&view);
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
    panel.setView(&view);
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

  void viewDestroyedBeforeRebinding() {
    OutlinePanel panel;
    panel.resize(240, 400);
    panel.show();
    {
      PdfView view;
      showView(view, withOutline(8));
      panel.setView(&view);
    }
    click(panel, find(panel, "Глава 2"));
    PdfView other;
    showView(other, FakeDocument::letter(1));
    panel.setView(&other);
    QCOMPARE(panel.topLevelItem(0)->text(0), QStringLiteral("Нет оглавления"));
  }
};

QTEST_MAIN(OutlinePanelTest)
#include "test_panels_outline.moc"
