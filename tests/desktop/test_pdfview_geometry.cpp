// The viewer's geometry: where pages are laid out, how page points and screen pixels map onto
// each other, which page counts as current, and what zooming, rotating and arranging do.
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

#include "FakeDocument.h"
#include "desktop/viewer/PdfView.h"

using quorvel::PageInfo;
using quorvel::annot::Point;
using quorvel::desktop::PdfView;
using quorvel::test::FakeDocument;

namespace {

// A shown view of the given viewport size holding `doc`.
struct Shown {
  PdfView view;
  FakeDocument* doc = nullptr;
  Shown(std::unique_ptr<FakeDocument> d, QSize viewportSize = {800, 600}) {
    doc = d.get();
    view.resize(viewportSize);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setDocument(std::move(d));
  }
};

std::unique_ptr<FakeDocument> pagesOf(std::vector<PageInfo> infos) {
  auto d = std::make_unique<FakeDocument>();
  for (const PageInfo& i : infos) d->pages.push_back({i, qRgb(255, 255, 255), {}, {}});
  return d;
}

void sendWheel(PdfView& v, QPoint angle, Qt::KeyboardModifiers mods) {
  QWheelEvent e(QPointF(10, 10), v.viewport()->mapToGlobal(QPointF(10, 10)), QPoint(), angle,
                Qt::NoButton, mods, Qt::NoScrollPhase, false);
  QApplication::sendEvent(v.viewport(), &e);
}

}  // namespace

class PdfViewGeometryTest : public QObject {
  Q_OBJECT

 private slots:
  void transformsRoundTripForEveryRotation_data() {
    QTest::addColumn<int>("pageRotation");
    QTest::addColumn<int>("viewRotation");
    QTest::addColumn<bool>("landscape");
    for (int own : {0, 90})
      for (int view = 0; view < 4; ++view)
        QTest::addRow("page %d view %d", own, view) << own << view << (((own / 90 + view) & 1) != 0);
  }
  void transformsRoundTripForEveryRotation() {
    QFETCH(int, pageRotation);
    QFETCH(int, viewRotation);
    QFETCH(bool, landscape);
    Shown s(pagesOf({{600, 800, pageRotation}}));
    for (int i = 0; i < viewRotation; ++i) s.view.rotateClockwise();
    QCOMPARE(s.view.viewRotation, viewRotation);
    QCOMPARE(s.view.pageTotalRot(0), (pageRotation / 90 + viewRotation) & 3);

    const auto& l = s.view.layouts.at(0);
    QCOMPARE(l.w, landscape ? 800.0 : 600.0);
    QCOMPARE(l.h, landscape ? 600.0 : 800.0);

    // Every point of the page, corners included, comes back where it started and lands
    // inside the page's rectangle.
    const Point samples[] = {{0, 0}, {600, 800}, {0, 800}, {600, 0}, {123.5, 456.25}, {599, 1}};
    for (const Point& p : samples) {
      const QPointF off = s.view.pdfToDeviceOffset(0, p.x, p.y);
      QVERIFY(off.x() >= -1e-9 && off.x() <= l.w + 1e-9);
      QVERIFY(off.y() >= -1e-9 && off.y() <= l.h + 1e-9);
      double x = -1, y = -1;
      s.view.deviceOffsetToPdf(0, off.x(), off.y(), x, y);
      QCOMPARE(x, p.x);
      QCOMPARE(y, p.y);

      int page = -1;
      Point back;
      QVERIFY(s.view.contentToPage(s.view.pagePointToContent(0, p), page, back));
      QCOMPARE(page, 0);
      QVERIFY(std::abs(back.x - p.x) < 1e-9 && std::abs(back.y - p.y) < 1e-9);
    }
  }

