// Watermark, page numbers and Bates numbers: where each lands on the page, what the window
// says, which file it writes and opens, and that the open tab shows the change at once.
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/text_doc.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

bool near(double a, double b, double tolerance = 0.01) { return std::fabs(a - b) <= tolerance; }

// Every status message in order: a tool's own text is followed at once by the opening of its
// result, which writes a status of its own.
struct StatusLog {
  QStringList messages;
  explicit StatusLog(MainWindow& w) {
    QObject::connect(w.statusBar(), &QStatusBar::messageChanged, &w, [this](const QString& m) {
      if (!m.isEmpty()) messages << m;
    });
  }
  bool saw(const QString& m) const { return messages.contains(m); }
};

bool qpdfChecks(const QString& path) { return run_program({"qpdf", "--check", path.toStdString()}) == 0; }

// The first character box of the first run on `page` that holds `text`; found false without one.
struct Found {
  bool found = false;
  quorvel::CharBox box;
  std::string run;
};
Found findText(quorvel::IDocument& doc, int page, const std::string& text) {
  for (const quorvel::TextRun& r : doc.extract_text(page).runs) {
    const size_t at = r.text.find(text);
    if (at == std::string::npos) continue;
    for (const quorvel::CharBox& c : r.chars)
      if (c.offset == at) return {true, c, r.text};
  }
  return {};
}

std::string numberedPages(int n, double width = 612, double height = 792) {
  std::vector<PageSpec> pages(static_cast<size_t>(n));
  for (PageSpec& p : pages) {
    p.width = width;
    p.height = height;
  }
  return make_pdf(pages);
}

}  // namespace

class MainWindowStampToolsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString letterAndA4, twelve, twelveStreamed, narrow;

  QString out(const char* name) const { return QString::fromStdString(dir.file(name)); }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    PageSpec letter, a4;
    a4.width = 595;
    a4.height = 842;
    letterAndA4 = writeTestFile(dir, "mixed.pdf", make_pdf({letter, a4}));
    twelve = writeTestFile(dir, "twelve.pdf", numberedPages(12));
    twelveStreamed = out("twelve-streamed.pdf");
    QCOMPARE(run_program({"qpdf", "--object-streams=generate", twelve.toStdString(), twelveStreamed.toStdString()}), 0);
    narrow = writeTestFile(dir, "narrow.pdf", numberedPages(1, 80, 200));
  }
  void init() { QSettings().clear(); }

  // A square of 1.2 times the shorter side, one pixel a point, centred on each page; the file
  // written is opened in a new tab while the first tab keeps its stamped document.
  void watermarkIsCentredOnEveryPage() {
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(letterAndA4);
    PdfView* original = w.currentView();
    const QString path = out("w.pdf");
    StatusLog log(w);
    w.watermarkTo(QStringLiteral("КОПИЯ"), path);
    QCOMPARE(log.messages.value(0), QStringLiteral("Водяной знак на 2 стр. → %1").arg(path));
    QCOMPARE(p.status(), QStringLiteral("Открыт w.pdf — безопасность: Чисто"));
    QVERIFY(qpdfChecks(path));
    QCOMPARE(p.tabs()->count(), 2);
    QCOMPARE(w.currentView(), p.view(1));
    const struct {
      double l, b, r, t;
    } expected[] = {{-61, 29, 673, 763}, {-59.5, 64, 654.5, 778}};
    for (PdfView* v : {original, p.view(1)}) {
      for (int page = 0; page < 2; ++page) {
        const auto images = v->doc->list_images(page);
        QCOMPARE(images.size(), size_t{1});
        const auto& e = expected[page];
        QVERIFY2(near(images[0].left, e.l) && near(images[0].bottom, e.b) && near(images[0].right, e.r) &&
                     near(images[0].top, e.t),
                 qPrintable(QStringLiteral("page %1: %2 %3 %4 %5")
                                .arg(page)
                                .arg(images[0].left)
                                .arg(images[0].bottom)
                                .arg(images[0].right)
                                .arg(images[0].top)));
      }
    }
    // Translucent grey over white, not the darker grey that premultiplied pixels would give.
    const QImage page = p.view(1)->renderPageImage(0, 1.0);
    int lightest = 255;
    for (int x = 0; x < page.width(); ++x)
      for (int y = 0; y < page.height(); ++y) lightest = std::min(lightest, qGray(page.pixel(x, y)));
    QVERIFY2(lightest > 200 && lightest < 235, qPrintable(QString::number(lightest)));
  }

  // A page tree whose kids are a null, which PDFium shows as one page (the tree itself): a copy
  // would hold fewer pages than the document stamped, so each tool reports its failure and
  // writes and opens nothing.
  void stampsRefuseACopyWithFewerPages() {
    LangGuard ru(0);
    const QString nulls = writeTestFile(dir, "nulls.pdf", tree_pdf("/Kids null /Count 1"));
    const struct {
      const char* name;
      std::function<void(MainWindow&, const QString&)> run;
      QString failure;
    } tools[] = {
        {"watermark", [](MainWindow& w, const QString& o) { w.watermarkTo(QStringLiteral("КОПИЯ"), o); },
         QStringLiteral("Не удалось добавить водяной знак")},
        {"page numbers", [](MainWindow& w, const QString& o) { w.pageNumbersTo(o); },
         QStringLiteral("Не удалось проставить номера страниц")},
        {"bates", [](MainWindow& w, const QString& o) { w.batesStampTo(QStringLiteral("T"), 1, 6, o); },
         QStringLiteral("Не удалось проставить нумерацию Бейтса")},
    };
    for (const auto& t : tools) {
      MainWindow w;
      WindowProbe p{w};
      w.openFile(nulls);
      QVERIFY(w.currentView());
      const QString path = out("nulls-stamped.pdf");
      t.run(w, path);
      QVERIFY2(p.status() == t.failure, qPrintable(QStringLiteral("%1: %2").arg(t.name, p.status())));
      QVERIFY2(!QFileInfo::exists(path), t.name);
      QCOMPARE(p.tabs()->count(), 1);
    }
  }

  // The picture is stored once for all the pages whose shorter side it fits, not once a page:
  // twelve letter pages share one image, a letter and an A4 page have one each.
  void watermarkSharesOnePicturePerSide() {
    const struct {
      QString file;
      int images;
    } cases[] = {{twelve, 1}, {letterAndA4, 2}};
    for (const auto& c : cases) {
      MainWindow w;
      WindowProbe p{w};
      w.openFile(c.file);
      const QString path = out("shared.pdf");
      w.watermarkTo(QStringLiteral("КОПИЯ"), path);
      QCOMPARE(p.tabs()->count(), 2);
      std::string qdf;
      QCOMPARE(run_program({"qpdf", "--qdf", "--object-streams=disable", path.toStdString(), "-"}, &qdf), 0);
      const auto count = [&qdf](const std::string& what) {
        int n = 0;
        for (size_t at = qdf.find(what); at != std::string::npos; at = qdf.find(what, at + 1)) ++n;
        return n;
      };
      // Each picture is an image and its soft mask.
      QCOMPARE(count("/Subtype /Image"), 2 * c.images);
      QCOMPARE(count("/SMask "), c.images);
    }
  }

  // After the edit the open tab shows the new content: its thumbnails are drawn afresh.
  void openTabShowsTheWatermarkAtOnce() {
    MainWindow w;
    w.resize(1200, 900);
    w.show();
    WindowProbe p{w};
    w.openFile(letterAndA4);
    auto* panel = w.findChild<quorvel::desktop::ThumbnailPanel*>();
    QVERIFY(panel);
    const auto centre = [panel] {
      const QIcon icon = panel->item(0)->icon();
      if (icon.isNull() || icon.availableSizes().isEmpty()) return -1;
      const QImage img = icon.pixmap(icon.availableSizes().first()).toImage();
      return qGray(img.pixel(img.width() / 2, img.height() / 2));
    };
    QTRY_VERIFY(panel->count() == 2 && centre() == 255);
    // A save that fails keeps the tab current; the stamped document is still what it shows.
    w.watermarkTo(QStringLiteral("ЧЕРНОВИК"), out("missing/w.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Не удалось добавить водяной знак"));
    QCOMPARE(p.tabs()->count(), 1);
    QTRY_VERIFY(centre() >= 0 && centre() < 255);
  }

  // With or without annotations, in a file whose cross-references are a table or a stream (as
  // TeX writes them), the document the tab shows, the copy written and the copy opened from it
  // all carry the stamp, and the copy keeps the annotations.
  void stampsLandInEveryOutput_data() {
    QTest::addColumn<int>("tool");
    QTest::addColumn<bool>("annotated");
    QTest::addColumn<bool>("streamed");
    const char* tools[] = {"watermark", "page numbers", "Bates"};
    for (bool streamed : {false, true})
      for (bool annotated : {false, true})
        for (int tool = 0; tool < 3; ++tool)
          QTest::newRow(qPrintable(QStringLiteral("%1%2%3")
                                       .arg(QLatin1String(tools[tool]))
                                       .arg(annotated ? QStringLiteral(", annotated") : QString())
                                       .arg(streamed ? QStringLiteral(", cross-reference stream") : QString())))
              << tool << annotated << streamed;
  }
  void stampsLandInEveryOutput() {
    QFETCH(int, tool);
    QFETCH(bool, annotated);
    QFETCH(bool, streamed);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(streamed ? twelveStreamed : twelve);
    PdfView* original = w.currentView();
    // The store remembers a file's annotations from earlier runs.
    w.clearCurrentAnnotations();
    if (annotated) w.demoAnnotate();
    const QString path = out("annotated.pdf");
    QFile::remove(path);
    if (tool == 0) w.watermarkTo(QStringLiteral("DRAFT"), path);
    if (tool == 1) w.pageNumbersTo(path);
    if (tool == 2) w.batesStampTo(QStringLiteral("TAVI"), 1, 6, path);
    QCOMPARE(p.tabs()->count(), 2);
    const auto stamped = [tool](quorvel::IDocument& doc, int page) {
      if (tool == 0) return doc.list_images(page).size() == 1;
      return findText(doc, page, tool == 1 ? std::to_string(page + 1) + " / 12" : "TAVI00000" + std::to_string(page + 1))
          .found;
    };
    for (PdfView* v : {original, p.view(1)})
      for (int page : {0, 8}) QVERIFY2(stamped(*v->doc, page), qPrintable(QString::number(page)));
    // The file itself, read by another reader.
    std::string listing;
    if (tool == 0) {
      QCOMPARE(run_program({"pdfimages", "-list", path.toStdString()}, &listing), 0);
      QVERIFY2(listing.find(" image ") != std::string::npos, listing.c_str());
    } else {
      QCOMPARE(run_program({"pdftotext", "-f", "9", "-l", "9", path.toStdString(), "-"}, &listing), 0);
      QVERIFY2(listing.find(tool == 1 ? "9 / 12" : "TAVI000009") != std::string::npos, listing.c_str());
    }
    std::string qdf;
    QCOMPARE(run_program({"qpdf", "--qdf", "--object-streams=disable", path.toStdString(), "-"}, &qdf), 0);
    QCOMPARE(qdf.find("/Subtype /Ink") != std::string::npos, annotated);
  }

  void pageNumbersAtTheFoot() {
    LangGuard en(1);
    MainWindow w;
    w.openFile(twelve);
    const QString path = out("n.pdf");
    StatusLog log(w);
    w.pageNumbersTo(path);
    QCOMPARE(log.messages.value(0), QStringLiteral("Page numbers on 12 page(s) → %1").arg(path));
    QVERIFY(qpdfChecks(path));
    quorvel::IDocument& doc = *w.currentView()->doc;
    QCOMPARE(doc.page_count(), 12);
    const Found three = findText(doc, 2, "3 / 12");
    QVERIFY(three.found);
    // The glyph box of "3" starts a little right of the origin and sits on the baseline.
    QVERIFY2(near(three.box.left, 290, 1.0) && near(three.box.bottom, 18, 1.0),
             qPrintable(QStringLiteral("%1 %2").arg(three.box.left).arg(three.box.bottom)));
    QVERIFY(findText(doc, 11, "12 / 12").found);
  }

  void batesNumbers_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("x");
    QTest::newRow("TAVI from 1") << "twelve" << "TAVI" << 1 << 0 << "TAVI000001" << 538.5;
    QTest::newRow("tenth page") << "twelve" << "TAVI" << 1 << 9 << "TAVI000010" << 538.5;
    QTest::newRow("start 0") << "twelve" << "" << 0 << 0 << "000000" << 612 - 24 - 6 * 9 * 0.55;
    QTest::newRow("wider than six digits") << "twelve" << "TAVI" << 999999 << 1 << "TAVI1000000" << 533.55;
    QTest::newRow("held 12 from the left") << "narrow" << "TAVI" << 1 << 0 << "TAVI000001" << 12.0;
    QTest::newRow("Cyrillic prefix") << "twelve" << "ДЕЛО-" << 7 << 0 << "ДЕЛО-000007" << 612 - 24 - 11 * 9 * 0.55;
  }
  void batesNumbers() {
    QFETCH(QString, file);
    QFETCH(QString, prefix);
    QFETCH(int, start);
    QFETCH(int, page);
    QFETCH(QString, text);
    QFETCH(double, x);
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(file == QLatin1String("narrow") ? narrow : twelve);
    const int pages = w.currentView()->pageCount();
    const QString path = out("b.pdf");
    StatusLog log(w);
    w.batesStampTo(prefix, start, 6, path);
    QCOMPARE(log.messages.value(0), QStringLiteral("Нумерация Бейтса на %1 стр. → %2").arg(pages).arg(path));
    QCOMPARE(p.tabs()->count(), 2);
    QVERIFY(qpdfChecks(path));
    const Found f = findText(*w.currentView()->doc, page, text.toStdString());
    QVERIFY2(f.found, qPrintable(text));
    QCOMPARE(QString::fromStdString(f.run).trimmed(), text);
    QVERIFY2(near(f.box.left, x, 1.0), qPrintable(QString::number(f.box.left)));
  }

  // Without the engine's operation nothing is stamped: the failure text, no file, no tab.
  void documentThatTakesNoStampFails() {
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(twelve);
    w.currentView()->setDocument(std::make_unique<TextDoc>(TextDoc::of_texts({"a", "b"})));
    const QString path = out("never.pdf");
    w.watermarkTo(QStringLiteral("X"), path);
    QCOMPARE(p.status(), QStringLiteral("Не удалось добавить водяной знак"));
    w.pageNumbersTo(path);
    QCOMPARE(p.status(), QStringLiteral("Не удалось проставить номера страниц"));
    w.batesStampTo(QStringLiteral("T"), 1, 6, path);
    QCOMPARE(p.status(), QStringLiteral("Не удалось проставить нумерацию Бейтса"));
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(p.tabs()->count(), 1);
  }

  void missingValuesDoNothing() {
    MainWindow w;
    WindowProbe p{w};
    const QString path = out("none.pdf");
    w.watermarkTo(QStringLiteral("X"), path);  // no document
    w.pageNumbersTo(path);
    w.batesStampTo(QString(), 1, 6, path);
    w.watermarkDialog();
    w.batesDialog();
    w.openFile(twelve);
    const QString opened = p.status();
    w.watermarkTo(QString(), path);
    w.watermarkTo(QStringLiteral("X"), QString());
    w.pageNumbersTo(QString());
    w.batesStampTo(QStringLiteral("T"), 1, 6, QString());
    QCOMPARE(p.status(), opened);
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(p.tabs()->count(), 1);
  }
};

QTEST_MAIN(MainWindowStampToolsTest)
#include "test_mainwindow_stamp_tools.moc"
