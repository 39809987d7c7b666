// The viewer over the real engine: search hits over their glyphs on a page whose crop box does
// not start at zero, page images of turned pages, typing into form fields, and page edits that
// reach the saved file.
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QtTest>

#include "common/fixtures.h"
#include "core/search.h"
#include "desktop/viewer/PdfView.h"
#include "qt_contract.h"
#include "test_pdfview_tools_input.h"

using quorvel::EngineKind;
using quorvel::make_engine;
using quorvel::desktop::PdfView;
namespace test = quorvel::test;

namespace {

std::unique_ptr<quorvel::IDocument> open(const std::string& pdf) {
  return make_engine(EngineKind::Pdfium)->open(test::as_bytes(pdf), "");
}

// The value of each text field of a saved file, as qpdf reads it: "name=value" lines.
// Two empty text fields in Helvetica: "first" over (100, 600)-(400, 630), "second" 100 points
// lower.
std::string twoFieldForm() {
  return test::build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 6 0 R] /DA (/Helv 14 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R 6 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (first) /Rect [100 600 400 630] /P 4 0 R "
      "/DA (/Helv 14 Tf 0 g) /F 4 >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (second) /Rect [100 500 400 530] /P 4 0 R "
      "/DA (/Helv 14 Tf 0 g) /F 4 >>",
  });
}

QString fieldValues(const std::string& path) {
  std::string out;
  if (test::run_program({"qpdf", "--json", "--json-key=acroform", path}, &out) != 0) return {};
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
  const QJsonArray fields = root["acroform"].toObject()["fields"].toArray();
  QStringList lines;
  for (const QJsonValue& f : fields) {
    QString value = f.toObject()["value"].toString();
    value.remove(QRegularExpression("^u:"));  // qpdf's mark of a text string
    lines << f.toObject()["fullname"].toString() + "=" + value;
  }
  lines.sort();
  return lines.join('\n');
}

bool dark(QRgb c) { return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100; }
bool blue(QRgb c) { return qRed(c) < 40 && qGreen(c) < 40 && qBlue(c) > 215; }

// Bounding box of the dark pixels inside `area`.
QRect inkBox(const QImage& img, QRect area) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (dark(img.pixel(x, y))) box |= QRect(x, y, 1, 1);
  return box;
}

}  // namespace

class PdfViewEngineTest : public QObject {
  Q_OBJECT

 private slots:
  void hitsCoverTheirGlyphsWhateverTheCropOrigin() {
    test::PageSpec page;
    page.media_box = "[100 100 712 892]";
    page.content = "BT /F1 36 Tf 172 800 Td (World) Tj ET";
    auto doc = open(test::make_pdf({page}));
    QVERIFY(doc);
    const auto hits = quorvel::search::search_document(*doc, "World", {}, 10);
    QCOMPARE(int(hits.size()), 1);

    PdfView v;
    v.resize(800, 600);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    v.setDocument(std::move(doc));
    const QImage plain = v.viewport()->grab().toImage();
    const QPoint scroll(v.horizontalScrollBar()->value(), v.verticalScrollBar()->value());
    const QRect hit = v.matchRectContent(0, hits[0]).translated(-scroll).toAlignedRect();
    const auto& l = v.layouts[0];
    const QRect pageArea = QRectF(l.x, l.y, l.w, l.h).translated(-scroll).toRect().intersected(plain.rect());
    const QRect ink = inkBox(plain, pageArea.adjusted(1, 1, -1, -1));
    QVERIFY(!ink.isEmpty());
    // The glyphs lie within the hit's box and fill most of its width.
    QVERIFY2(hit.adjusted(-2, -2, 2, 2).contains(ink),
             qPrintable(QStringLiteral("hit %1,%2 %3x%4 ink %5,%6 %7x%8")
                            .arg(hit.x()).arg(hit.y()).arg(hit.width()).arg(hit.height())
                            .arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height())));
    QVERIFY(ink.width() * 10 >= hit.width() * 8);