  void knownPointsAndRectangles() {
    Shown s(pagesOf({{600, 800, 0}}));
    // The page's top left corner sits at the margin.
    QCOMPARE(s.view.pagePointToContent(0, {0, 800}), QPointF(12, 12));
    int page = -1;
    Point p;
    QVERIFY(s.view.contentToPage({12, 12}, page, p));
    QCOMPARE(page, 0);
    QCOMPARE(p.x, 0.0);
    QCOMPARE(p.y, 800.0);

    QCOMPARE(s.view.pdfRectToContent(0, 100, 700, 200, 600), QRectF(112, 112, 100, 100));
    // Degenerate boxes still cover a pixel; unknown pages give nothing.
    QCOMPARE(s.view.pdfRectToContent(0, 50, 50, 50, 50), QRectF(62, 762, 1, 1));
    QCOMPARE(s.view.pdfRectToContent(5, 0, 0, 10, 10), QRectF(0, 0, 0, 0));
    QCOMPARE(s.view.pdfRectToContent(-1, 0, 0, 10, 10), QRectF(0, 0, 0, 0));
    QCOMPARE(s.view.pagePointToContent(7, {1, 1}), QPointF(0, 0));
    QCOMPARE(s.view.pageTotalRot(7), 0);

    s.view.setScale(2.0);
    QCOMPARE(s.view.pagePointToContent(0, {10, 790}), QPointF(32, 32));
  }

  void pageEdgesAndGaps() {
    Shown s(pagesOf({{600, 800, 0}, {600, 800, 0}}));
    int page = -1;
    Point p;
    QVERIFY(s.view.contentToPage({612, 400}, page, p));  // right edge belongs to the page
    QCOMPARE(page, 0);
    QCOMPARE(p.x, 600.0);
    QVERIFY(!s.view.contentToPage({612.5, 400}, page, p));
    QVERIFY(!s.view.contentToPage({300, 818}, page, p));  // the gap between the pages
    QVERIFY(s.view.contentToPage({300, 824}, page, p));
    QCOMPARE(page, 1);
    QCOMPARE(p.y, 800.0);
    QVERIFY(!s.view.contentToPage({5, 5}, page, p));  // the margin
  }

