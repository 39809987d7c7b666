// The page thumbnails beside the viewer: items, highlighting without navigation, clicks, the
// page menu and its actions, rebinding, and rendering that keeps the window responsive.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QtTest>

#include <functional>

#include "desktop/viewer/PdfView.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "test_panels_fake.h"

using quorvel::PageInfo;
using quorvel::desktop::PdfView;
using quorvel::desktop::ThumbnailPanel;
using quorvel::test::FakeDocument;
using quorvel::test::FakePage;
using quorvel::test::iconImage;

namespace {

// The document as the view shows it, so the test can keep a hand on it after the hand-over.
FakeDocument* show(PdfView& view, std::unique_ptr<FakeDocument> doc) {
  FakeDocument* d = doc.get();
  view.resize(640, 820);
  view.show();
  view.setDocument(std::move(doc));
  return d;
}

bool renderable(const FakePage& p) { return p.info.width > 0 && p.info.height > 0 && !p.fails; }

// Every page that can be rendered has its image.
bool allRendered(const ThumbnailPanel& panel, const FakeDocument& doc) {
  if (panel.count() != doc.page_count()) return false;
  for (int i = 0; i < panel.count(); ++i) {
    if (renderable(doc.pages[size_t(i)]) && panel.item(i)->icon().isNull()) return false;
  }
  return true;
}

QColor colourOf(uint32_t rgb) { return QColor(QRgb(0xFF000000u | rgb)); }

bool inSight(ThumbnailPanel& panel, int row) {
  return panel.visualItemRect(panel.item(row)).intersects(panel.viewport()->rect());
}

struct MenuSeen {
  bool shown = false;
  QStringList texts;   // separators as "-"
  QList<bool> enabled;
};

// Opens the page menu the way a right click does and, while it runs, records it and hands it
// to act (which may choose an entry); without act the menu is closed with Escape.
MenuSeen openMenu(ThumbnailPanel& panel, QPoint pos, std::function<void(QMenu*)> act = {}) {
  MenuSeen seen;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    seen.shown = true;
    for (QAction* a : menu->actions()) {
      seen.texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
      seen.enabled << a->isEnabled();
    }
    if (act)
      act(menu);
    else
      QTest::keyClick(menu, Qt::Key_Escape);
  });
  QContextMenuEvent e(QContextMenuEvent::Mouse, pos, panel.viewport()->mapToGlobal(pos));
  QApplication::sendEvent(panel.viewport(), &e);
  // A menu that never opened must not leave the timer for the next test.
  QCoreApplication::processEvents();
  return seen;
}

std::function<void(QMenu*)> choose(const QString& text) {
  return [text](QMenu* menu) {
    for (QAction* a : menu->actions()) {
      if (a->text() == text) {
        menu->setActiveAction(a);
        QTest::keyClick(menu, Qt::Key_Return);
        return;
      }
    }
    QTest::keyClick(menu, Qt::Key_Escape);
  };
}

QPoint centreOf(ThumbnailPanel& panel, int row) {
  panel.scrollToItem(panel.item(row));
  return panel.visualItemRect(panel.item(row)).center();
}

}  // namespace

class ThumbnailPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void itemsShowNumberImageAndSize() {
    std::vector<FakePage> pages{
        {{612, 792, 0}, 0xFF0000},    // 132 x 171
        {{792, 612, 0}, 0x00FF00},    // landscape: 132 x 102
        {{612, 792, 90}, 0x0000FF},   // turned by its own rotation: 132 x 102
        {{612, 0, 0}, 0x888888},      // no height: no image
        {{612, 792, 0}, 0x123456, true},  // the engine fails
    };
    PdfView view;
    FakeDocument* doc = show(view, std::make_unique<FakeDocument>(pages));
    ThumbnailPanel panel;
    panel.resize(180, 900);
    panel.show();
    panel.setView(&view);
    QCOMPARE(panel.count(), 5);
    QTRY_VERIFY(allRendered(panel, *doc));

