// The window's page-editing and demonstration commands on real documents, the command-line
// options that call them, and a crop that must keep annotations on the content they mark.
#include <QImage>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

#include <algorithm>
#include <string>
#include <vector>

#include "core/engine.h"
#include "desktop/stores/AnnotationStore.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/window/lang.h"
#include "test_mainwindow_support.h"

using quorvel::IDocument;
using quorvel::annot::Annotation;
using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

std::unique_ptr<IDocument> openBytes(const std::string& bytes) {
  return quorvel::make_engine(quorvel::EngineKind::Pdfium)->open(as_bytes(bytes), {});
}

std::string pageText(const IDocument& doc, int page) {
  std::string out;
  for (const quorvel::TextRun& r : doc.extract_text(page).runs) out += r.text;
  return out;
}

std::string stream(const std::string& data, const std::string& dict = "") {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Two Letter pages; the second draws one small image twice, at (100, 100) and (300, 300).
std::string twoPicturesOnPageTwo() {
  return build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 5 0 R >> >> "
      "/Contents 7 0 R >>",
      stream("\x10\x80\x80\x10",
             "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8"),
      stream(""),
      stream("q 50 0 0 40 100 100 cm /Im1 Do Q q 20 0 0 30 300 300 cm /Im1 Do Q"),
  });
}

// The box of `word` on the page, in page points (left, bottom, right, top).
QRectF wordBox(const IDocument& doc, int page, const std::string& word) {
  for (const quorvel::TextRun& r : doc.extract_text(page).runs) {
    const size_t at = r.text.find(word);
    if (at == std::string::npos) continue;
    QRectF box;
    for (const quorvel::CharBox& c : r.chars) {
      if (c.offset < at || c.offset >= at + word.size()) continue;
      const QRectF cb(QPointF(c.left, std::min(c.top, c.bottom)), QPointF(c.right, std::max(c.top, c.bottom)));
      box = box.isNull() ? cb : box.united(cb);
    }
    return box;
  }
  return {};
}

QRectF annotBox(const Annotation& a) { return QRectF(QPointF(a.x0, a.y0), QPointF(a.x1, a.y1)).normalized(); }

Annotation highlightOver(const QRectF& box, const char* id) {
  Annotation a;
  a.id = id;
  a.page = 0;
  a.type = quorvel::annot::AnnotType::Highlight;
  a.color = 0xFFEB3B;
  a.x0 = box.left() - 1;
  a.y0 = box.top() - 1;
  a.x1 = box.right() + 1;
  a.y1 = box.bottom() + 1;
  return a;
}

const Annotation* byId(const std::vector<Annotation>& list, const std::string& id) {
  for (const Annotation& a : list)
    if (a.id == id) return &a;
  return nullptr;
}

// Rendered by PDFium at 1 pixel a point, annotations included.
QImage renderPage(IDocument& doc, int page) {
  const quorvel::PageInfo info = doc.page_info(page);
  quorvel::RenderRequest req;
  req.width = static_cast<int>(info.width);
  req.height = static_cast<int>(info.height);
  const quorvel::RenderedTile t = doc.render_tile(page, req);
  QImage img(t.width, t.height, QImage::Format_ARGB32);
  for (int y = 0; y < t.height; ++y)
    std::memcpy(img.scanLine(y), t.pixels.data() + static_cast<size_t>(y) * t.width * 4, static_cast<size_t>(t.width) * 4);
  return img;
}

// Pixels near `rgb` inside a box given in page points of a page `height` points high.
int pixelsLike(const QImage& img, double height, const QRectF& box, QRgb rgb) {
  int n = 0;
  for (int y = static_cast<int>(height - box.bottom()); y <= static_cast<int>(height - box.top()); ++y)
    for (int x = static_cast<int>(box.left()); x <= static_cast<int>(box.right()); ++x) {
      if (!img.valid(x, y)) continue;
      const QRgb c = img.pixel(x, y);
      if (std::abs(qRed(c) - qRed(rgb)) < 40 && std::abs(qGreen(c) - qGreen(rgb)) < 40 &&
          std::abs(qBlue(c) - qBlue(rgb)) < 60)
        ++n;
    }
  return n;
}