  void rowsOfEachViewMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<QPointF>>("origins");
    // Pages 100 x 200, 300 x 100, 200 x 150 at scale 1.
    QTest::newRow("single") << int(PdfView::Single)
                            << QList<QPointF>{{112, 12}, {12, 224}, {62, 336}};
    QTest::newRow("two pages") << int(PdfView::TwoPage)
                               << QList<QPointF>{{12, 12}, {124, 12}, {118, 224}};
    QTest::newRow("book") << int(PdfView::Book) << QList<QPointF>{{218, 12}, {12, 224}, {324, 224}};
    QTest::newRow("other value lays out as book")
        << 7 << QList<QPointF>{{218, 12}, {12, 224}, {324, 224}};
  }
  void rowsOfEachViewMode() {
    QFETCH(int, mode);
    QFETCH(QList<QPointF>, origins);
    Shown s(pagesOf({{100, 200, 0}, {300, 100, 0}, {200, 150, 0}}));
    s.view.setViewMode(static_cast<PdfView::ViewMode>(mode));
    QCOMPARE(int(s.view.layouts.size()), 3);
    for (int i = 0; i < 3; ++i)
      QCOMPARE(QPointF(s.view.layouts[i].x, s.view.layouts[i].y), origins[i]);
  }

  void contentSizeAndScrollRanges() {
    Shown s(pagesOf({{600.4, 800, 0}, {600, 800, 0}}), {500, 700});
    QCOMPARE(s.view.contentWidth(), 625);  // ceil(12 + 600.4) + 12
    QCOMPARE(s.view.contentHeight(), 12 + 800 + 12 + 800 + 12.0);
    QCOMPARE(s.view.horizontalScrollBar()->maximum(), 125);
    QCOMPARE(s.view.verticalScrollBar()->maximum(), 1636 - 700);
    QCOMPARE(s.view.verticalScrollBar()->pageStep(), 700);

    PdfView empty;
    QCOMPARE(empty.contentWidth(), 12);
    QCOMPARE(empty.contentHeight(), 0.0);
  }

  // A hostile file may give a page a side of a billion points; at high zoom its content runs
  // past what an int counts. The bars then end at INT_MAX, and turning to a page or to a search
  // hit beyond that goes as far as the bar reaches, never back to the top.
  void absurdPageSizesStayWithinTheScrollBars() {
    Shown s(pagesOf({{1e9, 200, 0}, {300, 1e9, 0}, {600, 800, 0}}), {800, 600});
    s.view.setScale(64);
    QCOMPARE(s.view.contentWidth(), 2147483647);
    QCOMPARE(s.view.horizontalScrollBar()->maximum(), 2147483647 - 800);
    QCOMPARE(s.view.verticalScrollBar()->maximum(), 2147483647 - 600);

    QScrollBar* bar = s.view.verticalScrollBar();
    s.view.goToPage(3);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(0);
    quorvel::search::DocMatch hit;
    hit.page = 2;
    hit.left = 10;
    hit.right = 50;
    hit.top = 700;
    hit.bottom = 690;
    s.view.setHighlights({hit});
    s.view.setActiveMatch(0);
    QCOMPARE(bar->value(), bar->maximum());
  }

  void currentPageFollowsTheProbe_data() {
    QTest::addColumn<int>("scrollTo");
    QTest::addColumn<int>("expected");
    // Pages 100 pt tall at y 12, 124, 236, ... with a 200 px viewport: probe = scroll + 100.
    QTest::newRow("top") << 0 << 1;
    // Page 1 claims [0, 124) and page 2 [112, 236): in the shared gap the earlier page wins.
    QTest::newRow("shared gap goes to the earlier page") << 12 << 1;
    QTest::newRow("last pixel of page 1's band") << 23 << 1;
    QTest::newRow("page 2 past page 1's band") << 24 << 2;
    QTest::newRow("deep") << 380 << 5;
  }
  void currentPageFollowsTheProbe() {
    QFETCH(int, scrollTo);
    QFETCH(int, expected);
    Shown s(pagesOf(std::vector<PageInfo>(8, {100, 100, 0})), {200, 200});
    s.view.verticalScrollBar()->setValue(scrollTo);
    QCOMPARE(s.view.verticalScrollBar()->value(), scrollTo);
    QCOMPARE(s.view.currentPage(), expected);
    QCOMPARE(s.view.lastEmittedPage, expected);
  }

  void twoPageRowReportsItsLeftPage() {
    Shown s(pagesOf(std::vector<PageInfo>(4, {100, 100, 0})), {300, 200});
    s.view.setViewMode(PdfView::TwoPage);
    s.view.verticalScrollBar()->setValue(112);  // probe 212: second row
    QCOMPARE(s.view.currentPage(), 3);
  }

  void setDocumentAnnouncesThePage() {
    PdfView v;
    v.resize(400, 300);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QSignalSpy changed(&v, &PdfView::pageChanged);
    v.setDocument(nullptr);
    v.setDocument(std::make_unique<FakeDocument>(0));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(v.currentPage(), 0);
    v.goToPage(1);
    v.fitWidth();
    v.fitPage();
    QCOMPARE(v.scale, 1.0);

    v.setDocument(std::make_unique<FakeDocument>(3));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 1);
    // A second document starts over at its top and is announced again.
    v.verticalScrollBar()->setValue(1000);
    changed.clear();
    v.setDocument(std::make_unique<FakeDocument>(2));
    QCOMPARE(v.verticalScrollBar()->value(), 0);
    // Once from the scroll back to the top, once from the announcement itself.
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0).at(0).toInt(), 1);
    QCOMPARE(changed.at(1).at(0).toInt(), 1);

    // Small pages that fit above the middle make a later page current at once.
    changed.clear();
    v.setDocument(pagesOf(std::vector<PageInfo>(6, {50, 40, 0})));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), v.currentPage());
    QVERIFY(v.currentPage() > 1);
  }

  void goToPagePutsTheTopBelowTheMargin() {
    Shown s(pagesOf(std::vector<PageInfo>(5, {600, 800, 0})));
    QSignalSpy changed(&s.view, &PdfView::pageChanged);
    s.view.horizontalScrollBar()->setValue(0);
    s.view.goToPage(3);
    QCOMPARE(s.view.verticalScrollBar()->value(), int(s.view.layouts[2].y - 12));
    QCOMPARE(s.view.currentPage(), 3);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 3);
    for (int bad : {0, -1, 6}) {
      s.view.goToPage(bad);
      QCOMPARE(s.view.currentPage(), 3);
    }
    QCOMPARE(changed.count(), 1);
  }

  void zoomClampsAndKeepsThePage() {
    Shown s(pagesOf(std::vector<PageInfo>(5, {600, 800, 0})));
    QSignalSpy scaled(&s.view, &PdfView::scaleChanged);
    s.view.goToPage(4);
    s.view.setScale(0.05);
    QCOMPARE(s.view.scale, 0.1);
    QCOMPARE(s.view.currentPage(), 4);
    s.view.setScale(100);
    QCOMPARE(s.view.scale, 64.0);
    QCOMPARE(s.view.currentPage(), 4);
    QCOMPARE(scaled.count(), 2);
    QCOMPARE(scaled.last().at(0).toDouble(), 64.0);

    s.view.zoomIn();
    s.view.setScale(64.0);
    s.view.setScale(qQNaN());
    QCOMPARE(scaled.count(), 2);
    QCOMPARE(s.view.scale, 64.0);

    s.view.actualSize();
    QCOMPARE(s.view.scale, 1.0);
    s.view.zoomIn();
    QCOMPARE(s.view.scale, 1.25);
    s.view.zoomOut();
    s.view.zoomOut();
    QCOMPARE(s.view.scale, 0.8);
    QCOMPARE(s.view.layouts[0].w, 480.0);
  }

  void fitWidthAndFitPage() {
    Shown s(pagesOf({{400, 500, 0}, {600, 300, 90}, {500, 500, 0}}), {824, 924});
    s.view.fitWidth();  // widest unrotated width is 600
    QCOMPARE(s.view.scale, 800.0 / 600.0);

    s.view.actualSize();
    s.view.goToPage(2);
    QCOMPARE(s.view.currentPage(), 2);
    s.view.fitPage();  // page 2 shows 300 x 600
    QCOMPARE(s.view.scale, 1.5);  // min(800 / 300, 900 / 600)
    QCOMPARE(s.view.currentPage(), 2);

    Shown flat(pagesOf({{0, 500, 0}}));
    flat.view.fitWidth();
    flat.view.fitPage();
    QCOMPARE(flat.view.scale, 1.0);
  }

  // "Fit page" in the two-page and book layouts fits the whole spread of the current page, also
  // once the scroll bars the new scale needs have taken their room.
  void fitPageFitsTheSpread_data() {
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("page");   // 0: stay where a zoom of 0.2 shows everything
    QTest::addColumn<bool>("bars");  // scroll bars as needed rather than none
    QTest::addColumn<int>("first");  // the spread, 1-based
    QTest::addColumn<int>("last");
    QTest::addColumn<double>("scale");  // 0: not checked exactly
    const double spread = (800.0 - 12) / 1200, tall = 900.0 / 800;
    QTest::newRow("two pages") << 5 << int(PdfView::TwoPage) << 1 << false << 1 << 2 << spread;
    QTest::newRow("two pages, right one current") << 5 << int(PdfView::TwoPage) << 4 << false << 3 << 4 << spread;
    QTest::newRow("book spread") << 5 << int(PdfView::Book) << 3 << false << 2 << 3 << spread;
    QTest::newRow("book cover alone") << 5 << int(PdfView::Book) << 1 << false << 1 << 1 << tall;
    QTest::newRow("single") << 5 << int(PdfView::Single) << 2 << false << 2 << 2 << tall;
    // The vertical bar comes with the fit and narrows the view.
    QTest::newRow("two pages, a bar comes") << 4 << int(PdfView::TwoPage) << 0 << true << 3 << 4 << (810.0 - 36) / 1200;
    // The wider spreads below the cover need the horizontal bar, which takes height.
    QTest::newRow("book cover, both bars") << 5 << int(PdfView::Book) << 1 << true << 1 << 1 << 0.0;
  }
  void fitPageFitsTheSpread() {
    QFETCH(int, pages);
    QFETCH(int, mode);
    QFETCH(int, page);
    QFETCH(bool, bars);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(double, scale);
    Shown s(pagesOf(std::vector<PageInfo>(size_t(pages), {600, 800, 0})), {824, 924});
    PdfView& v = s.view;
    v.setViewMode(PdfView::ViewMode(mode));
    if (bars) {
      v.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      v.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    if (page == 0) v.setScale(0.2);
    QCoreApplication::processEvents();  // the scroll bars come and go through the event loop
    if (page == 0) QVERIFY(!v.verticalScrollBar()->isVisible());
    v.goToPage(page);
    v.fitPage();
    QCoreApplication::processEvents();
    if (scale > 0) QCOMPARE(v.scale, scale);
    const QRectF shown(v.horizontalScrollBar()->value(), v.verticalScrollBar()->value(), v.viewport()->width(),
                       v.viewport()->height());
    for (int p = first; p <= last; ++p) {
      const PdfView::PageLayout& l = v.layouts[size_t(p - 1)];
      QVERIFY2(shown.contains(QRectF(l.x, l.y, l.w, l.h)),
               qPrintable(QStringLiteral("page %1 at %2,%3 %4x%5 outside %6,%7 %8x%9")
                              .arg(p).arg(l.x).arg(l.y).arg(l.w).arg(l.h)
                              .arg(shown.x()).arg(shown.y()).arg(shown.width()).arg(shown.height())));
    }
    QCOMPARE(v.currentPage(), first);
  }

  void rotationAndArrangementKeepThePage() {
    Shown s(pagesOf(std::vector<PageInfo>(6, {600, 800, 0})));
    s.view.goToPage(4);
    s.view.rotateClockwise();
    QCOMPARE(s.view.viewRotation, 1);
    QCOMPARE(s.view.layouts[0].w, 800.0);
    QCOMPARE(s.view.currentPage(), 4);
    s.view.rotateCounterClockwise();
    s.view.rotateCounterClockwise();
    QCOMPARE(s.view.viewRotation, 3);
    QCOMPARE(s.view.currentPage(), 4);
    s.view.setViewMode(PdfView::Book);
    QCOMPARE(s.view.currentPage(), 4);
    QCOMPARE(s.view.viewMode, PdfView::Book);
  }

  void controlWheelZooms() {
    Shown s(pagesOf({{600, 800, 0}}));
    sendWheel(s.view, {0, 120}, Qt::ControlModifier);
    QCOMPARE(s.view.scale, 1.25);
    sendWheel(s.view, {120, 0}, Qt::ControlModifier);  // sideways only: out
    QCOMPARE(s.view.scale, 1.0);
    sendWheel(s.view, {0, -120}, Qt::ControlModifier);
    QCOMPARE(s.view.scale, 0.8);
    sendWheel(s.view, {0, -120}, Qt::NoModifier);
    QCOMPARE(s.view.scale, 0.8);
  }

  void lonePageOfALastRowIsCentred() {
    Shown s(pagesOf({{600, 800, 0}, {300, 400, 0}, {600, 800, 0}}));
    s.view.setViewMode(PdfView::TwoPage);
    // The lone third page is centred under the first row (1212 wide).
    QCOMPARE(s.view.layouts[2].x, (912.0 - 600.0) / 2 + 12);
    // Pages of a row share their top edge.
    QCOMPARE(s.view.layouts[1].y, s.view.layouts[0].y);
    QCOMPARE(s.view.layouts[2].y, 12 + 800 + 12.0);
  }
};

QTEST_MAIN(PdfViewGeometryTest)
#include "test_pdfview_geometry.moc"