    const QList<QSize> hints{{156, 201}, {156, 132}, {156, 132}, {156, 162}, {156, 162}};
    for (int i = 0; i < 5; ++i) {
      QListWidgetItem* it = panel.item(i);
      QCOMPARE(it->text(), QString::number(i + 1));
      QCOMPARE(it->data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignHCenter));
      QCOMPARE(it->sizeHint(), hints[i]);
      const auto [size, colour] = iconImage(it->icon());
      if (i < 3) {
        QCOMPARE(size, QSize(132, hints[i].height() - 30));
        QCOMPARE(colour, colourOf(pages[size_t(i)].rgb));
      } else {
        QVERIFY2(it->icon().isNull(), "a page without an image has no icon");
      }
    }
  }

  void highlightSelectsWithoutTurningTheView() {
    PdfView view;
    show(view, FakeDocument::letter(5));
    ThumbnailPanel panel;
    panel.resize(180, 600);
    panel.show();
    QSignalSpy turned(&view, &PdfView::pageChanged);
    panel.setView(&view);
    QCOMPARE(panel.currentRow(), 0);
    const int scroll = view.verticalScrollBar()->value();

    panel.highlightPage(3);
    QCOMPARE(panel.currentRow(), 2);
    for (int outside : {0, -1, 6, 100}) {
      panel.highlightPage(outside);
      QCOMPARE(panel.currentRow(), 2);
    }
    QCOMPARE(view.verticalScrollBar()->value(), scroll);
    QCOMPARE(view.currentPage(), 1);
    QCOMPARE(turned.count(), 0);
    QVERIFY(!panel.signalsBlocked());
  }

  void clickTurnsTheViewToThatPage() {
    PdfView view;
    show(view, FakeDocument::letter(6));
    ThumbnailPanel panel;
    panel.resize(180, 500);
    panel.show();
    panel.setView(&view);
    for (int row : {3, 5, 0}) {
      QTest::mouseClick(panel.viewport(), Qt::LeftButton, {}, centreOf(panel, row));
      QCOMPARE(panel.currentRow(), row);
      QCOMPARE(view.currentPage(), row + 1);
    }
  }

  // After a rebuild the current page is highlighted again, so taking the keyboard focus does
  // not make row 0 current and send the viewer back to page 1.
  void rebuildKeepsTheViewersPage() {
    PdfView view;
    show(view, FakeDocument::letter(6));
    ThumbnailPanel panel;
    panel.resize(180, 500);
    panel.show();
    view.goToPage(4);
    panel.setView(&view);
    QCOMPARE(panel.currentRow(), 3);

    view.rotatePage(5, 1);
    QCOMPARE(panel.count(), 6);
    QCOMPARE(panel.currentRow(), view.currentPage() - 1);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&panel, &in);
    QCOMPARE(view.currentPage(), 4);
    QCOMPARE(panel.currentRow(), 3);
  }

  void menuEntriesFollowTheRow_data() {
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("up");
    QTest::addColumn<bool>("down");
    QTest::newRow("first") << 3 << 0 << false << true;
    QTest::newRow("middle") << 3 << 1 << true << true;
    QTest::newRow("last") << 3 << 2 << true << false;
    QTest::newRow("only page") << 1 << 0 << false << false;
  }
  void menuEntriesFollowTheRow() {
    QFETCH(int, pages);
    QFETCH(int, row);
    QFETCH(bool, up);
    QFETCH(bool, down);
    PdfView view;
    FakeDocument* doc = show(view, FakeDocument::letter(pages));
    ThumbnailPanel panel;
    panel.resize(180, 800);
    panel.show();
    panel.setView(&view);
    const MenuSeen seen = openMenu(panel, centreOf(panel, row));
    QVERIFY(seen.shown);
    QCOMPARE(seen.texts, (QStringList{"Повернуть страницу вправо", "Переместить вверх",
                                      "Переместить вниз", "-", "Удалить страницу"}));
    QCOMPARE(seen.enabled[0], true);
    QCOMPARE(seen.enabled[1], up);
    QCOMPARE(seen.enabled[2], down);
    QCOMPARE(seen.enabled[4], true);
    // Closed without a choice: nothing changed.
    QCOMPARE(doc->page_count(), pages);
    QCOMPARE(panel.count(), pages);
  }

  void menuActionsEditThePages_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QList<int>>("order");  // original page of each page afterwards
    QTest::addColumn<int>("rotation");      // of the page that was on row 1
    QTest::newRow("rotate") << "Повернуть страницу вправо" << QList<int>{0, 1, 2} << 90;
    QTest::newRow("up") << "Переместить вверх" << QList<int>{1, 0, 2} << 0;
    QTest::newRow("down") << "Переместить вниз" << QList<int>{0, 2, 1} << 0;
    QTest::newRow("delete") << "Удалить страницу" << QList<int>{0, 2} << 0;
  }
  void menuActionsEditThePages() {
    QFETCH(QString, entry);
    QFETCH(QList<int>, order);
    QFETCH(int, rotation);
    PdfView view;
    FakeDocument* doc = show(view, FakeDocument::letter(3));
    const std::vector<FakePage> before = doc->pages;
    ThumbnailPanel panel;
    panel.resize(180, 800);
    panel.show();
    panel.setView(&view);
    QTRY_VERIFY(allRendered(panel, *doc));

    QVERIFY(openMenu(panel, centreOf(panel, 1), choose(entry)).shown);
    QCOMPARE(doc->page_count(), int(order.size()));
    for (int i = 0; i < order.size(); ++i) QCOMPARE(doc->pages[size_t(i)].rgb, before[size_t(order[i])].rgb);
    const auto turned = std::find_if(doc->pages.begin(), doc->pages.end(),
                                     [&](const FakePage& p) { return p.rgb == before[1].rgb; });
    if (turned != doc->pages.end()) QCOMPARE(turned->info.rotation, rotation);

    // The list was rebuilt from the edited document: numbers, images and sizes.
    QCOMPARE(panel.count(), int(order.size()));
    QTRY_VERIFY(allRendered(panel, *doc));
    for (int i = 0; i < panel.count(); ++i) {
      QCOMPARE(panel.item(i)->text(), QString::number(i + 1));
      const auto [size, colour] = iconImage(panel.item(i)->icon());
      QCOMPARE(colour, colourOf(doc->pages[size_t(i)].rgb));
      const bool landscape = doc->pages[size_t(i)].info.rotation == 90;
      QCOMPARE(size.height(), landscape ? 102 : 171);
      QCOMPARE(panel.item(i)->sizeHint().height(), size.height() + 30);
    }
  }

  void noMenuWhereItIsNotOffered() {
    PdfView view;
    show(view, FakeDocument::letter(2));
    ThumbnailPanel panel;
    panel.resize(180, 800);
    panel.show();
    panel.setView(&view);
    const QRect first = panel.visualItemRect(panel.item(0));
    const QRect last = panel.visualItemRect(panel.item(1));
    QVERIFY(last.bottom() + 20 < panel.viewport()->height());

    QVERIFY(!openMenu(panel, QPoint(first.center().x(), last.bottom() + 15)).shown);
    QVERIFY(!openMenu(panel, QPoint(first.center().x(), (first.bottom() + last.top()) / 2)).shown);
    panel.pageMenuEnabled = false;
    QVERIFY(!openMenu(panel, first.center()).shown);
    panel.pageMenuEnabled = true;
    QVERIFY(openMenu(panel, first.center()).shown);

    ThumbnailPanel unbound;
    unbound.show();
    QVERIFY(!openMenu(unbound, QPoint(20, 20)).shown);
  }

  // The menu runs an event loop of its own; the tab may close meanwhile.
  void viewClosedWhileTheMenuIsOpen() {
    auto* view = new PdfView;
    FakeDocument* doc = show(*view, FakeDocument::letter(3));
    (void)doc;
    ThumbnailPanel panel;
    panel.resize(180, 800);
    panel.show();
    panel.setView(view);
    const MenuSeen seen = openMenu(panel, centreOf(panel, 1), [&](QMenu* menu) {
      delete view;
      choose("Удалить страницу")(menu);
    });
    QVERIFY(seen.shown);
    // The panel keeps its stale list but never reaches the dead view.
    QTest::mouseClick(panel.viewport(), Qt::LeftButton, {}, centreOf(panel, 2));
    panel.highlightPage(1);
    QVERIFY(!openMenu(panel, centreOf(panel, 0)).shown);
    panel.setView(nullptr);
    QCOMPARE(panel.count(), 0);
  }

  // Meanwhile the panel may also move to another tab's view: the choice was made on a page of
  // the first one and must not edit the page at that row of the other.
  void viewSwitchedWhileTheMenuIsOpen() {
    PdfView first, other;
    FakeDocument* doc = show(first, FakeDocument::letter(3));
    FakeDocument* otherDoc = show(other, FakeDocument::letter(3));
    ThumbnailPanel panel;
    panel.resize(180, 800);
    panel.show();
    panel.setView(&first);
    const MenuSeen seen = openMenu(panel, centreOf(panel, 1), [&](QMenu* menu) {
      panel.setView(&other);
      choose("Удалить страницу")(menu);
    });
    QVERIFY(seen.shown);
    QCOMPARE(otherDoc->page_count(), 3);
    QCOMPARE(doc->page_count(), 3);
    QCOMPARE(panel.count(), 3);
  }

  void rebindingReplacesTheListAndKeepsImages() {
    int rendersA = 0, rendersB = 0;
    PdfView a, b;
    FakeDocument* docA = show(a, FakeDocument::letter(3, &rendersA));
    FakeDocument* docB = show(b, FakeDocument::letter(5, &rendersB));
    ThumbnailPanel panel;
    panel.resize(180, 800);
    panel.show();

    panel.setView(&a);
    panel.setView(&a);
    QCOMPARE(panel.count(), 3);
    QTRY_VERIFY(allRendered(panel, *docA));
    QCOMPARE(rendersA, 3);

    panel.setView(&b);
    QCOMPARE(panel.count(), 5);
    QTRY_VERIFY(allRendered(panel, *docB));
    // The old view's edits no longer reach the panel.
    a.deletePage(0);
    QCOMPARE(panel.count(), 5);

    // Back to a tab already seen: its images are there at once, nothing is rendered again,
    // except after an edit made while the panel showed the other tab.
    panel.setView(&b);
    QVERIFY(allRendered(panel, *docB));
    QCOMPARE(rendersB, 5);
    panel.setView(&a);
    QCOMPARE(panel.count(), 2);
    QTRY_VERIFY(allRendered(panel, *docA));
    QCOMPARE(rendersA, 5);
    QCOMPARE(iconImage(panel.item(0)->icon()).second, colourOf(FakeDocument::colourOf(1)));

    // Rebuilding on purpose renders afresh.
    panel.rebuild();
    QTRY_VERIFY(allRendered(panel, *docA));
    QCOMPARE(rendersA, 7);

    panel.setView(nullptr);
    QCOMPARE(panel.count(), 0);
    b.deletePage(0);
    QCOMPARE(panel.count(), 0);
  }

  void viewDestroyedBeforeRebinding() {
    ThumbnailPanel panel;
    panel.resize(180, 400);
    panel.show();
    {
      PdfView view;
      show(view, FakeDocument::letter(40));
      panel.setView(&view);
    }
    // The view died with images still to render: let every pending render turn come round (a
    // zero timer started now fires after those started before it).
    bool turned = false;
    QTimer::singleShot(0, &panel, [&turned] { turned = true; });
    QTRY_VERIFY(turned);
    QTest::mouseClick(panel.viewport(), Qt::LeftButton, {}, centreOf(panel, 1));
    panel.rebuild();
    QCOMPARE(panel.count(), 0);
    PdfView other;
    FakeDocument* doc = show(other, FakeDocument::letter(2));
    panel.setView(&other);
    QTRY_VERIFY(allRendered(panel, *doc));
  }

  // Every item exists at once with its size; the rows in sight are rendered before setView
  // returns, the rows near them a few at a time between events. Only rows near sight hold
  // images: the others give theirs up and render again when they come back into sight.
  void rendersWhatIsInSightAndKeepsOnlyItsSurroundings() {
    int renders = 0;
    auto fake = FakeDocument::letter(300, &renders);
    fake->renderDelayUs = 1000;
    PdfView view;
    show(view, std::move(fake));
    view.goToPage(250);
    ThumbnailPanel panel;
    panel.resize(180, 700);
    panel.show();
    panel.setView(&view);

    QCOMPARE(panel.count(), 300);
    for (int i = 0; i < 300; ++i) QCOMPARE(panel.item(i)->sizeHint(), QSize(156, 201));
    QCOMPARE(panel.currentRow(), 249);
    QVERIFY(inSight(panel, 249));
    for (int i = 0; i < 300; ++i) {
      if (inSight(panel, i)) QVERIFY2(!panel.item(i)->icon().isNull(), qPrintable(QString::number(i)));
    }
    QVERIFY(renders < 30);

    // Images are exactly on the rows within keptRows of sight, once the panel is done.
    auto imagesMatchSight = [&] {
      int first = -1, last = -1;
      for (int i = 0; i < panel.count(); ++i) {
        if (!inSight(panel, i)) continue;
        if (first < 0) first = i;
        last = i;
      }
      for (int i = 0; i < panel.count(); ++i) {
        const bool near = i >= first - ThumbnailPanel::keptRows && i <= last + ThumbnailPanel::keptRows;
        if (panel.item(i)->icon().isNull() == near) return false;
      }
      return first >= 0;
    };
    QTRY_VERIFY(!panel.rendering());
    QVERIFY(imagesMatchSight());
    const int settled = renders;
    QVERIFY(settled < 60);

    // Scroll to the end, far from row 249: the rows in sight come first, the old ones go.
    panel.verticalScrollBar()->setValue(panel.verticalScrollBar()->maximum());
    QVERIFY(!inSight(panel, 249));
    QVERIFY(panel.item(299)->icon().isNull());
    QCoreApplication::processEvents();
    for (int i = 0; i < 300; ++i) {
      if (inSight(panel, i)) QVERIFY2(!panel.item(i)->icon().isNull(), qPrintable(QString::number(i)));
    }
    QVERIFY(panel.item(249)->icon().isNull());
    QTRY_VERIFY(!panel.rendering());
    QVERIFY(imagesMatchSight());
    QVERIFY(renders < settled + 60);

    // Back again: the page's image is rendered anew, its row never changed its size.
    const int before = renders;
    panel.scrollToItem(panel.item(249));
    QCoreApplication::processEvents();
    QVERIFY(!panel.item(249)->icon().isNull());
    QCOMPARE(iconImage(panel.item(249)->icon()).second, colourOf(FakeDocument::colourOf(249)));
    QVERIFY(renders > before);
    QTRY_VERIFY(!panel.rendering());
    QVERIFY(imagesMatchSight());
    for (int i = 0; i < 300; ++i) QCOMPARE(panel.item(i)->sizeHint(), QSize(156, 201));
  }

  // A panel out of sight (its dock hidden as a file opens, or behind another) keeps setView
  // free of rendering, so the page comes first; its images follow between events.
  // Each image takes longer than a slice, as on a loaded machine: the last one still ends the
  // rendering in the same step.
  void hiddenPanelRendersBetweenEvents() {
    int renders = 0;
    PdfView view;
    auto slow = FakeDocument::letter(4, &renders);
    slow->renderDelayUs = 15000;
    FakeDocument* doc = show(view, std::move(slow));
    ThumbnailPanel panel;
    panel.resize(180, 900);
    panel.setView(&view);
    QCOMPARE(panel.count(), 4);
    QCOMPARE(renders, 0);
    QVERIFY(panel.rendering());
    QTRY_VERIFY(allRendered(panel, *doc));
    QVERIFY(!panel.rendering());
    QCOMPARE(renders, 4);
  }
};

QTEST_MAIN(ThumbnailPanelTest)
#include "test_panels.moc"
