// Redaction of personal data into a checked copy, page ranges and parts by bookmarks: what
// the files hold, what the window says, and what it refuses to write.
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ForwardingDocument.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "core/extract.h"
#include "lang_guard.h"
#include "qt_contract.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
namespace annot = quorvel::annot;

namespace {

using PartCounts = std::map<QString, int>;
using Marks = std::vector<std::pair<std::string, int>>;

int qpdfPageCount(const QString& path) {
  std::string out;
  if (run_program({"qpdf", "--show-npages", path.toStdString()}, &out) != 0) return -1;
  return std::stoi(out);
}

bool qpdfChecks(const QString& path) { return run_program({"qpdf", "--check", path.toStdString()}) == 0; }

// The file as qpdf writes it uncompressed: every string of it readable as it stands.
std::string qdfText(const QString& path, const TempDir& scratch) {
  const std::string qdf = scratch.file("plain.qdf");
  if (run_program({"qpdf", "--qdf", "--object-streams=disable", path.toStdString(), qdf}) != 0) return {};
  return read_file(qdf);
}

// Every PDF of a folder with its page count.
PartCounts partsIn(const QString& dir) {
  PartCounts parts;
  for (const QFileInfo& f : QDir(dir).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files))
    parts[f.fileName()] = qpdfChecks(f.absoluteFilePath()) ? qpdfPageCount(f.absoluteFilePath()) : -1;
  return parts;
}

std::string pageText(quorvel::IDocument& doc, int page) {
  std::string text;
  for (const quorvel::TextRun& run : doc.extract_text(page).runs) text += run.text + "\n";
  return text;
}

// A document of numbered text pages ("page 1" …) with top-level bookmarks on the given
// zero-based pages.
std::string bookmarkedPdf(int pages, const std::vector<std::pair<std::string, int>>& marks) {
  const int m = static_cast<int>(marks.size());
  const int firstItem = 5, firstPage = firstItem + m;
  std::vector<std::string> objs;
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(firstPage + 2 * i) + " 0 R ";
  objs.push_back("<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R /PageMode /UseOutlines >>");
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  objs.push_back("<< /Type /Outlines /First " + std::to_string(firstItem) + " 0 R /Last " +
                 std::to_string(firstItem + m - 1) + " 0 R /Count " + std::to_string(m) + " >>");
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  for (int k = 0; k < m; ++k) {
    std::string item = "<< /Title " + pdf_literal(marks[k].first) + " /Parent 3 0 R";
    if (k > 0) item += " /Prev " + std::to_string(firstItem + k - 1) + " 0 R";
    if (k + 1 < m) item += " /Next " + std::to_string(firstItem + k + 1) + " 0 R";
    item += " /Dest [" + std::to_string(firstPage + 2 * marks[k].second) + " 0 R /Fit] >>";
    objs.push_back(item);
  }
  for (int i = 0; i < pages; ++i) {
    const std::string content = "BT /F1 12 Tf 72 720 Td (page " + std::to_string(i + 1) + ") Tj ET";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
                   "/Contents " + std::to_string(firstPage + 2 * i + 1) + " 0 R >>");
    objs.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  return build_pdf(objs);
}

// One page whose only text is drawn by a form XObject.
std::string formXObjectPdf(const std::string& text) {
  const std::string form = "BT /F1 12 Tf 72 600 Td " + pdf_literal(text) + " Tj ET";
  const std::string page = "q /X1 Do Q";
  return build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /X1 6 0 R >> >> "
      "/Contents 5 0 R >>",
      "<< /Length " + std::to_string(page.size()) + " >>\nstream\n" + page + "\nendstream",
      "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Length " +
          std::to_string(form.size()) + " >>\nstream\n" + form + "\nendstream",
  });
}

// One page with a line of text and one annotation (object 6), then `more` objects from 7 on.
std::string annotatedPdf(const std::string& text, const std::string& annotation,
                         const std::vector<std::string>& more = {}) {
  const std::string content = "BT /F1 12 Tf 72 720 Td " + pdf_literal(text) + " Tj ET";
  std::vector<std::string> objects{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
      "/Contents 5 0 R /Annots [6 0 R] >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      annotation,
  };
  objects.insert(objects.end(), more.begin(), more.end());
  return build_pdf(objects);
}

