// What the viewer paints, read back from its pixels: page tiles, failed tiles, search hits,
// the text selection, annotations and the drag preview, plus where the search bar scrolls to.
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <limits>

#include "FakeDocument.h"
#include "desktop/viewer/PdfView.h"

using quorvel::PageInfo;
using quorvel::annot::AnnotType;
using quorvel::annot::Annotation;
using quorvel::desktop::PdfView;
using quorvel::search::DocMatch;
using quorvel::test::FakeDocument;

namespace {

const QRgb kBackground = qRgb(0x16, 0x16, 0x1f);
const QRgb kWhite = qRgb(255, 255, 255);

struct Shown {
  PdfView view;
  FakeDocument* doc = nullptr;
  explicit Shown(std::unique_ptr<FakeDocument> d, QSize size = {800, 600}) {
    doc = d.get();
    view.resize(size);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setDocument(std::move(d));
  }
  QImage grab() {
    doc->renders.clear();
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
};

// White pages make the blended colours easy to predict.
std::unique_ptr<FakeDocument> whitePages(int n, PageInfo info = {600, 800, 0}) {
  auto d = std::make_unique<FakeDocument>(n, info);
  for (auto& p : d->pages) p.color = kWhite;
  return d;
}

// `over` with alpha blended onto white.
QRgb onWhite(int r, int g, int b, int a) {
  auto mix = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
  return qRgb(mix(r), mix(g), mix(b));
}

bool near(QRgb a, QRgb b, int tol = 3) {
  return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
         std::abs(qBlue(a) - qBlue(b)) <= tol;
}

#define QVERIFY_NEAR(actual, expected)                                                         \
  QVERIFY2(near(actual, expected), qPrintable(QStringLiteral("got #%1, want #%2")              \
                                                  .arg(actual & 0xFFFFFF, 6, 16, QChar('0'))   \
                                                  .arg(expected & 0xFFFFFF, 6, 16, QChar('0'))))

DocMatch hit(int page, double left, double top, double right, double bottom) {
  DocMatch m;
  m.page = page;
  m.left = left;
  m.top = top;
  m.right = right;
  m.bottom = bottom;
  return m;
}

Annotation annotation(const char* id, AnnotType type, double x0, double y0, double x1, double y1) {
  Annotation a;
  a.id = id;
  a.type = type;
  a.color = 0x0000FF;
  a.x0 = x0;
  a.y0 = y0;
  a.x1 = x1;
  a.y1 = y1;
  return a;
}

// Rows of column x, between y0 and y1, whose pixel is not `background`.
int paintedRows(const QImage& img, int x, int y0, int y1, QRgb background) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    if (!near(img.pixel(x, y), background, 10)) ++n;
  return n;
}

}  // namespace

class PdfViewPaintTest : public QObject {
  Q_OBJECT