    v.setHighlights(hits);
    const QImage marked = v.viewport()->grab().toImage();
    const QPoint inside = hit.center();
    QVERIFY(marked.pixel(inside) != plain.pixel(inside));
    QCOMPARE(marked.pixel(hit.right() + 3, hit.center().y()), plain.pixel(hit.right() + 3, hit.center().y()));
  }

  void turnedPagesFillTheirImages() {
    test::PageSpec a4;
    a4.width = 595;
    a4.height = 842;
    a4.extra = "/Rotate 90";
    a4.content = "0 0 1 rg 0 0 595 842 re f";
    PdfView v;
    v.setDocument(open(test::make_pdf({a4})));
    QCOMPARE(v.pageCount(), 1);

    const QImage thumb = v.renderThumbnail(0, 132);
    QCOMPARE(thumb.size(), QSize(132, 93));
    const QImage image = v.renderPageImage(0, 1.0);
    QCOMPARE(image.size(), QSize(842, 595));
    // No white band along any edge: the page reaches every border pixel.
    for (const QImage& img : {thumb, image}) {
      for (int x = 0; x < img.width(); ++x) {
        QVERIFY2(blue(img.pixel(x, 0)), qPrintable(QString::number(x)));
        QVERIFY2(blue(img.pixel(x, img.height() - 1)), qPrintable(QString::number(x)));
      }
      for (int y = 0; y < img.height(); ++y) {
        QVERIFY(blue(img.pixel(0, y)));
        QVERIFY(blue(img.pixel(img.width() - 1, y)));
      }
    }
  }

  void sizesOfARealLetterPage() {
    PdfView v;
    v.setDocument(open(test::text_pdf({"alpha"})));
    QCOMPARE(v.renderThumbnail(0, 132).size(), QSize(132, 171));
    QCOMPARE(v.renderPageImage(0, 2.0).size(), QSize(1224, 1584));
    QVERIFY(v.renderPageImage(0, 0).isNull());
    // The letter page renders its text: something dark lies where the text is drawn.
    const QImage img = v.renderPageImage(0, 1.0);
    QVERIFY(!inkBox(img, QRect(60, 50, 120, 40)).isEmpty());
  }

  // Each click on a text field moves the typing there, whichever field had it before.
  void typingFollowsTheClickedField() {
    const std::string pdf = twoFieldForm();
    test::TempDir dir;
    PdfView v;
    v.resize(800, 600);
    v.setDocument(open(pdf));
    QVERIFY(v.doc && v.doc->has_form());
    auto type = [&](const QString& text) {
      for (QChar c : text) test::key(v, Qt::Key_unknown, Qt::NoModifier, QString(c));
    };
    test::click(v, 0, 150, 615);
    type("abc");
    test::click(v, 0, 150, 515);
    type("xyz");
    test::click(v, 0, 300, 615);
    type("d");
    const QString path = QString::fromStdString(dir.file("form.pdf"));
    QVERIFY(v.saveAs(path));
    QCOMPARE(fieldValues(path.toStdString()), QStringLiteral("first=abcd\nsecond=xyz"));
  }

  // Keys reach the field as typed: Backspace corrects, in Russian as in Latin text.
  void backspaceCorrectsTheField() {
    const std::string pdf = twoFieldForm();
    test::TempDir dir;
    PdfView v;
    v.resize(800, 600);
    v.setDocument(open(pdf));
    auto type = [&](const QString& text) {
      for (QChar c : text) test::key(v, Qt::Key_unknown, Qt::NoModifier, QString(c));
    };
    test::click(v, 0, 150, 615);
    type(QStringLiteral("ABCЖук"));
    for (int i = 0; i < 3; ++i) test::key(v, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    type(QStringLiteral("Ivan"));
    test::key(v, Qt::Key_Home);
    test::key(v, Qt::Key_Right);
    test::key(v, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    const QString path = QString::fromStdString(dir.file("form.pdf"));
    QVERIFY(v.saveAs(path));
    QCOMPARE(fieldValues(path.toStdString()), QStringLiteral("first=BCIvan\nsecond="));
  }

  // A triple click takes the whole line, across the spaces between its words, and no more.
  void tripleClickSelectsTheLine() {
    test::PageSpec page;
    page.content =
        "BT /F1 14 Tf 72 700 Td (Above the line) Tj ET "
        "BT /F1 14 Tf 72 670 Td (Alpha beta gamma delta) Tj ET "
        "BT /F1 14 Tf 72 640 Td (Below it) Tj ET";
    PdfView v;
    v.resize(800, 600);
    v.setDocument(open(test::make_pdf({page})));
    const auto& chars = v.pageChars(0);
    const QPointF beta = test::at(v, 0, 122, 674);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
      test::mouse(v, type, beta);
    auto selected = [&] {
      QString text;
      for (int i = std::min(v.selStart, v.selEnd); i < std::max(v.selStart, v.selEnd); ++i)
        text += chars.at(static_cast<size_t>(i)).text;
      return text;
    };
    QCOMPARE(v.selPage, 0);
    QCOMPARE(selected(), QStringLiteral("Alpha beta gamma delta"));

    // The same from a space of the line, which the click may find first.
    const auto space = std::find_if(chars.begin(), chars.end(), [](const PdfView::SelChar& c) {
      return c.text == " " && c.y1 < 680 && c.y1 > 660;
    });
    QVERIFY(space != chars.end());
    v.selectLineAt(0, static_cast<int>(space - chars.begin()));
    QCOMPARE(selected(), QStringLiteral("Alpha beta gamma delta"));
  }

  // Copying three lines gives them with one line break between each two, whether the writer ends
  // its lines in the text (TeX) or only moves to the next one (Qt's PDF writer).
  void copyBreaksBetweenLinesOnce_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("Qt's PDF writer") << QStringLiteral("qt");
    QTest::newRow("TeX manual") << QStringLiteral("tex");
  }
  void copyBreaksBetweenLinesOnce() {
    QFETCH(QString, kind);
    test::TempDir dir;
    std::string pdf;
    int page = 0, firstRun = 0;
    if (kind == QLatin1String("qt")) {
      const QString path = QString::fromStdString(dir.file("contract.pdf"));
      QVERIFY(test::writeQtLines(path, {QStringLiteral("Договор поставки № 17 от 1 марта 2024 года"),
                                        QStringLiteral("Общество с ограниченной ответственностью «Ромашка»"),
                                        QStringLiteral("именуемое в дальнейшем Поставщик")}));
      pdf = test::read_file(path.toStdString());
    } else {
      const std::string path = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
      if (!QFileInfo::exists(QString::fromStdString(path))) QSKIP("the TeX manual is not installed");
      pdf = test::read_file(path);
      page = 4;
      firstRun = 3;  // three lines of running text
    }
    std::unique_ptr<quorvel::IDocument> doc = open(pdf);
    QVERIFY(doc);
    const std::vector<quorvel::TextRun> runs = doc->extract_text(page).runs;
    QVERIFY(runs.size() >= size_t(firstRun) + 3);
    int from = 0;
    for (int r = 0; r < firstRun; ++r) from += int(runs[size_t(r)].chars.size());
    int to = from;
    QStringList lines;
    for (int r = firstRun; r < firstRun + 3; ++r) {
      to += int(runs[size_t(r)].chars.size());
      lines << QString::fromStdString(runs[size_t(r)].text);
    }
    PdfView v;
    v.resize(800, 600);
    v.setDocument(std::move(doc));
    v.pageChars(page);
    v.setTextSelection(page, from, to);
    v.copySelection();
    const QString copied = QGuiApplication::clipboard()->text(QClipboard::Clipboard);
    QCOMPARE(copied, lines.join(QLatin1Char('\n')));
    QCOMPARE(copied.count(QLatin1Char('\n')), 2);
    QVERIFY(!copied.contains(QLatin1Char('\r')));
    if (kind == QLatin1String("qt")) QVERIFY(copied.contains(QStringLiteral("2024 года\nОбщество")));
  }

  void pageEditsReachTheSavedFile() {
    test::TempDir dir;
    PdfView v;
    v.setDocument(open(test::text_pdf({"one", "two", "three"})));
    v.deletePage(0);
    QVERIFY(v.insertBlankPage(2, 300, 300));
    v.movePage(0, 1);  // three, two, blank
    QCOMPARE(v.pageCount(), 3);
    QCOMPARE(v.storePageOf(0), 2);
    QCOMPARE(v.storePageOf(1), 1);
    QCOMPARE(v.storePageOf(2), -1);
    QCOMPARE(v.viewPageOf(0), -1);

    const QString path = QString::fromStdString(dir.file("saved копия.pdf"));
    QVERIFY(v.saveAs(path));
    auto saved = open(test::read_file(path.toStdString()));
    QVERIFY(saved);
    QCOMPARE(saved->page_count(), 3);
    auto textOf = [&](int p) {
      std::string s;
      for (const auto& r : saved->extract_text(p).runs) s += r.text;
      return s;
    };
    QCOMPARE(textOf(0), std::string("three"));
    QCOMPARE(textOf(1), std::string("two"));
    QCOMPARE(textOf(2), std::string());
    QCOMPARE(saved->page_info(2).width, 300.0);

    QVERIFY(v.saveRange(QString::fromStdString(dir.file("range.pdf")), 1, 1));
    auto range = open(test::read_file(dir.file("range.pdf")));
    QVERIFY(range);
    QCOMPARE(range->page_count(), 1);
    // A failed save names no file that was made.
    QVERIFY(!v.saveAs(QString::fromStdString(dir.file("missing/folder/x.pdf"))));
    QVERIFY(!QFile::exists(QString::fromStdString(dir.file("missing/folder/x.pdf"))));
  }
};

QTEST_MAIN(PdfViewEngineTest)
#include "test_pdfview_engine.moc"