// The text on the page and again in the appearance of a free-text annotation over it, which
// redaction cannot take out.
std::string appearancePdf(const std::string& text) {
  const std::string ap = "BT /F1 12 Tf 2 5 Td " + pdf_literal(text) + " Tj ET";
  return annotatedPdf(text,
                      "<< /Type /Annot /Subtype /FreeText /Rect [70 712 250 732] /Contents " + pdf_literal(text) +
                          " /DA (/F1 12 Tf 0 g) /AP << /N 7 0 R >> >>",
                      {"<< /Type /XObject /Subtype /Form /BBox [0 0 180 20] /Resources << /Font << /F1 3 0 R >> >> "
                       "/Length " + std::to_string(ap.size()) + " >>\nstream\n" + ap + "\nendstream"});
}

// One page with a line of text and a web link over the given area.
std::string linkedPdf(const std::string& text, const std::string& rect, const std::string& uri) {
  return annotatedPdf(text, "<< /Type /Annot /Subtype /Link /Rect [" + rect + "] /Border [0 0 0] /A << /S /URI /URI " +
                                pdf_literal(uri) + " >> >>");
}

std::string onePage(const std::string& content) {
  PageSpec p;
  p.content = content;
  return make_pdf({p});
}

}  // namespace

Q_DECLARE_METATYPE(std::vector<quorvel::OutlineItem>)
Q_DECLARE_METATYPE(Marks)
Q_DECLARE_METATYPE(PartCounts)

class MainWindowRedactSplitTest : public QObject {
  Q_OBJECT

  TempDir dir;
  int serial = 0;