 private slots:
  void emptyViewShowsOnlyItsMessage() {
    PdfView v;
    v.resize(400, 300);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    const QImage img = v.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.pixel(0, 0), kBackground);
    QCOMPARE(img.pixel(399, 299), kBackground);
    QCOMPARE(img.pixel(200, 40), kBackground);
    // The message sits in the middle row band and nowhere else.
    int text = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixel(x, y) != kBackground) {
          ++text;
          QVERIFY(std::abs(y - 150) < 20);
        }
    QVERIFY(text > 20);
  }

  void tilesCoverExactlyTheVisiblePart() {
    Shown s(std::make_unique<FakeDocument>(2));
    s.view.verticalScrollBar()->setValue(100);
    const QImage img = s.grab();
    // Page 1 shows from its 88th row; page 2 is below the viewport.
    QCOMPARE(int(s.doc->renders.size()), 1);
    const auto& r = s.doc->renders[0];
    QCOMPARE(r.page, 0);
    QCOMPARE(r.req.x, 0);
    QCOMPARE(r.req.y, 88);
    QCOMPARE(r.req.width, 600);
    QCOMPARE(r.req.height, 600);
    QCOMPARE(r.req.scale, 1.0);
    QCOMPARE(r.req.rotation, 0);
    QCOMPARE(img.pixel(12, 0), FakeDocument::colorOf(0));
    QCOMPARE(img.pixel(611, 599), FakeDocument::colorOf(0));
    QCOMPARE(img.pixel(11, 300), kBackground);
    QCOMPARE(img.pixel(612, 300), kBackground);

    // At the boundary of both pages each gets the slice it shows.
    s.view.verticalScrollBar()->setValue(700);
    s.view.rotateClockwise();
    s.view.verticalScrollBar()->setValue(500);
    const QImage turned = s.grab();
    QCOMPARE(int(s.doc->renders.size()), 2);
    QCOMPARE(s.doc->renders[0].req.rotation, 1);
    QCOMPARE(s.doc->renders[0].req.y, 488);
    QCOMPARE(s.doc->renders[0].req.height, 112);  // 12 + 600 - 500
    QCOMPARE(s.doc->renders[1].req.y, 0);
    QCOMPARE(s.doc->renders[1].req.height, 600 - 124);
    QCOMPARE(turned.pixel(400, 50), FakeDocument::colorOf(0));
    QCOMPARE(turned.pixel(400, 118), kBackground);
    QCOMPARE(turned.pixel(400, 130), FakeDocument::colorOf(1));
  }

  void failedTileLeavesAnOutlinedWhiteBox() {
    auto d = std::make_unique<FakeDocument>(1);
    d->failingPages = {0};
    Shown s(std::move(d));
    const QImage img = s.grab();
    QCOMPARE(img.pixel(300, 300), kWhite);
    QCOMPARE(img.pixel(12, 300), qRgb(0xb0, 0xb0, 0xb0));
    QCOMPARE(img.pixel(300, 12), qRgb(0xb0, 0xb0, 0xb0));
    QCOMPARE(img.pixel(5, 300), kBackground);
  }

  void hitsAreColouredByRole() {
    Shown s(whitePages(1));
    s.view.setHighlights({hit(0, 100, 700, 160, 680), hit(0, 100, 600, 160, 580),
                          hit(0, 100, 500, 160, 480), hit(3, 0, 10, 10, 0)});
    s.view.activeMatch = 1;
    const QImage img = s.grab();
    const QRgb yellow = onWhite(255, 235, 59, 110);
    const QRgb orange = onWhite(255, 138, 0, 150);
    QVERIFY_NEAR(img.pixel(130, 122), yellow);
    QVERIFY_NEAR(img.pixel(130, 222), orange);
    QVERIFY_NEAR(img.pixel(130, 322), yellow);
    QCOMPARE(img.pixel(130, 140), kWhite);
    // Exact edges: the box runs from pixel 112 to 171 and 112 to 131.
    QVERIFY_NEAR(img.pixel(112, 112), yellow);
    QVERIFY_NEAR(img.pixel(171, 131), yellow);
    QCOMPARE(img.pixel(172, 122), kWhite);
    QCOMPARE(img.pixel(130, 132), kWhite);

    s.view.setHighlights({});
    QCOMPARE(s.view.activeMatch, -1);
    QCOMPARE(s.grab().pixel(130, 122), kWhite);
  }

  void setActiveMatchScrolls() {
    Shown s(whitePages(3), {400, 300});
    const double page2Top = s.view.layouts[1].y;  // 824
    s.view.setHighlights({hit(0, 10, 790, 50, 780), hit(1, 10, 400, 50, 380), hit(2, 200, 400, 400, 380),
                          hit(9, 0, 10, 10, 0)});
    s.view.setActiveMatch(1);
    QCOMPARE(s.view.activeMatch, 1);
    QCOMPARE(s.view.verticalScrollBar()->value(), int(page2Top + 400 - 60));
    QCOMPARE(s.view.horizontalScrollBar()->value(), 0);  // in view already

    s.view.setActiveMatch(2);  // 212 to 412 reaches past the 400 px viewport
    QCOMPARE(s.view.horizontalScrollBar()->value(), 212 - 60);
    s.view.setActiveMatch(1);  // x 22 is left of the view now
    QCOMPARE(s.view.horizontalScrollBar()->value(), 0);

    s.view.setActiveMatch(0);  // near the top: 22 - 60 is negative
    QCOMPARE(s.view.verticalScrollBar()->value(), 0);

    s.view.goToPage(2);
    s.view.setActiveMatch(3);  // a page without a layout: nothing to scroll to
    QCOMPARE(s.view.activeMatch, 3);
    QCOMPARE(s.view.currentPage(), 2);
    for (int bad : {-1, 4}) {
      s.view.setActiveMatch(bad);
      QCOMPARE(s.view.activeMatch, 3);
    }
  }

  void textSelectionIsTinted() {
    Shown s(whitePages(1));
    std::vector<PdfView::SelChar> chars;
    for (int i = 0; i < 5; ++i)
      chars.push_back({100.0 + 10 * i, 700, 110.0 + 10 * i, 690, QStringLiteral("a")});
    s.view.charCache[0] = chars;
    s.view.selPage = 0;
    s.view.selStart = 4;  // backwards: characters 1 to 3
    s.view.selEnd = 1;
    const QImage img = s.grab();
    const QRgb violet = onWhite(124, 92, 255, 90);
    QCOMPARE(img.pixel(117, 117), kWhite);  // character 0
    QVERIFY_NEAR(img.pixel(127, 117), violet);
    QVERIFY_NEAR(img.pixel(147, 117), violet);
    QCOMPARE(img.pixel(157, 117), kWhite);  // character 4

    s.view.selEnd = 4;
    QCOMPARE(s.grab().pixel(127, 117), kWhite);
    // A range past the cached characters stops at their end.
    s.view.selStart = 3;
    s.view.selEnd = 50;
    const QImage tail = s.grab();
    QVERIFY_NEAR(tail.pixel(157, 117), violet);
    QCOMPARE(tail.pixel(167, 117), kWhite);
  }

  void annotationStrokes() {
    Shown s(whitePages(1));
    Annotation ink = annotation("ink", AnnotType::Ink, 0, 0, 0, 0);
    ink.points = {{100, 700}, {300, 700}};
    ink.width = 6;
    ink.opacity = 100;
    Annotation thin = annotation("thin", AnnotType::Rectangle, 100, 500, 300, 600);
    thin.width = 0.2;
    thin.color = 0xFF0000;
    s.view.annotations = {ink, thin};
    const QImage img = s.grab();
    // Ink: 2 px and opaque whatever its stored width and opacity.
    QCOMPARE(paintedRows(img, 200, 100, 130, kWhite), 2);
    QVERIFY_NEAR(img.pixel(200, 112), qRgb(0, 0, 255));
    // The rectangle's 0.2 is drawn 1 px wide.
    QCOMPARE(paintedRows(img, 200, 200, 230, kWhite), 1);
    QVERIFY_NEAR(img.pixel(200, 212), qRgb(255, 0, 0));
  }

  void highlightAndOpacity() {
    Shown s(whitePages(1));
    Annotation h = annotation("h", AnnotType::Highlight, 100, 680, 200, 700);
    h.color = 0x00FF00;
    h.opacity = 10;  // not used for highlights
    Annotation half = annotation("half", AnnotType::Rectangle, 100, 500, 200, 600);
    half.width = 4;
    half.opacity = 128;
    s.view.annotations = {h, half};
    const QImage img = s.grab();
    QVERIFY_NEAR(img.pixel(150, 122), onWhite(0, 255, 0, 110));
    QVERIFY_NEAR(img.pixel(150, 212), onWhite(0, 0, 255, 128));
  }

  // A stored or imported squiggly may reach far past the view, or without end: what is in
  // sight is the wave of a box ending just past the view, and painting it stays as quick.
  void farReachingSquigglyDrawsOnlyItsVisibleWave() {
    Shown s(whitePages(1), {400, 300});
    const Annotation shortBox = annotation("s", AnnotType::Squiggly, 100, 700, 420, 720);
    s.view.annotations = {shortBox};
    const QImage expected = s.grab();
    for (int x : {120, 250, 399}) QVERIFY(paintedRows(expected, x, 100, 120, kWhite) > 0);
    for (double end : {1e12, std::numeric_limits<double>::infinity()}) {
      Annotation far = shortBox;
      far.x1 = end;
      s.view.annotations = {far};
      QCOMPARE(s.grab(), expected);
    }
  }

  // On a turned view the text marks lie along the text and free text wraps along the page's
  // lines: the marks cover the same stretch of the page whatever the turn.
  void textMarksFollowTheTextOnATurnedView_data() {
    QTest::addColumn<int>("type");
    QTest::newRow("underline") << int(AnnotType::Underline);
    QTest::newRow("strikeout") << int(AnnotType::StrikeOut);
    QTest::newRow("squiggly") << int(AnnotType::Squiggly);
    QTest::newRow("free text") << int(AnnotType::FreeText);
  }
  void textMarksFollowTheTextOnATurnedView() {
    QFETCH(int, type);
    Shown s(whitePages(1), {1000, 900});
    Annotation a = annotation("t", AnnotType(type), 60, 650, 360, 700);
    a.width = 2;
    a.text = "Quorvel turned note";
    s.view.annotations = {a};
    // The page area of the blue pixels; for free text only its text, inside the frame.
    auto inkOnPage = [&] {
      const QImage img = s.grab();
      const QPointF scroll(s.view.horizontalScrollBar()->value(), s.view.verticalScrollBar()->value());
      QRect area = s.view.rectPdfToContent(0, {a.x0, a.y0, a.x1, a.y1}).translated(-scroll).toAlignedRect();
      area = type == int(AnnotType::FreeText) ? area.adjusted(4, 4, -4, -4) : area.adjusted(-8, -8, 8, 8);
      QRect ink;
      for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
          const QRgb c = img.pixel(x, y);
          if (qBlue(c) > 150 && qRed(c) < 150 && qGreen(c) < 150) ink |= QRect(x, y, 1, 1);
        }
      int page = -1;
      quorvel::annot::Point p0, p1;
      if (ink.isEmpty() || !s.view.contentToPage(QPointF(ink.topLeft()) + scroll, page, p0) ||
          !s.view.contentToPage(QPointF(ink.bottomRight() + QPoint(1, 1)) + scroll, page, p1))
        return QRectF();
      return QRectF(QPointF(std::min(p0.x, p1.x), std::min(p0.y, p1.y)),
                    QPointF(std::max(p0.x, p1.x), std::max(p0.y, p1.y)));
    };
    const QRectF upright = inkOnPage();
    // Along the text the mark is long, across it short.
    QVERIFY(upright.width() > 100);
    QVERIFY(upright.height() < 20);
    for (int turns : {1, 3}) {
      while (s.view.viewRotation != turns) s.view.rotateClockwise();
      const QRectF turned = inkOnPage();
      const double tolerance = 2.5 / s.view.scale;
      QVERIFY2(std::abs(turned.left() - upright.left()) <= tolerance &&
                   std::abs(turned.right() - upright.right()) <= tolerance &&
                   std::abs(turned.top() - upright.top()) <= tolerance &&
                   std::abs(turned.bottom() - upright.bottom()) <= tolerance,
               qPrintable(QStringLiteral("turn %1: upright %2,%3 %4x%5, turned %6,%7 %8x%9")
                              .arg(turns)
                              .arg(upright.x()).arg(upright.y()).arg(upright.width()).arg(upright.height())
                              .arg(turned.x()).arg(turned.y()).arg(turned.width()).arg(turned.height())));
    }
  }

  void annotationsOfMissingPagesAreNotDrawn() {
    Shown s(whitePages(1));
    Annotation ghost = annotation("g", AnnotType::Highlight, 0, 0, 600, 800);
    ghost.page = 3;
    Annotation note = annotation("n", AnnotType::Note, 0, 0, 600, 800);
    note.page = -2;
    note.text = "text";
    s.view.annotations = {ghost, note};
    s.view.selectedId = "g";
    const QImage img = s.grab();
    for (QPoint p : {QPoint(12, 12), QPoint(20, 20), QPoint(300, 300), QPoint(611, 599)})
      QCOMPARE(img.pixel(p), kWhite);
  }

  void selectedBoxGetsHandlesOnlyUnrotated() {
    Shown s(whitePages(1));
    Annotation r = annotation("r", AnnotType::Rectangle, 100, 500, 300, 600);
    s.view.annotations = {r};
    s.view.selectedId = "r";
    const QRgb blue = qRgb(0x33, 0x66, 0xff);
    // Top left corner of the box is pixel (112, 212); its handle covers 108..115.
    QImage img = s.grab();
    QVERIFY_NEAR(img.pixel(114, 214), blue);
    QVERIFY_NEAR(img.pixel(212, 214), blue);  // top middle
    QCOMPARE(img.pixel(212, 230), kWhite);

    s.view.rotateClockwise();
    img = s.grab();
    const QRectF box = s.view.rectPdfToContent(0, {100, 500, 300, 600});
    const QPoint corner = box.topLeft().toPoint() -
                          QPoint(s.view.horizontalScrollBar()->value(), s.view.verticalScrollBar()->value());
    QCOMPARE(img.pixel(corner + QPoint(2, 2)), kWhite);
    // The dashed frame 3 px outside is still there somewhere along the top edge.
    int frame = 0;
    for (int x = corner.x(); x < corner.x() + 60; ++x)
      if (near(img.pixel(x, corner.y() - 3), blue, 40)) ++frame;
    QVERIFY(frame > 10);
  }

  void selectedLineGetsTwoHandles() {
    Shown s(whitePages(1));
    Annotation l = annotation("l", AnnotType::Line, 100, 600, 300, 700);
    l.points = {{100, 700}, {300, 600}};
    s.view.annotations = {l};
    s.view.selectedId = "l";
    const QRgb blue = qRgb(0x33, 0x66, 0xff);
    const QImage img = s.grab();
    QVERIFY_NEAR(img.pixel(115, 109), blue);  // around (112, 112)
    QVERIFY_NEAR(img.pixel(315, 209), blue);  // around (312, 212)
    // No box handle at the top right corner of the bounds.
    QCOMPARE(img.pixel(309, 115), kWhite);
  }

  void arrowHeadLength() {
    Shown s(whitePages(1));
    Annotation a = annotation("a", AnnotType::Arrow, 0, 0, 0, 0);
    a.points = {{100, 400}, {300, 400}};  // pixels (112, 412) to (312, 412)
    a.width = 2;
    s.view.annotations = {a};
    const QImage img = s.grab();
    // The head reaches 13 px back, its sides 0.5 rad off the shaft: half width 13 sin 0.5 = 6.2.
    QVERIFY_NEAR(img.pixel(302, 412 - 4), qRgb(0, 0, 255));
    QCOMPARE(img.pixel(292, 412 - 4), kWhite);
    QCOMPARE(img.pixel(304, 412 - 8), kWhite);
  }

  void dragPreviewOfAHighlight() {
    Shown s(whitePages(1));
    s.view.toolMode = PdfView::Highlight;
    s.view.dragging = true;
    s.view.dragPage = 0;
    s.view.dragStart = {300, 600};
    s.view.dragCurrent = {100, 700};
    const QImage img = s.grab();
    QVERIFY_NEAR(img.pixel(200, 150), onWhite(0xFF, 0xEB, 0x3B, 70));
    QCOMPARE(img.pixel(200, 250), kWhite);

    s.view.toolMode = PdfView::Rectangle;  // other tools show nothing
    QCOMPARE(s.grab().pixel(200, 150), kWhite);
  }
};

QTEST_MAIN(PdfViewPaintTest)
#include "test_pdfview_paint.moc"
