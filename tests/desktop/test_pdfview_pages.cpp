// Page operations of the viewer on a scripted document: what each edit announces, that a
// failed edit changes nothing, how annotations and the store's page map follow the pages, and
// the sizes of thumbnails and page images.
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include "FakeDocument.h"
#include "desktop/viewer/PdfView.h"

#include <functional>

Q_DECLARE_METATYPE(quorvel::PageInfo)

using quorvel::PageInfo;
using quorvel::annot::Annotation;
using quorvel::desktop::PdfView;
using quorvel::search::DocMatch;
using quorvel::test::FakeDocument;

namespace {

struct Shown {
  PdfView view;
  FakeDocument* doc = nullptr;
  QStringList events;
  explicit Shown(std::unique_ptr<FakeDocument> d, QSize size = {800, 600}) {
    doc = d.get();
    view.resize(size);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setDocument(std::move(d));
    QObject::connect(&view, &PdfView::pageChanged, &view,
                     [this](int p) { events << QStringLiteral("page %1").arg(p); });
    QObject::connect(&view, &PdfView::pageStructureChanged, &view, [this] { events << "structure"; });
    QObject::connect(&view, &PdfView::annotationsChanged, &view, [this] { events << "annotations"; });
  }
};

// Pages whose colours say which page of the original file they are; blank inserts are white.
std::unique_ptr<FakeDocument> numbered(int n) {
  auto d = std::make_unique<FakeDocument>(n);
  for (int i = 0; i < n; ++i) d->pages[i].color = qRgb(10, 20, i);
  return d;
}
int originOf(const FakeDocument& d, int page) {
  const QRgb c = d.pages[page].color;
  return qRed(c) == 10 && qGreen(c) == 20 ? qBlue(c) : -1;
}

Annotation on(int page) {
  Annotation a;
  a.id = "on" + std::to_string(page);
  a.page = page;
  a.x1 = a.y1 = 10;
  return a;
}

}  // namespace

class PdfViewPagesTest : public QObject {
  Q_OBJECT

 private slots:
  void deletingTheShownLastPage() {
    Shown s(std::make_unique<FakeDocument>(3));
    s.view.goToPage(3);
    s.events.clear();
    s.view.deletePage(2);
    QCOMPARE(s.view.pageCount(), 2);
    // The shrinking range moves the view first; the refresh announces the page again.
    QCOMPARE(s.events, (QStringList{"page 2", "page 2", "structure"}));
  }