QStringList calls(const QStringList& args) {
  QStringList out;
  for (const auto& a : quorvel::desktop::planCommandLine(quorvel::desktop::scanCommandLine(args))) out << a.call;
  return out;
}

}  // namespace

class MainWindowPageCommandsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString a4, pictures, words;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    std::vector<PageSpec> pages;
    for (const char* t : {"first", "second", "third"}) {
      PageSpec p;
      p.width = 595;
      p.height = 842;
      p.content = std::string("BT /F1 12 Tf 72 720 Td (") + t + ") Tj ET";
      pages.push_back(p);
    }
    a4 = writeTestFile(dir, "a4.pdf", make_pdf(pages));
    pictures = writeTestFile(dir, "pictures.pdf", twoPicturesOnPageTwo());
    words = writeTestFile(dir, "words.pdf", text_pdf({"Target words here and more", "two", "three", "four"}));
  }

  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
    // Each test starts without the annotations an earlier one stored for the same file.
    QDir(QDir::homePath() + QStringLiteral("/.quorvel")).removeRecursively();
  }

  void commandLineOptionsPlanTheirCalls_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    const QStringList none;
    QTest::newRow("table order")
        << QStringList{"--select-demo", "--crop", "1,2,3,4", "--book", "--rotate", "-1", "a.pdf", "--fill-form",
                       "--delete-image", "2,1", "--add-text", "10,20,hi", "--insert-page", "2", "--delete-page",
                       "3", "--rotate-page", "1", "--demo-annot", "--clear-annot"}
        << QStringList{"openFile(a.pdf)", "clearCurrentAnnotations()", "demoAnnotate()", "setLayoutMode(2)",
                       "rotateView(-1)", "rotatePageAt(1)", "deletePageAt(3)", "insertBlankPageAt(2)",
                       "insertTextAt(10, 20, hi)", "deleteImageAt(2, 1)", "cropAllPages(1, 2, 3, 4)",
                       "fillFormDemo()", "selectDemo()"};
    QTest::newRow("last layout flag wins") << QStringList{"--book", "--two"} << QStringList{"setLayoutMode(1)"};
    QTest::newRow("numbers that read as 0")
        << QStringList{"--rotate", "x", "--rotate-page", "0", "--delete-page", "1.5"} << none;
    QTest::newRow("insert needs a positive page") << QStringList{"--insert-page", "-2"} << none;
    QTest::newRow("text keeps its commas")
        << QStringList{"--add-text", "10,20,a, b,c"} << QStringList{"insertTextAt(10, 20, a, b,c)"};
    QTest::newRow("text value starting with a comma") << QStringList{"--add-text", ",20,x"} << none;
    QTest::newRow("text value with one comma") << QStringList{"--add-text", "10,20"} << none;
    QTest::newRow("empty text is still asked for") << QStringList{"--add-text", "1,2,"}
                                                   << QStringList{"insertTextAt(1, 2, )"};
    QTest::newRow("image with empty parts") << QStringList{"--delete-image", ","}
                                            << QStringList{"deleteImageAt(0, 0)"};
    QTest::newRow("image with three parts") << QStringList{"--delete-image", "1,2,3"} << none;
    QTest::newRow("crop with three numbers") << QStringList{"--crop", "1,2,3"} << none;
    QTest::newRow("crop words read as 0") << QStringList{"--crop", "a,0,5.5,b"}
                                          << QStringList{"cropAllPages(0, 0, 5.5, 0)"};
  }
  void commandLineOptionsPlanTheirCalls() {
    QFETCH(QStringList, args);
    QTEST(calls(args), "expected");
  }

  void pageEdits() {
    MainWindow w;
    w.openFile(a4);
    PdfView* v = w.currentView();
    QVERIFY(v);

    QVERIFY(!w.insertBlankPageAt(5));
    QVERIFY(!w.insertBlankPageAt(0));
    QCOMPARE(v->pageCount(), 3);
    QVERIFY(w.insertBlankPageAt(1));
    QCOMPARE(v->pageCount(), 4);
    QCOMPARE(v->doc->page_info(0).width, 595.0);
    QCOMPARE(v->doc->page_info(0).height, 842.0);
    QCOMPARE(pageText(*v->doc, 0), std::string());
    QCOMPARE(pageText(*v->doc, 1), std::string("first"));
    QVERIFY(w.insertBlankPageAt(5));  // one past the last appends
    QCOMPARE(v->pageCount(), 5);

    w.deletePageAt(1);
    QCOMPARE(pageText(*v->doc, 0), std::string("first"));
    w.rotatePageAt(2);
    QCOMPARE(v->doc->page_info(1).rotation, 90);
    QCOMPARE(v->pages[1].rotation, 90);

    QVERIFY(!w.cropAllPages(300, 0, 100, 800));
    QVERIFY(!w.cropAllPages(0, 800, 100, 800));
    QCOMPARE(v->pageCount(), 4);
    QCOMPARE(v->pages[0].width, 595.0);
    QVERIFY(w.cropAllPages(0, 0, 300, 400));
    QCOMPARE(v->pages[0].width, 300.0);
    QCOMPARE(v->pages[2].height, 400.0);
  }

  // A page command that changes nothing says so in the status bar, whether it came from the
  // command line or from the view (the thumbnails' menu); the save that follows names it.
  void refusedPageEditsSaySo_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("pages");
    const QString one = writeTestFile(dir, "one.pdf", text_pdf({"only"}));
    // PDFium counts two pages and cannot walk to the second: it deletes nothing from this tree.
    const QString broken = writeTestFile(dir, "broken-tree.pdf", tree_pdf("/Kids [3 0 R null] /Count 2"));
    const QString nulls = writeTestFile(dir, "nulls.pdf", tree_pdf("/Kids [null] /Count 1"));
    QTest::newRow("the only page") << one << QStringList{"--delete-page", "1"}
                                   << QStringLiteral("Единственную страницу документа удалить нельзя") << 1;
    QTest::newRow("a tree PDFium cannot delete from")
        << broken << QStringList{"--delete-page", "1"} << QStringLiteral("Не удалось удалить страницу 1") << 2;
    QTest::newRow("delete past the end") << a4 << QStringList{"--delete-page", "7"}
                                         << QStringLiteral("Не удалось удалить страницу 7") << 3;
    QTest::newRow("rotate past the end") << a4 << QStringList{"--rotate-page", "4"}
                                         << QStringLiteral("Не удалось повернуть страницу 4") << 3;
    QTest::newRow("insert past the end") << a4 << QStringList{"--insert-page", "9"}
                                         << QStringLiteral("Не удалось вставить страницу 9") << 3;
    QTest::newRow("crop to nothing") << a4 << QStringList{"--crop", "300,0,100,800"}
                                     << QStringLiteral("Не удалось обрезать страницы: пустая область") << 3;
    QTest::newRow("merge a file whose page cannot be taken")
        << a4 << QStringList{"--merge", nulls} << QStringLiteral("Не удалось объединить: %1").arg(nulls) << 3;
  }
  void refusedPageEditsSaySo() {
    QFETCH(QString, file);
    QFETCH(QStringList, args);
    QFETCH(QString, refusal);
    QFETCH(int, pages);
    MainWindow w;
    QStringList log;
    connect(w.statusBar(), &QStatusBar::messageChanged, &w, [&log](const QString& m) {
      if (!m.isEmpty()) log << m;
    });
    quorvel::desktop::runCommandLine(w, QStringList{file} << args);
    PdfView* v = w.currentView();
    QVERIFY(v);
    QVERIFY2(log.contains(refusal), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(v->pageCount(), pages);
  }

  // The save after a refused edit names what the copy lacks; the next one has nothing to name.
  // The thumbnails' menu calls the view, and its refusals reach the window as well.
  void saveAfterARefusalNamesIt() {
    const QString one = writeTestFile(dir, "one.pdf", text_pdf({"only"}));
    const QString saved = QString::fromStdString(dir.file("one-copy.pdf"));
    MainWindow w;
    quorvel::desktop::runCommandLine(w, {one, "--delete-page", "1", "--save", saved});
    PdfView* v = w.currentView();
    QVERIFY(v);
    QCOMPARE(w.statusBar()->currentMessage(),
             QStringLiteral("Сохранено: %1 — не выполнено: Единственную страницу документа удалить нельзя").arg(saved));
    QCOMPARE(openBytes(read_file(saved.toStdString()))->page_count(), 1);
    w.saveDocumentTo(saved);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Сохранено: %1").arg(saved));

    QVERIFY(!v->movePage(0, 3));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Не удалось переместить страницу 1"));
    QVERIFY(!v->deletePage(0));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Единственную страницу документа удалить нельзя"));
  }

  void viewSettings() {
    MainWindow w;
    w.openFile(a4);
    PdfView* v = w.currentView();
    for (auto [steps, rotation] : {std::pair{5, 1}, std::pair{4, 1}, std::pair{-1, 0}, std::pair{2, 2}}) {
      w.rotateView(steps);
      QCOMPARE(v->viewRotation, rotation);
    }
    for (auto [mode, shown] : {std::pair{1, PdfView::TwoPage}, std::pair{2, PdfView::Book}, std::pair{7, PdfView::Single},
                               std::pair{2, PdfView::Book}, std::pair{0, PdfView::Single}}) {
      w.setLayoutMode(mode);
      QCOMPARE(v->viewMode, shown);
    }
    // The document itself did not turn.
    QCOMPARE(v->doc->page_info(0).rotation, 0);
  }

  void imagesByTheirListedNumber() {
    MainWindow w;
    w.openFile(pictures);
    PdfView* v = w.currentView();
    QCOMPARE(v->doc->list_images(1).size(), size_t(2));
    for (auto [page, index] : {std::pair{2, 0}, std::pair{2, 3}, std::pair{1, 1}, std::pair{3, 1}, std::pair{0, 1}})
      QVERIFY2(!w.deleteImageAt(page, index), qPrintable(QStringLiteral("%1,%2").arg(page).arg(index)));
    QCOMPARE(v->doc->list_images(1).size(), size_t(2));
    QCOMPARE(w.statusBar()->currentMessage(), quorvel::desktop::L("Изображение не удалено", "No image was deleted"));
    QVERIFY(w.deleteImageAt(2, 1));
    const auto left = v->doc->list_images(1);
    QCOMPARE(left.size(), size_t(1));
    QCOMPARE(left[0].left, 300.0);
  }

  // An image drawn by a form stays, and the window says that nothing was deleted.
  void imageInsideAFormIsNotDeleted() {
    TempDir own;
    const QString path = writeTestFile(
        own, "form.pdf",
        build_pdf({
            "<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Fm1 4 0 R >> >> "
            "/Contents 6 0 R >>",
            stream("q 50 0 0 40 100 100 cm /Im1 Do Q",
                   "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /Im1 5 0 R >> >>"),
            stream("\x10\x80\x80\x10",
                   "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8"),
            stream("/Fm1 Do"),
        }));
    MainWindow w;
    w.openFile(path);
    QVERIFY(!w.deleteImageAt(1, 1));
    QCOMPARE(w.statusBar()->currentMessage(), quorvel::desktop::L("Изображение не удалено", "No image was deleted"));
  }

  void textGoesOnTheFirstPageWhateverIsShown() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();
    v->resize(600, 400);
    v->goToPage(4);
    QTRY_COMPARE(v->currentPage(), 4);
    const auto hasI = [v] {
      for (const PdfView::SelChar& c : v->pageChars(0))
        if (c.text == QStringLiteral("I")) return true;
      return false;
    };
    QVERIFY(!hasI());  // read once, so the view holds the page's old text
    QVERIFY(!w.insertTextAt(100, 100, QString()));
    QVERIFY(w.insertTextAt(100, 100, QStringLiteral("Inserted")));
    QCOMPARE(pageText(*v->doc, 3), std::string("four"));
    QVERIFY(pageText(*v->doc, 0).find("Inserted") != std::string::npos);
    const QRectF box = wordBox(*v->doc, 0, "Inserted");
    QVERIFY(std::abs(box.left() - 100) < 2);
    QCOMPARE(v->currentPage(), 4);
    // Selection and search read the new text, not what the page held before.
    QVERIFY(hasI());
  }

  void demoTwiceListsTwiceStoresOnce() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();
    w.demoAnnotate();
    QCOMPARE(v->annotations.size(), size_t(11));
    const Annotation* arrow = byId(v->annotations, "demo-arrow");
    QVERIFY(arrow);
    QCOMPARE(arrow->points.size(), size_t(2));
    QCOMPARE(arrow->points[1].y, 354.0);
    const Annotation* text = byId(v->annotations, "demo-freetext");
    QCOMPARE(annotBox(*text), QRectF(QPointF(78, 314), QPointF(300, 354)));
    QCOMPARE(QString::fromStdString(text->text), QStringLiteral("Свободный текст (FreeText)"));
    w.demoAnnotate();
    QCOMPARE(v->annotations.size(), size_t(22));
    const auto stored = v->store->load(v->docHash);
    QCOMPARE(stored.size(), size_t(11));
    std::vector<std::string> ids;
    for (const Annotation& a : stored) ids.push_back(a.id);
    std::sort(ids.begin(), ids.end());
    QVERIFY(std::unique(ids.begin(), ids.end()) == ids.end());
    w.clearCurrentAnnotations();
    QVERIFY(v->annotations.empty());
    QVERIFY(v->store->load(v->docHash).empty());
  }

  void commandsWithoutADocumentDoNothing() {
    MainWindow w;
    w.demoAnnotate();
    w.clearCurrentAnnotations();
    w.setLayoutMode(1);
    w.rotateView(1);
    w.selectDemo();
    w.rotatePageAt(1);
    w.deletePageAt(1);
    w.fillFormDemo();
    QVERIFY(!w.insertBlankPageAt(1));
    QVERIFY(!w.cropAllPages(0, 0, 10, 10));
    QVERIFY(!w.deleteImageAt(1, 1));
    QVERIFY(!w.insertTextAt(1, 1, QStringLiteral("x")));
    QVERIFY(!w.currentView());
  }

  // A highlight over a word still covers that word after a crop moved the page's origin: in
  // the view, in the store (the next start opens the uncropped file), and in a saved copy.
  void cropKeepsAnnotationsOnTheirWords() {
    QString key;
    QRectF original, originalSecond, originalThird;
    const QString saved = QString::fromStdString(dir.file("cropped.pdf"));
    {
      MainWindow w;
      w.openFile(words);
      PdfView* v = w.currentView();
      key = v->docHash;
      original = wordBox(*v->doc, 0, "Target");
      QVERIFY(!original.isEmpty());
      v->addAnnotation(highlightOver(original, "target"));
      QVERIFY(w.cropAllPages(50, 600, 400, 780));

      const QRectF now = wordBox(*v->doc, 0, "Target");
      QVERIFY(std::abs(now.left() - (original.left() - 50)) < 0.01);
      QVERIFY(annotBox(*byId(v->annotations, "target")).contains(now));
      // Drawn after the crop, in the new page space.
      v->addAnnotation(highlightOver(wordBox(*v->doc, 0, "words"), "words"));
      // The cropped page moves down a place and its offset goes with it.
      QVERIFY(w.insertBlankPageAt(1));
      Annotation third = highlightOver(wordBox(*v->doc, 1, "here"), "here");
      third.page = 1;
      v->addAnnotation(third);
      const auto file = openBytes(read_file(words.toStdString()));
      originalSecond = wordBox(*file, 0, "words");
      originalThird = wordBox(*file, 0, "here");
      const auto stored = v->store->load(key);
      QCOMPARE(stored.size(), size_t(3));
      for (const Annotation& a : stored) {
        const QRectF word = a.id == "target" ? original : a.id == "words" ? originalSecond : originalThird;
        QCOMPARE(a.page, 0);
        QVERIFY2(annotBox(a).contains(word), a.id.c_str());
      }
      QVERIFY(v->saveAs(saved));
    }
    {
      MainWindow again;
      again.openFile(words);
      PdfView* v = again.currentView();
      QCOMPARE(v->annotations.size(), size_t(3));
      QVERIFY(annotBox(*byId(v->annotations, "target")).contains(original));
      QVERIFY(annotBox(*byId(v->annotations, "words")).contains(originalSecond));
      QVERIFY(annotBox(*byId(v->annotations, "here")).contains(originalThird));
    }
    auto copy = openBytes(read_file(saved.toStdString()));
    QVERIFY(copy);
    const QImage img = renderPage(*copy, 1);
    const double height = copy->page_info(1).height;
    QCOMPARE(height, 180.0);
    const QRgb yellow = qRgb(0xFF, 0xEB, 0x3B);
    for (const char* word : {"Target", "words", "here"})
      QVERIFY2(pixelsLike(img, height, wordBox(*copy, 1, word), yellow) > 20, word);
    QCOMPARE(pixelsLike(img, height, wordBox(*copy, 1, "more"), yellow), 0);
  }

  // The actions run in their fixed order, not the order given: the demonstration is drawn on
  // the first page before that page is deleted, so it goes with it (the store, which
  // describes the file, keeps it).
  void commandLineDeletesAPageAfterTheDemo() {
    MainWindow w;
    quorvel::desktop::runCommandLine(w, {a4, "--delete-page", "1", "--demo-annot", "--rotate", "1"});
    PdfView* v = w.currentView();
    QVERIFY(v);
    QCOMPARE(v->pageCount(), 2);
    QCOMPARE(pageText(*v->doc, 0), std::string("second"));
    QVERIFY(v->annotations.empty());
    QCOMPARE(v->store->load(v->docHash).size(), size_t(11));
    QCOMPARE(v->viewRotation, 1);
    const QString out = QString::fromStdString(dir.file("deleted.pdf"));
    QVERIFY(v->saveAs(out));
    QCOMPARE(openBytes(read_file(out.toStdString()))->page_count(), 2);
  }

  void savedDemoIsDrawnByAnotherReader() {
    MainWindow w;
    quorvel::desktop::runCommandLine(w, {a4, "--demo-annot"});
    PdfView* v = w.currentView();
    QVERIFY(v);
    QCOMPARE(v->annotations.size(), size_t(11));
    const QString out = QString::fromStdString(dir.file("demo.pdf"));
    QVERIFY(v->saveAs(out));
    const QString prefix = QString::fromStdString(dir.file("demo"));
    QCOMPARE(run_program({"pdftoppm", "-png", "-r", "72", "-f", "1", "-l", "1", "-singlefile", out.toStdString(),
                          prefix.toStdString()}),
             0);
    const QImage img(prefix + ".png");
    QCOMPARE(img.size(), QSize(595, 842));
    QVERIFY(pixelsLike(img, 842, QRectF(QPointF(72, 696), QPointF(370, 728)), qRgb(0xFF, 0xEB, 0x3B)) > 500);
    QVERIFY(pixelsLike(img, 842, QRectF(QPointF(76, 462), QPointF(202, 496)), qRgb(0x2E, 0x7D, 0x32)) > 50);
    QVERIFY(pixelsLike(img, 842, QRectF(QPointF(76, 640), QPointF(302, 656)), qRgb(0xE5, 0x39, 0x35)) > 30);
  }
};

QTEST_MAIN(MainWindowPageCommandsTest)
#include "test_mainwindow_pagecommands.moc"