  QString fresh(const char* ext) {
    return QString::fromStdString(dir.path()) + QStringLiteral("/out%1%2").arg(++serial).arg(QLatin1String(ext));
  }
  QString input(const std::string& pdf) { return writeTestFile(dir, QStringLiteral("in%1.pdf").arg(++serial), pdf); }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
  }

  void redactionWritesACopyOnlyWhenEveryValueIsGone_data() {
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<int>("fragments");  // 0: nothing found; -1: the redaction failed
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QList<int>>("edited");
    auto bytes = [](const std::string& s) { return QByteArray::fromStdString(s); };
    QTest::newRow("a value on page 3 only")
        << bytes(text_pdf({"first page", "second page", "write to ivan@example.ru"})) << 1
        << QStringList{"ivan@example.ru"} << QStringList{"first page", "second page"} << QList<int>{2};
    QTest::newRow("an image-only document")
        << bytes(onePage("0.2 g 100 100 200 200 re f")) << 0 << QStringList{} << QStringList{} << QList<int>{};
    QTest::newRow("a value twice in one run")
        << bytes(text_pdf({"a@b.ru or a@b.ru"})) << 2 << QStringList{"a@b.ru"} << QStringList{} << QList<int>{0};
    QTest::newRow("one value on two pages")
        << bytes(make_pdf({PageSpec{612, 792, "BT /F1 12 Tf 72 720 Td (x@y.ru) Tj ET", "", ""},
                           PageSpec{612, 792,
                                    "BT /F1 12 Tf 72 720 Td (x@y.ru) Tj ET BT /F1 12 Tf 72 400 Td (plain) Tj ET",
                                    "", ""}}))
        << 2 << QStringList{"x@y.ru"} << QStringList{"plain"} << QList<int>{0, 1};
    QTest::newRow("a value split over two runs")
        << bytes(onePage("BT /F1 12 Tf 72 720 Td (tel 8 900) Tj 0 -20 Td (123 45 67) Tj ET "
                         "BT /F1 12 Tf 72 500 Td (unrelated) Tj ET"))
        << 2 << QStringList{"8 900", "123 45 67"} << QStringList{"unrelated"} << QList<int>{0};
    QTest::newRow("text inside a form XObject")
        << bytes(formXObjectPdf("secret s@x.ru")) << 1 << QStringList{"s@x.ru"} << QStringList{"secret"}
        << QList<int>{0};
    QTest::newRow("text in an annotation's appearance")
        << bytes(appearancePdf("note s@x.ru")) << -1 << QStringList{"s@x.ru"} << QStringList{} << QList<int>{};
    // A sum found on the page is no reason to black out section numbers that begin alike.
    QTest::newRow("section numbers beside a sum")
        << bytes(onePage("BT /F1 12 Tf 72 720 Td (Sum 11.10 due) Tj ET BT /F1 12 Tf 72 700 Td (11.10.1 Frontend) Tj ET "
                         "BT /F1 12 Tf 72 680 Td (1.10.1 Backend) Tj ET"))
        << 1 << QStringList{"11.10 due"} << QStringList{"11.10.1 Frontend", "1.10.1 Backend"} << QList<int>{0};
    // "0.11" inside "10.1145" is no value: the link stays and the redaction succeeds.
    QTest::newRow("a link holding a found value inside a longer token")
        << bytes(linkedPdf("Total 0.11 due", "300 100 400 120", "https://doi.org/10.1145/50063.51907")) << 1
        << QStringList{"0.11 due"} << QStringList{"Total", "due"} << QList<int>{0};
    // PDFium skips the array, poppler draws the address: the page is refused, not passed.
    QTest::newRow("a text array with items PDFium skips")
        << bytes(onePage("BT /F1 12 Tf 72 720 Td (Paid 12.50) Tj ET BT /F1 12 Tf 72 650 Td [(Hel) /Name (lo) "
                         "<< /A 1 >> true null [1 2] (john.doe@example.com) 1e999 (x)] TJ ET"))
        << -1 << QStringList{"12.50"} << QStringList{} << QList<int>{};
  }
  void redactionWritesACopyOnlyWhenEveryValueIsGone() {
    QFETCH(QByteArray, pdf);
    QFETCH(int, fragments);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, kept);
    QFETCH(QList<int>, edited);
    LangGuard en(1);
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(pdf.toStdString()));
    PdfView* view = probe.view(0);
    QVERIFY(view);
    QSignalSpy said(w.statusBar(), &QStatusBar::messageChanged);
    QSignalSpy repainted(view, &PdfView::pageContentChanged);
    const QString out = fresh(".pdf");
    w.redactPiiTo(out);

    QList<int> pages;
    for (const QList<QVariant>& args : repainted) pages << args.at(0).toInt();
    QCOMPARE(pages, edited);
    if (fragments <= 0) {
      QVERIFY(!QFileInfo::exists(out));
      QCOMPARE(probe.tabs()->count(), 1);
      QCOMPARE(probe.status(), fragments == 0 ? QStringLiteral("No PII found — nothing to redact")
                                              : QStringLiteral("Could not fully redact (page 1)"));
      // The value is still where it was: nothing was taken out of the page.
      for (const QString& v : gone) QVERIFY(pageText(*view->doc, 0).find(v.toStdString()) != std::string::npos);
      return;
    }
    QVERIFY(said.contains({QStringLiteral("Redacted fragments: %1 → %2").arg(fragments).arg(out)}));
    QVERIFY(qpdfChecks(out));
    QCOMPARE(probe.tabs()->count(), 2);
    PdfView* copy = probe.view(1);
    const std::string plain = qdfText(out, dir);
    QVERIFY(!plain.empty());
    std::string copyText;
    for (int p = 0; p < copy->pageCount(); ++p) copyText += pageText(*copy->doc, p);
    for (const QString& v : gone) {
      QVERIFY2(plain.find(v.toStdString()) == std::string::npos, qPrintable(v));
      QVERIFY2(copyText.find(v.toStdString()) == std::string::npos, qPrintable(v));
    }
    for (const QString& k : kept) QVERIFY2(copyText.find(k.toStdString()) != std::string::npos, qPrintable(k));
  }

  void aValueStillReadableAfterTheEngineReportsSuccessIsAFailure() {
    LangGuard en(1);
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(text_pdf({"clean", "mail a@b.ru"})));
    PdfView* view = probe.view(0);
    auto doc = std::make_unique<ForwardingDocument>(std::move(view->doc));
    doc->redactClaimsOnly = true;
    view->doc = std::move(doc);
    const QString out = fresh(".pdf");
    w.redactPiiTo(out);
    QCOMPARE(probe.status(), QStringLiteral("Could not fully redact (page 2)"));
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(probe.tabs()->count(), 1);
  }

  void linksNamingAValueGoOrFailTheRedaction() {
    LangGuard en(1);
    {
      // A mailto link over the address goes with the address.
      MainWindow w;
      w.openFile(input(linkedPdf("mail q@w.ru", "70 710 160 735", "mailto:q@w.ru")));
      const QString out = fresh(".pdf");
      w.redactPiiTo(out);
      QVERIFY(QFileInfo::exists(out));
      const std::string plain = qdfText(out, dir);
      QVERIFY(!plain.empty());
      QVERIFY(plain.find("q@w.ru") == std::string::npos);
      QVERIFY(plain.find("/Link") == std::string::npos);
    }
    {
      // A link elsewhere on the page that names it goes too.
      MainWindow w;
      w.openFile(input(linkedPdf("mail q@w.ru", "300 100 400 120", "mailto:q@w.ru")));
      const QString out = fresh(".pdf");
      w.redactPiiTo(out);
      QVERIFY(QFileInfo::exists(out));
      const std::string plain = qdfText(out, dir);
      QVERIFY(plain.find("q@w.ru") == std::string::npos);
      QVERIFY(plain.find("/Link") == std::string::npos);
    }
  }

  void redactionOfRealKindsLeavesTheRestAsItWas_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("value");
    const QString contract = dir.file("contract.pdf").c_str();
    QVERIFY(writeQtContract(contract));
    QTest::newRow("QPdfWriter contract") << contract << QStringLiteral("info@romashka.ru");
    QTest::newRow("TeX manual") << QStringLiteral("/usr/share/doc/libtasn1-doc/libtasn1.pdf")
                                << QStringLiteral("help-libtasn1@gnu.org");
  }
  void redactionOfRealKindsLeavesTheRestAsItWas() {
    QFETCH(QString, path);
    QFETCH(QString, value);
    if (!QFileInfo::exists(path)) QSKIP("the document is not installed");
    // Where the values of page 1 lie, as rows of poppler's picture of it.
    auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
    const std::string bytes = read_file(path.toStdString());
    auto original = engine->open(as_bytes(bytes), "");
    QVERIFY(original);
    const quorvel::TextPage page = original->extract_text(0);
    std::vector<std::string> values;
    for (const auto& e : quorvel::extract::extract_entities(quorvel::page_text(page))) values.push_back(e.value);
    const double height = original->page_info(0).height;
    int top = 1 << 30, bottom = -1;
    for (const annot::Rect& r : quorvel::extract::pii_rects(page, values)) {
      top = std::min(top, static_cast<int>(height - std::max(r.y0, r.y1)) - 2);
      bottom = std::max(bottom, static_cast<int>(height - std::min(r.y0, r.y1)) + 2);
    }
    QVERIFY(bottom >= 0);

    LangGuard en(1);
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(path);
    const QString out = fresh(".pdf");
    QSignalSpy said(w.statusBar(), &QStatusBar::messageChanged);
    w.redactPiiTo(out);
    QVERIFY2(QFileInfo::exists(out), qPrintable(probe.status()));
    QVERIFY(!said.isEmpty() && said.first().at(0).toString().startsWith(QStringLiteral("Redacted fragments: ")));
    QVERIFY(qdfText(out, dir).find(value.toStdString()) == std::string::npos);
    std::string text;
    QVERIFY(run_program({"pdftotext", out.toStdString(), "-"}, &text) == 0);
    QVERIFY(text.find(value.toStdString()) == std::string::npos);
    // Other readers draw the page as before outside the blacked-out rows: upright, every line
    // in its place and spacing.
    QCOMPARE(differingRows(popplerPage(path, dir), popplerPage(out, dir), top, bottom), 0);
  }

  void annotationsRepeatingAValueStayOutOfTheCopy() {
    LangGuard en(1);
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(text_pdf({"mail a@b.ru"})));
    PdfView* view = probe.view(0);
    annot::Annotation note;
    note.id = "n1";
    note.page = 0;
    note.type = annot::AnnotType::Note;
    note.x0 = 300, note.y0 = 300, note.x1 = 316, note.y1 = 316;
    note.opacity = 255;
    note.text = "write to a@b.ru";
    view->addAnnotation(note);
    note.id = "n2";
    note.text = "keep me";
    view->addAnnotation(note);
    const QString out = fresh(".pdf");
    w.redactPiiTo(out);
    QVERIFY(QFileInfo::exists(out));
    const std::string plain = qdfText(out, dir);
    size_t notes = 0;
    for (size_t at = plain.find("/Subtype /Text"); at != std::string::npos; at = plain.find("/Subtype /Text", at + 1))
      ++notes;
    QCOMPARE(notes, size_t{1});
    QVERIFY(plain.find("a@b.ru") == std::string::npos);
    // The open tab keeps its notes; only the copy leaves one out.
    QCOMPARE(view->annotations.size(), size_t{2});
  }

  void rangeIsWrittenOrRefused() {
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(bookmarkedPdf(6, {})));
    const QString out = fresh(".pdf");
    w.saveRangeTo(out, 1, 4);
    QCOMPARE(probe.status(), QStringLiteral("Сохранён диапазон страниц: %1").arg(out));
    QVERIFY(qpdfChecks(out));
    QCOMPARE(qpdfPageCount(out), 4);
    QCOMPARE(probe.view(0)->pageCount(), 6);

    for (auto [first, last] : {std::pair{4, 1}, std::pair{-1, 2}, std::pair{0, 6}}) {
      const QString refused = fresh(".pdf");
      w.saveRangeTo(refused, first, last);
      QCOMPARE(probe.status(), QStringLiteral("Не удалось сохранить диапазон"));
      QVERIFY(!QFileInfo::exists(refused));
    }
  }

  void bookmarksOfTheFileGiveOnePartEach() {
    LangGuard en(1);
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(bookmarkedPdf(10, {{"Intro", 0}, {"Part: A/B", 3}, {"Appendix", 8}})));
    const QString parts = fresh("") + QStringLiteral("/nested/parts");
    w.splitByBookmarksTo(parts);
    QCOMPARE(partsIn(parts), (PartCounts{{"01_Intro.pdf", 3}, {"02_Part_ A_B.pdf", 5}, {"03_Appendix.pdf", 2}}));
    QCOMPARE(probe.status(), QStringLiteral("Split by bookmarks: 3 files → %1").arg(parts));
    // Each part starts with its bookmark's page.
    MainWindow check;
    check.openFile(parts + QStringLiteral("/02_Part_ A_B.pdf"));
    QCOMPARE(pageText(*WindowProbe{check}.view(0)->doc, 0), std::string("page 4\n"));
  }

  // Parts that cannot be written are counted as such; a run that writes none says it failed.
  void failedPartsAreCounted_data() {
    QTest::addColumn<Marks>("marks");
    QTest::addColumn<PartCounts>("parts");
    QTest::addColumn<QString>("status");
    // Page 6 (index 5) of ten cannot be read.
    QTest::newRow("one part of three holds the page")
        << Marks{{"Intro", 0}, {"Middle", 3}, {"End", 8}}
        << PartCounts{{"01_Intro.pdf", 3}, {"03_End.pdf", 2}}
        << QStringLiteral("Split by bookmarks: 2 files, not written: 1 → %1: page 6 cannot be read");
    QTest::newRow("the only part holds it")
        << Marks{{"All", 0}} << PartCounts{}
        << QStringLiteral("Could not split by bookmarks: no part was written → %1: page 6 cannot be read");
  }
  void failedPartsAreCounted() {
    QFETCH(Marks, marks);
    QFETCH(PartCounts, parts);
    QFETCH(QString, status);
    LangGuard en(1);
    // Page i of bookmarkedPdf is object 5 + bookmarks + 2i.
    const std::string damaged = break_object(bookmarkedPdf(10, marks), 5 + static_cast<int>(marks.size()) + 10, true);
    QVERIFY(!damaged.empty());
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(damaged));
    QCOMPARE(probe.view(0)->pageCount(), 10);
    const QString folder = fresh("");
    w.splitByBookmarksTo(folder);
    QCOMPARE(partsIn(folder), parts);
    QCOMPARE(probe.status(), status.arg(folder));
  }

  void partNamesAndNumbers_data() {
    QTest::addColumn<std::vector<quorvel::OutlineItem>>("outline");
    QTest::addColumn<PartCounts>("parts");
    QTest::addColumn<int>("written");
    using Item = quorvel::OutlineItem;
    QTest::newRow("blank titles")
        << std::vector<Item>{{"   ", 0, {}}, {"/ /", 2, {}}} << PartCounts{{"01_section.pdf", 2}, {"02__ _.pdf", 2}} << 2;
    QTest::newRow("two bookmarks on one page keep their order; the first is skipped")
        << std::vector<Item>{{"C", 2, {}}, {"A", 0, {}}, {"B", 0, {}}}
        << PartCounts{{"02_B.pdf", 2}, {"03_C.pdf", 2}} << 2;
    QTest::newRow("pages outside the document are ignored and not numbered")
        << std::vector<Item>{{"none", -1, {}}, {"far", 4, {}}, {"X", 1, {}}, {"child holder", 3, {{"child", 2, {}}}}}
        << PartCounts{{"01_X.pdf", 2}, {"02_child holder.pdf", 1}} << 2;
    const std::string emoji = "\xF0\x9F\x98\x80";  // one character, two UTF-16 units
    QTest::newRow("long titles are cut at 60, never inside a character")
        << std::vector<Item>{{std::string(80, 'L'), 0, {}}, {std::string(59, 'e') + emoji + "tail", 2, {}}}
        << PartCounts{{"01_" + QString(60, QLatin1Char('L')) + ".pdf", 2},
                      {"02_" + QString(59, QLatin1Char('e')) + ".pdf", 2}}
        << 2;
    QTest::newRow("no usable bookmarks") << std::vector<Item>{{"none", -1, {}}} << PartCounts{} << -1;
  }
  void partNamesAndNumbers() {
    QFETCH(std::vector<quorvel::OutlineItem>, outline);
    QFETCH(PartCounts, parts);
    QFETCH(int, written);
    LangGuard en(1);
    MainWindow w;
    WindowProbe probe{w};
    w.openFile(input(bookmarkedPdf(4, {})));
    PdfView* view = probe.view(0);
    auto doc = std::make_unique<ForwardingDocument>(std::move(view->doc));
    doc->outlineOverride = outline;
    ForwardingDocument* forwarding = doc.get();
    view->doc = std::move(doc);
    const QString folder = fresh("");
    w.splitByBookmarksTo(folder);
    QVERIFY(QFileInfo(folder).isDir());  // made also when nothing is written into it
    QCOMPARE(partsIn(folder), parts);
    // All parts from one reading of the document.
    QCOMPARE(forwarding->singleRanges, 0);
    QCOMPARE(forwarding->rangeBatches, written < 0 ? 0 : 1);
    QCOMPARE(probe.status(), written < 0 ? QStringLiteral("The document has no bookmarks to split by")
                                         : QStringLiteral("Split by bookmarks: %1 files → %2").arg(written).arg(folder));
  }

  void commandLineWritesRangePartsAndRedactedCopy() {
    MainWindow w;
    const QString doc = input(bookmarkedPdf(10, {{"Intro", 0}, {"Part: A/B", 3}, {"Appendix", 8}}));
    const QString range = fresh(".pdf"), parts = fresh(""), redacted = fresh(".pdf");
    quorvel::desktop::runCommandLine(
        w, {doc, "--split", "2", "5", range, "--split-bookmarks", parts, "--redact-pii", redacted});
    QVERIFY(qpdfChecks(range));
    QCOMPARE(qpdfPageCount(range), 4);
    QCOMPARE(partsIn(parts).size(), size_t{3});
    // Numbered pages hold no personal data: no copy is written.
    QVERIFY(!QFileInfo::exists(redacted));
  }
};

QTEST_MAIN(MainWindowRedactSplitTest)
#include "test_mainwindow_redact_split.moc"