  void eachEditRefreshesOnce_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("pagesAfter");
    for (auto [op, n] : std::initializer_list<std::pair<const char*, int>>{
             {"delete", 3}, {"rotate", 4}, {"move", 4}, {"insert", 5}, {"crop", 4}, {"merge", 6}})
      QTest::newRow(op) << QString(op) << n;
  }
  void eachEditRefreshesOnce() {
    QFETCH(QString, op);
    QFETCH(int, pagesAfter);
    for (bool fails : {true, false}) {
      auto d = std::make_unique<FakeDocument>(4);
      d->editsFail = fails;
      Shown s(std::move(d));
      s.view.setScale(0.5);
      s.view.rotateClockwise();
      s.view.setViewMode(PdfView::TwoPage);
      s.view.pageChars(0);
      s.view.pageLinks(1);
      s.view.selPage = 0;
      s.view.selStart = 1;
      s.view.selEnd = 3;
      s.view.highlights = {DocMatch{}};
      s.view.activeMatch = 0;
      s.view.selectedId = "sel";
      s.view.navigateToPage(3);
      s.events.clear();

      bool result = !fails;  // what the operations without a result would say
      if (op == "delete") s.view.deletePage(1);
      if (op == "rotate") s.view.rotatePage(1, 1);
      if (op == "move") s.view.movePage(0, 3);
      if (op == "insert") result = s.view.insertBlankPage(1, 100, 100);
      if (op == "crop") result = s.view.cropPage(-1, 0, 0, 10, 10);
      if (op == "merge") s.view.mergePdf(QByteArray("%PDF"));

      if (fails) {
        QVERIFY(!result);
        QVERIFY(s.events.isEmpty());
        QCOMPARE(s.view.pageCount(), 4);
        QCOMPARE(s.view.selPage, 0);
        QCOMPARE(int(s.view.charCache.size()), 1);
        continue;
      }
      QVERIFY(result);
      QCOMPARE(s.view.pageCount(), pagesAfter);
      QCOMPARE(int(s.view.layouts.size()), pagesAfter);
      QCOMPARE(s.events.count("structure"), 1);
      QCOMPARE(s.events.last(), QStringLiteral("structure"));
      QVERIFY(s.events.contains(QStringLiteral("page %1").arg(s.view.currentPage())));
      QVERIFY(s.view.charCache.empty());
      QVERIFY(s.view.linkCache.empty());
      QCOMPARE(s.view.selPage, -1);
      QCOMPARE(s.view.selStart, -1);
      QCOMPARE(s.view.selEnd, -1);
      // What the user set up and was looking for stays.
      QCOMPARE(s.view.scale, 0.5);
      QCOMPARE(s.view.viewRotation, 1);
      QCOMPARE(s.view.viewMode, PdfView::TwoPage);
      QCOMPARE(int(s.view.highlights.size()), 1);
      QCOMPARE(s.view.selectedId, std::string("sel"));
      QCOMPARE(int(s.view.backStack.size()), 1);
    }
  }

  void withoutADocumentNothingHappens() {
    PdfView v;
    QSignalSpy structure(&v, &PdfView::pageStructureChanged);
    QSignalSpy page(&v, &PdfView::pageChanged);
    QVERIFY(!v.insertBlankPage(0, 612, 792));
    QVERIFY(!v.cropPage(-1, 0, 0, 1, 1));
    QVERIFY(!v.saveAs("x.pdf"));
    QVERIFY(!v.saveRange("x.pdf", 0, 0));
    v.deletePage(0);
    v.rotatePage(0, 1);
    v.movePage(0, 1);
    v.mergePdf("%PDF");
    v.refreshStructure();
    v.fillFormDemo();
    QVERIFY(v.renderThumbnail(0, 132).isNull());
    QVERIFY(v.renderPageImage(0, 1).isNull());
    QCOMPARE(structure.count(), 0);
    QCOMPARE(page.count(), 0);
  }

  void emptyMergeIsNotPassedOn() {
    Shown s(std::make_unique<FakeDocument>(2));
    s.view.mergePdf(QByteArray());
    QVERIFY(s.doc->calls.empty());
    QVERIFY(s.events.isEmpty());
    s.view.mergePdf("%PDF-1.7");
    QCOMPARE(s.doc->calls, (std::vector<std::string>{"merge -1"}));
  }

  void rotatingAPageKeepsTheViewRotation() {
    Shown s(std::make_unique<FakeDocument>(3));
    s.view.rotateClockwise();
    s.view.rotatePage(1, 1);
    QCOMPARE(s.view.viewRotation, 1);
    QCOMPARE(s.view.pages[1].rotation, 90);
    QCOMPARE(s.view.layouts[0].w, 800.0);  // turned by the view
    QCOMPARE(s.view.layouts[1].w, 600.0);  // turned by the view and its own quarter
    QCOMPARE(s.view.layouts[2].w, 800.0);
  }

  void annotationsFollowTheirPages() {
    Shown s(numbered(6));
    s.view.annotations = {on(0), on(1), on(4), on(5), on(9)};
    s.events.clear();
    s.view.deletePage(1);
    // The annotation of page 5 (index 4) stays on the same content, now at index 3; the one of
    // the deleted page leaves; one on a page the view never had is left alone.
    QCOMPARE(int(s.view.annotations.size()), 4);
    QCOMPARE(s.view.annotations[0].page, 0);
    QCOMPARE(s.view.annotations[1].id, std::string("on4"));
    QCOMPARE(s.view.annotations[1].page, 3);
    QCOMPARE(s.view.annotations[2].page, 4);
    QCOMPARE(s.view.annotations[3].page, 9);
    QCOMPARE(s.events.last(), QStringLiteral("annotations"));
    QCOMPARE(s.events.count("annotations"), 1);

    // Saved copies get what the view shows.
    QVERIFY(s.view.saveAs("out.pdf"));
    QCOMPARE(int(s.doc->savedAnnotations.size()), 4);
    QCOMPARE(s.doc->savedAnnotations[1].page, 3);

    s.events.clear();
    s.view.rotatePage(0, 1);  // no page moved: the list is not announced
    QVERIFY(!s.events.contains("annotations"));
  }

  void storeMapFollowsEverySequenceOfEdits() {
    Shown s(numbered(6));
    QCOMPARE(s.view.storePageOf(3), 3);
    QCOMPARE(s.view.viewPageOf(3), 3);
    QCOMPARE(s.view.storePageOf(-1), -1);
    QCOMPARE(s.view.viewPageOf(-1), -1);
    for (int i = 0; i < 6; ++i) s.view.annotations.push_back(on(i));

    const std::vector<std::function<void(PdfView&)>> edits = {
        [](PdfView& v) { v.deletePage(1); },
        [](PdfView& v) { v.movePage(0, 3); },
        [](PdfView& v) { QVERIFY(v.insertBlankPage(2, 100, 100)); },
        [](PdfView& v) { v.movePage(4, 0); },
        [](PdfView& v) { v.mergePdf("%PDF"); },
        [](PdfView& v) { v.deletePage(2); },
        [](PdfView& v) { QVERIFY(v.insertBlankPage(0, 100, 100)); },
        [](PdfView& v) { v.movePage(6, 1); },
        [](PdfView& v) { v.deletePage(0); },
    };
    for (size_t step = 0; step < edits.size(); ++step) {
      edits[step](s.view);
      const int n = s.view.pageCount();
      QCOMPARE(n, s.doc->page_count());
      std::vector<bool> seen(6, false);
      for (int v = 0; v < n; ++v) {
        const int origin = originOf(*s.doc, v);
        QCOMPARE(s.view.storePageOf(v), origin);
        if (origin >= 0) {
          seen[origin] = true;
          QCOMPARE(s.view.viewPageOf(origin), v);
        }
      }
      for (int o = 0; o < 6; ++o)
        if (!seen[o]) QCOMPARE(s.view.viewPageOf(o), -1);
      QCOMPARE(s.view.storePageOf(n), -1);
      // Every annotation still lies on the content it was made on.
      for (const Annotation& a : s.view.annotations)
        QCOMPARE(std::to_string(originOf(*s.doc, a.page)), a.id.substr(2));
      int left = 0;
      for (bool b : seen) left += b;
      QCOMPARE(int(s.view.annotations.size()), left);
    }

    // A new document starts with the pages of its file again.
    s.view.setDocument(numbered(3));
    QCOMPARE(s.view.storePageOf(2), 2);
    QCOMPARE(s.view.viewPageOf(1), 1);
  }

  void savingPassesThrough() {
    Shown s(std::make_unique<FakeDocument>(3));
    s.view.annotations = {on(0), on(2)};
    const QString path = QStringLiteral("/tmp/Отчёт 1.pdf");
    QVERIFY(s.view.saveAs(path));
    QCOMPARE(s.doc->savedPath, std::string("/tmp/\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 1.pdf"));
    QCOMPARE(int(s.doc->savedAnnotations.size()), 2);
    QVERIFY(s.view.saveRange(path, 1, 2));
    QCOMPARE(s.doc->calls.back(), std::string("save_range 1 2"));
    s.doc->saveResult = false;
    QVERIFY(!s.view.saveAs(path));
    QVERIFY(!s.view.saveRange(path, 0, 0));
    QVERIFY(s.events.isEmpty());
    QCOMPARE(int(s.view.annotations.size()), 2);
  }

  void imageSizes_data() {
    QTest::addColumn<PageInfo>("page");
    QTest::addColumn<bool>("thumbnail");
    QTest::addColumn<double>("arg");
    QTest::addColumn<QSize>("size");
    const PageInfo letter{612, 792, 0};
    QTest::newRow("thumbnail") << letter << true << 132.0 << QSize(132, 171);
    QTest::newRow("thumbnail of a turned A4 page") << PageInfo{595, 842, 90} << true << 132.0
                                                   << QSize(132, 93);
    QTest::newRow("thumbnail of a page turned twice") << PageInfo{595, 842, 180} << true << 132.0
                                                      << QSize(132, 187);
    QTest::newRow("thumbnail of zero height") << PageInfo{612, 0, 0} << true << 132.0 << QSize();
    QTest::newRow("thumbnail of zero width") << letter << true << 0.0 << QSize();
    QTest::newRow("thin thumbnail is a pixel tall") << PageInfo{612, 1, 0} << true << 132.0
                                                    << QSize(132, 1);
    QTest::newRow("page image") << letter << false << 2.0 << QSize(1224, 1584);
    QTest::newRow("page image of a turned page") << PageInfo{612, 792, 270} << false << 1.0
                                                 << QSize(792, 612);
    QTest::newRow("page image at scale 0") << letter << false << 0.0 << QSize();
    QTest::newRow("page image at a negative scale") << letter << false << -1.0 << QSize();
  }
  void imageSizes() {
    QFETCH(PageInfo, page);
    QFETCH(bool, thumbnail);
    QFETCH(double, arg);
    QFETCH(QSize, size);
    PdfView v;
    auto d = std::make_unique<FakeDocument>(1, page);
    FakeDocument* doc = d.get();
    v.setDocument(std::move(d));
    const QImage img = thumbnail ? v.renderThumbnail(0, static_cast<int>(arg)) : v.renderPageImage(0, arg);
    if (!size.isValid()) {
      QVERIFY(img.isNull());
      QVERIFY(doc->renders.empty());
      return;
    }
    QCOMPARE(img.size(), size);
    QCOMPARE(img.format(), QImage::Format_ARGB32);
    QCOMPARE(img.pixel(size.width() - 1, size.height() - 1), FakeDocument::colorOf(0));
    QCOMPARE(int(doc->renders.size()), 1);
    QCOMPARE(doc->renders[0].req.rotation, 0);
    QCOMPARE(doc->renders[0].req.x, 0);
    QCOMPARE(doc->renders[0].req.y, 0);
  }

  void imagesOfBadPagesOrFailedTilesAreNull() {
    PdfView v;
    auto d = std::make_unique<FakeDocument>(2);
    d->failingPages = {1};
    v.setDocument(std::move(d));
    QVERIFY(v.renderThumbnail(1, 132).isNull());
    QVERIFY(v.renderPageImage(1, 1.0).isNull());
    QVERIFY(v.renderThumbnail(2, 132).isNull());
    QVERIFY(v.renderThumbnail(-1, 132).isNull());
    QVERIFY(v.renderPageImage(5, 1.0).isNull());
    // The image owns its pixels: it outlives the document.
    const QImage kept = v.renderThumbnail(0, 20);
    v.setDocument(nullptr);
    QCOMPARE(kept.pixel(10, 10), FakeDocument::colorOf(0));
  }

  void formDemoTypesIntoTheFocusedField() {
    Shown s(std::make_unique<FakeDocument>(1));
    s.view.fillFormDemo();
    QVERIFY(s.doc->calls.empty());
    QVERIFY(s.doc->typed.empty());

    s.doc->form = true;
    s.view.fillFormDemo();
    QCOMPARE(s.doc->calls, (std::vector<std::string>{"click 0 355 663 down", "click 0 355 663 up"}));
    QString typed;
    for (unsigned u : s.doc->typed) typed += QChar(static_cast<char16_t>(u));
    QCOMPARE(typed, QStringLiteral("Quorvel 2026"));
  }
};

QTEST_MAIN(PdfViewPagesTest)
#include "test_pdfview_pages.moc"
