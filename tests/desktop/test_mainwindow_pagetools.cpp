// Inserting pages (blank or from an image), cropping by margins and the image objects of a
// page: where things land, what is refused, and that nothing is lost on a failed step.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <string>
#include <vector>

#include "ForwardingDocument.h"
#include "desktop/tools/PageTools.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
namespace annot = quorvel::annot;
namespace pagetools = quorvel::desktop::pagetools;
using Box = std::vector<double>;

namespace {

std::string numberedPages(const std::vector<std::pair<double, double>>& sizes) {
  std::vector<PageSpec> pages;
  for (size_t i = 0; i < sizes.size(); ++i) {
    PageSpec p;
    p.width = sizes[i].first;
    p.height = sizes[i].second;
    p.content = "BT /F1 12 Tf 72 100 Td (page " + std::to_string(i + 1) + ") Tj ET";
    pages.push_back(p);
  }
  return make_pdf(pages);
}

std::string firstRun(quorvel::IDocument& doc, int page) {
  const quorvel::TextPage t = doc.extract_text(page);
  return t.runs.empty() ? std::string() : t.runs.front().text;
}

Box boxOf(const quorvel::IDocument::ImageRef& r) { return {r.left, r.bottom, r.right, r.top}; }

bool near(const Box& a, const Box& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::fabs(a[i] - b[i]) > 0.01) return false;
  return true;
}

QDialogButtonBox* buttonsOf(QWidget* w) { return w->findChild<QDialogButtonBox*>(); }

}  // namespace

class MainWindowPageToolsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString mixed, a4Blank, wide, tall, flat, notAnImage;

  // A window showing `pdf` at the given page, large enough for the page to count as shown.
  void openAt(MainWindow& w, const QString& pdf, int page) {
    w.resize(1000, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.openFile(pdf);
    PdfView* view = WindowProbe{w}.view(0);
    QVERIFY(view);
    view->goToPage(page);
    QTRY_COMPARE(view->currentPage(), page);
  }

  QString png(const char* name, int w, int h, QColor color) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(color);
    const QString path = QString::fromStdString(dir.file(name));
    img.save(path, "PNG");
    return path;
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    mixed = writeTestFile(dir, "mixed.pdf", numberedPages({{612, 792}, {500, 700}, {612, 792}}));
    a4Blank = writeTestFile(dir, "a4.pdf", numberedPages({{595, 842}, {595, 842}, {595, 842}}));
    wide = png("wide.png", 1000, 500, Qt::red);
    tall = png("tall.png", 200, 400, Qt::blue);
    flat = png("flat.png", 300, 100, Qt::green);
    notAnImage = writeTestFile(dir, "text.png", "not an image");
  }

  void insertionIndexAndSize_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("where");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::newRow("like the current page, before page 1") << 0 << 0 << 1 << 0 << 612.0 << 792.0;
    QTest::newRow("like the current page, before page 2") << 0 << 0 << 2 << 1 << 500.0 << 700.0;
    QTest::newRow("A4 at the end, whatever is shown") << 1 << 1 << 2 << 3 << 595.0 << 842.0;
    QTest::newRow("a 1000x500 image keeps its aspect ratio") << 2 << 0 << 3 << 2 << 595.0 << 297.5;
  }
  void insertionIndexAndSize() {
    QFETCH(int, kind);
    QFETCH(int, where);
    QFETCH(int, shown);
    QFETCH(int, index);
    QFETCH(double, width);
    QFETCH(double, height);
    LangGuard en(1);
    MainWindow w;
    openAt(w, mixed, shown);
    PdfView* view = WindowProbe{w}.view(0);
    QSignalSpy structure(view, &PdfView::pageStructureChanged);
    QVERIFY(w.insertPageWith(kind, where, kind == pagetools::FromImage ? wide : QString()));
    QCOMPARE(view->pageCount(), 4);
    QCOMPARE(view->doc->page_info(index).width, width);
    QCOMPARE(view->doc->page_info(index).height, height);
    QVERIFY(!structure.isEmpty());
    QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Page inserted (#%1) — save the file (Ctrl+S)").arg(index + 1));
    if (index < 3) QCOMPARE(firstRun(*view->doc, index + 1), "page " + std::to_string(index + 1));
    const auto images = view->doc->list_images(index);
    if (kind == pagetools::FromImage) {
      QCOMPARE(images.size(), size_t{1});
      QVERIFY(near(boxOf(images[0]), {0, 0, 595, 297.5}));
    } else {
      QVERIFY(images.empty());
    }
  }

  void insertionThatCannotFinishLeavesThePagesAsTheyWere() {
    LangGuard en(1);
    MainWindow w;
    openAt(w, mixed, 1);
    PdfView* view = WindowProbe{w}.view(0);
    const QString before = WindowProbe{w}.status();
    // An unreadable image ends the command without a word.
    QVERIFY(!w.insertPageWith(pagetools::FromImage, pagetools::AtEnd, notAnImage));
    QCOMPARE(view->pageCount(), 3);
    QCOMPARE(WindowProbe{w}.status(), before);
    // A picture that cannot be placed takes its blank page away again.
    auto doc = std::make_unique<ForwardingDocument>(std::move(view->doc));
    doc->placeFails = true;
    view->doc = std::move(doc);
    QVERIFY(!w.insertPageWith(pagetools::FromImage, pagetools::BeforeCurrent, wide));
    QCOMPARE(view->pageCount(), 3);
    QCOMPARE(view->doc->page_count(), 3);
    QCOMPARE(firstRun(*view->doc, 0), std::string("page 1"));
    QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Could not insert the page"));
  }

  void insertDialogCallsTheWorker() {
    LangGuard en(1);
    MainWindow w;
    openAt(w, mixed, 1);
    ModalAnswerer answers({[](QWidget* d) {
      const auto combos = d->findChildren<QComboBox*>();
      combos.at(0)->setCurrentIndex(1);  // Blank A4
      combos.at(1)->setCurrentIndex(1);  // At the end
      buttonsOf(d)->button(QDialogButtonBox::Ok)->click();
    }});
    w.insertPageDialog();
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].title, QStringLiteral("Insert page"));
    PdfView* view = WindowProbe{w}.view(0);
    QCOMPARE(view->pageCount(), 4);
    QCOMPARE(view->doc->page_info(3).height, 842.0);
  }

  void cropDialogLimitsMarginsToHalfThePage() {
    LangGuard en(1);
    MainWindow w;
    openAt(w, a4Blank, 1);
    QList<double> maxima;
    QString note;
    ModalAnswerer answers({[&](QWidget* d) {
      const auto boxes = d->findChildren<QDoubleSpinBox*>();
      for (QDoubleSpinBox* b : boxes) maxima << b->maximum();
      if (auto* label = d->findChild<QLabel*>(QStringLiteral("muted"))) note = label->text();
      boxes.at(0)->setValue(297.5);  // left
      boxes.at(1)->setValue(297.5);  // right
      buttonsOf(d)->button(QDialogButtonBox::Ok)->click();
    }});
    w.cropPagesDialog();
    QCOMPARE(maxima, (QList<double>{297.5, 297.5, 421, 421}));
    QCOMPARE(note, QStringLiteral("Page: 595 × 842 pt"));
    QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Margins exceed the page"));
    QCOMPARE(WindowProbe{w}.view(0)->doc->page_info(0).width, 595.0);
  }

  void cropOfOnePageMovesItsAnnotationsWithTheContent() {
    LangGuard en(1);
    MainWindow w;
    openAt(w, a4Blank, 2);
    PdfView* view = WindowProbe{w}.view(0);
    annot::Annotation a;
    a.id = "box";
    a.page = 1;
    a.type = annot::AnnotType::Rectangle;
    a.x0 = 100, a.y0 = 200, a.x1 = 150, a.y1 = 260;
    a.opacity = 255;
    view->addAnnotation(a);
    ModalAnswerer answers({[](QWidget* d) {
      const auto boxes = d->findChildren<QDoubleSpinBox*>();
      boxes.at(0)->setValue(10);  // left
      boxes.at(1)->setValue(20);  // right
      boxes.at(2)->setValue(30);  // top
      boxes.at(3)->setValue(40);  // bottom
      d->findChild<QCheckBox*>()->setChecked(false);
      buttonsOf(d)->button(QDialogButtonBox::Ok)->click();
    }});
    w.cropPagesDialog();
    QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Crop applied — save the file (Ctrl+S)"));
    QCOMPARE(view->doc->page_info(1).width, 565.0);
    QCOMPARE(view->doc->page_info(1).height, 772.0);
    QCOMPARE(view->doc->page_info(0).width, 595.0);
    QCOMPARE(view->doc->page_info(2).height, 842.0);
    QCOMPARE(view->annotations.at(0).x0, 90.0);
    QCOMPARE(view->annotations.at(0).y0, 160.0);

    // The box computed from the shown page (now 565 x 772) goes to every page.
    QVERIFY(w.cropPageMargins(5, 5, 5, 5, true));
    QCOMPARE(view->doc->page_info(0).width, 555.0);
    QCOMPARE(view->doc->page_info(2).height, 762.0);
  }

  void placedImageIsCentredAtHalfThePageWidth() {
    LangGuard en(1);
    MainWindow w;
    openAt(w, a4Blank, 1);
    PdfView* view = WindowProbe{w}.view(0);
    QSignalSpy content(view, &PdfView::pageContentChanged);
    QVERIFY(pagetools::insertImage(*view, 0, png("400x200.png", 400, 200, Qt::black)));
    const auto images = view->doc->list_images(0);
    QCOMPARE(images.size(), size_t{1});
    QVERIFY(near(boxOf(images[0]), {148.75, 346.625, 446.25, 495.375}));
    QCOMPARE(pagetools::imageRows(*view, 0),
             QStringList{QStringLiteral("Image #%1 — 298×149 pt @ (149, 347)").arg(images[0].index)});
    QCOMPARE(content.size(), 1);
    QCOMPARE(content.at(0).at(0).toInt(), 0);
    QVERIFY(!pagetools::insertImage(*view, 0, notAnImage));
    QVERIFY(!pagetools::insertImage(*view, 5, tall));
  }

  void replaceKeepsTheBoxAndDeleteListsWhatIsLeft() {
    MainWindow w;
    openAt(w, a4Blank, 1);
    PdfView* view = WindowProbe{w}.view(0);
    QVERIFY(pagetools::insertImage(*view, 0, wide));
    QVERIFY(pagetools::insertImage(*view, 0, tall));
    const auto before = view->doc->list_images(0);
    QCOMPARE(before.size(), size_t{2});

    QCOMPARE(pagetools::replaceImage(*view, 0, 0, flat), pagetools::Replaced::Done);
    auto now = view->doc->list_images(0);
    QCOMPARE(now.size(), size_t{2});
    QVERIFY(near(boxOf(now[0]), boxOf(before[1])));
    QVERIFY(near(boxOf(now[1]), boxOf(before[0])));  // another aspect ratio, the old box exactly

    QVERIFY(pagetools::deleteImage(*view, 0, 0));
    now = view->doc->list_images(0);
    QCOMPARE(now.size(), size_t{1});
    QVERIFY(near(boxOf(now[0]), boxOf(before[0])));
    QVERIFY(now[0].index < before[1].index);  // objects after the deleted one moved up

    QCOMPARE(pagetools::replaceImage(*view, 0, 1, flat), pagetools::Replaced::Nothing);
    QCOMPARE(pagetools::replaceImage(*view, 0, 0, notAnImage), pagetools::Replaced::Nothing);
    QVERIFY(!pagetools::deleteImage(*view, 0, 1));
    QVERIFY(!pagetools::deleteImage(*view, 0, -1));
  }

  void failedReplacementLosesNoImage() {
    MainWindow w;
    openAt(w, a4Blank, 1);
    PdfView* view = WindowProbe{w}.view(0);
    QVERIFY(pagetools::insertImage(*view, 0, wide));
    const auto before = view->doc->list_images(0);
    auto doc = std::make_unique<ForwardingDocument>(std::move(view->doc));
    ForwardingDocument* fwd = doc.get();
    view->doc = std::move(doc);

    // The placement fails: the old image was never touched.
    fwd->placeFails = true;
    QCOMPARE(pagetools::replaceImage(*view, 0, 0, flat), pagetools::Replaced::Nothing);
    QCOMPARE(view->doc->list_images(0).size(), size_t{1});

    // The old image cannot be taken out: the new one goes again.
    fwd->placeFails = false;
    const int old = before[0].index;
    fwd->deleteAllowed = [old](int, int index) { return index != old; };
    QCOMPARE(pagetools::replaceImage(*view, 0, 0, flat), pagetools::Replaced::Failed);
    const auto after = view->doc->list_images(0);
    QCOMPARE(after.size(), size_t{1});
    QCOMPARE(after[0].index, old);
    QVERIFY(near(boxOf(after[0]), boxOf(before[0])));
  }

  void imagePixelsKeepStraightAlpha() {
    QImage px(1, 1, QImage::Format_ARGB32);
    px.setPixel(0, 0, qRgba(170, 170, 170, 110));
    const QString path = QString::fromStdString(dir.file("translucent.png"));
    QVERIFY(px.save(path, "PNG"));
    int width = -1, height = -1;
    const std::vector<uint8_t> bgra = pagetools::imageFileToBgra(path, width, height);
    QCOMPARE(bgra, (std::vector<uint8_t>{170, 170, 170, 110}));
    QCOMPARE(width, 1);
    QCOMPARE(height, 1);
    int keptW = 7, keptH = 9;
    QVERIFY(pagetools::imageFileToBgra(notAnImage, keptW, keptH).empty());
    QCOMPARE(keptW, 7);
    QCOMPARE(keptH, 9);

    // On white paper the pixel mixes to about 255 - (255 - 170) * 110 / 255.
    MainWindow w;
    openAt(w, a4Blank, 1);
    PdfView* view = WindowProbe{w}.view(0);
    QVERIFY(view->doc->place_image(0, bgra.data(), 1, 1, 0, 0, 595, 842));
    const QImage page = view->renderPageImage(0, 0.1);
    QVERIFY(std::abs(qRed(page.pixel(page.width() / 2, page.height() / 2)) - 218) <= 3);
  }

  void imagesDialogOnAPageWithoutImages() {
    LangGuard en(1);
    MainWindow w;
    openAt(w, a4Blank, 2);
    QStringList rows;
    ModalAnswerer answers({[&](QWidget* d) {
      auto* list = d->findChild<QListWidget*>();
      for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
      list->setCurrentRow(0);
      // Neither asks for a file: the row stands for no image.
      for (QPushButton* b : d->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Replace…") || b->text() == QStringLiteral("Delete")) b->click();
      buttonsOf(d)->button(QDialogButtonBox::Close)->click();
    }});
    w.pageImagesDialog();
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.unexpected, 0);
    QCOMPARE(answers.seen[0].title, QStringLiteral("Images on page 2"));
    QCOMPARE(rows, QStringList{QStringLiteral("(no images)")});
    QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Image edits applied — save the file (Ctrl+S)"));
  }

  void toolsWithoutADocumentAskForOne() {
    LangGuard en(1);
    MainWindow w;
    for (auto tool : {&MainWindow::insertPageDialog, &MainWindow::cropPagesDialog, &MainWindow::pageImagesDialog}) {
      w.statusBar()->clearMessage();
      (w.*tool)();
      QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Open a PDF first"));
    }
  }
};

QTEST_MAIN(MainWindowPageToolsTest)
#include "test_mainwindow_pagetools.moc"
