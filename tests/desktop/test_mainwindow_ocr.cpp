// Text recognition as the user sees it (status texts, clipboard, written copy) with stand-in
// programs written as small scripts, and the real stand-in on rendered pages.
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <cmath>

#include "desktop/window/lang.h"
#include "desktop/tools/Ocr.h"
#include "recording_server.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

std::unique_ptr<quorvel::IDocument> openDocument(const QString& path) {
  static auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  const std::string bytes = read_file(path.toStdString());
  return bytes.empty() ? nullptr : engine->open(as_bytes(bytes), {});
}

std::string documentText(const quorvel::IDocument& doc, int page) {
  std::string out;
  for (const quorvel::TextRun& r : doc.extract_text(page).runs) out += r.text + "\n";
  return out;
}

QString buildDir() { return QString::fromLocal8Bit(qgetenv("QUORVEL_BUILD_DIR")); }

QStringList leftoverImages() {
  return QDir(QDir::tempPath()).entryList({QStringLiteral("quorvel-ocr*")}, QDir::Files | QDir::Hidden);
}

// The words of a text, lower-cased, letters and digits only.
QStringList wordsOf(const QString& text) {
  QStringList out;
  for (const QString& w : text.toLower().split(QRegularExpression(QStringLiteral("[^\\w]+"), QRegularExpression::UseUnicodePropertiesOption), Qt::SkipEmptyParts))
    if (w.size() >= 2) out << w;
  return out;
}

double agreement(const QStringList& expected, const QStringList& got) {
  QMultiHash<QString, int> pool;
  for (const QString& w : got) pool.insert(w, 1);
  int found = 0;
  for (const QString& w : expected) {
    auto it = pool.find(w);
    if (it != pool.end()) {
      ++found;
      pool.erase(it);
    }
  }
  return expected.isEmpty() ? 0 : double(found) / expected.size();
}

struct Word {
  QString text;
  double left, bottom, right, top;  // bottom > top: pdftotext's y grows downwards
};

// The words of a page with their boxes (top-left origin of the crop box, the page as shown) as
// pdftotext reads them: a reader
// other than ours, so the layer is checked as other programs see it.
QList<Word> pageWords(const QString& pdf, int page) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-cropbox"), QStringLiteral("-f"), QString::number(page + 1),
                                        QStringLiteral("-l"), QString::number(page + 1), pdf, QStringLiteral("-")});
  p.waitForFinished(-1);
  static const QRegularExpression re(
      QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
  QList<Word> out;
  auto it = re.globalMatch(QString::fromUtf8(p.readAllStandardOutput()));
  while (it.hasNext()) {
    const auto m = it.next();
    for (const QString& w : wordsOf(m.captured(5)))
      out << Word{w, m.captured(1).toDouble(), m.captured(4).toDouble(), m.captured(3).toDouble(), m.captured(2).toDouble()};
  }
  return out;
}

// The lines of a page as pdftotext reads them, each as its words.
QList<QStringList> pageLines(const QString& pdf, int page) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page + 1), QStringLiteral("-l"),
                                        QString::number(page + 1), pdf, QStringLiteral("-")});
  p.waitForFinished(-1);
  QList<QStringList> out;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QStringList words = wordsOf(line);
    if (!words.isEmpty()) out << words;
  }
  return out;
}

// An image-only PDF of `image`, the page as it is shown, at `dpi`: stored turned back by
// `rotate` degrees and shown upright through /Rotate, its crop box `offset` points into the
// media box.
std::string scanPdf(const QImage& image, double dpi, int rotate, double offset) {
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  image.convertToFormat(QImage::Format_Grayscale8).save(&buffer, "JPG", 90);
  const double w = image.width() * 72.0 / dpi, h = image.height() * 72.0 / dpi;
  const bool sideways = rotate % 180 != 0;
  const double pw = sideways ? h : w, ph = sideways ? w : h;
  // The image's unit square on the stored page, first row at the top once the page is turned.
  const QList<double> m = rotate == 90    ? QList<double>{0, w, -h, 0, h, 0}
                          : rotate == 180 ? QList<double>{-w, 0, 0, -h, w, h}
                          : rotate == 270 ? QList<double>{0, -w, h, 0, 0, w}
                                          : QList<double>{w, 0, 0, h, 0, 0};
  auto n = [](double v) { return QString::number(v, 'f', 4).toStdString(); };
  const std::string content = "q " + n(m[0]) + ' ' + n(m[1]) + ' ' + n(m[2]) + ' ' + n(m[3]) + ' ' + n(m[4] + offset) +
                              ' ' + n(m[5] + offset) + " cm /Im Do Q";
  return quorvel::test::build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + n(pw + 2 * offset) + ' ' + n(ph + 2 * offset) + "] /CropBox [" +
          n(offset) + ' ' + n(offset) + ' ' + n(offset + pw) + ' ' + n(offset + ph) + "] /Rotate " + std::to_string(rotate) +
          " /Resources << /XObject << /Im 5 0 R >> >> /Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.width()) + " /Height " +
          std::to_string(image.height()) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode /Length " +
          std::to_string(jpeg.size()) + " >>\nstream\n" + jpeg.toStdString() + "\nendstream",
  });
}

}  // namespace

class OcrTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString doc;

  QString path(const QString& name) const { return QString::fromStdString(dir.file(name.toStdString())); }

  // A fake companion program: a shell script with `body`.
  QString script(const QString& name, const QString& body) const {
    const QString p = path(name);
    QFile f(p);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(("#!/bin/sh\n" + body + "\n").toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return p;
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    doc = writeTestFile(dir, "doc.pdf", text_pdf({"first page", "second page", "third page"}));
  }
  void init() {
    quorvel::desktop::g_lang = 0;
    MainWindow::ocrPageTimeoutMs = quorvel::desktop::kOcrPageTimeoutMs;
    qunsetenv("QUORVEL_OCR");
    qputenv("QUORVEL_BACKEND", "http://127.0.0.1:9");
  }

  void lookupPrefersTheVariableThenTheProgramBesideTheExecutable() {
    QDir(path("app")).mkpath(".");
    QDir(path("bare")).mkpath(".");
    const QString beside = script("app/taviocr", "exit 0");
    const QString named = script("named", "exit 0");
    using quorvel::desktop::findOcrSidecarIn;
    QCOMPARE(findOcrSidecarIn(named, path("app")), named);
    QCOMPARE(findOcrSidecarIn(path("missing"), path("app")), beside);
    QCOMPARE(findOcrSidecarIn(QString(), path("app")), beside);
    QCOMPARE(findOcrSidecarIn(path("missing"), path("bare")), QString());
  }

  void currentPageThroughTheProgram_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("clipboard");  // null: left as it was
    QTest::newRow("two lines and a trailing feed")
        << "printf 'a\\nb\\n'" << "OCR: распознано строк: 2 (offline; текст в буфере обмена)" << "a\nb";
    QTest::newRow("white space only") << "printf '  \\n\\t\\n'" << "OCR: текст не распознан (offline)" << QString();
    QTest::newRow("non-zero exit") << "echo text; exit 3" << "OCR: локальный движок завершился с ошибкой" << QString();
    QTest::newRow("crash") << "echo text; kill -SEGV $$" << "OCR: локальный движок завершился с ошибкой" << QString();
  }
  void currentPageThroughTheProgram() {
    QFETCH(QString, body);
    QFETCH(QString, shown);
    QFETCH(QString, clipboard);
    // The program also tells whether the image it got is the owner's alone.
    const QString mode = path("mode");
    QFile::remove(mode);
    qputenv("QUORVEL_OCR", script("fake", "stat -c %a \"$1\" > '" + mode + "'\n" + body).toUtf8());
    QGuiApplication::clipboard()->setText(QStringLiteral("earlier"));
    MainWindow w;
    w.openFile(doc);
    WindowProbe p{w};
    w.ocrCurrentPage();
    QCOMPARE(p.status(), QStringLiteral("Распознавание текста (OCR, локально)…"));
    QTRY_COMPARE(p.status(), shown);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard.isNull() ? QStringLiteral("earlier") : clipboard);
    QFile m(mode);
    QVERIFY(m.open(QIODevice::ReadOnly));
    QCOMPARE(m.readAll().trimmed(), QByteArray("600"));
    QTRY_COMPARE(leftoverImages(), QStringList());
  }

  void programThatCannotStart() {
    const QString p = path("not-executable");
    QFile f(p);
    f.open(QIODevice::WriteOnly);
    f.write("plain text");
    f.close();
    qputenv("QUORVEL_OCR", p.toUtf8());
    MainWindow w;
    w.openFile(doc);
    WindowProbe probe{w};
    w.ocrCurrentPage();
    QTRY_COMPARE(probe.status(), QStringLiteral("OCR: не удалось запустить локальный движок"));
    QCOMPARE(leftoverImages(), QStringList());
  }

  void currentPageThroughTheBackend_data() {
    QTest::addColumn<int>("status");  // 0: nobody listens
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");
    QTest::newRow("text") << 200 << QByteArray(R"({"text":"x\ny\nz","lines":3,"engine":"eng"})")
                          << "OCR: распознано строк: 3 (eng; текст в буфере обмена)";
    QTest::newRow("not JSON") << 200 << QByteArray("<html>proxy</html>") << "OCR: текст не распознан ()";
    QTest::newRow("backend down") << 0 << QByteArray() << "OCR: нет локального движка и backend недоступен: ";
  }
  void currentPageThroughTheBackend() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    qputenv("QUORVEL_OCR", path("missing").toUtf8());  // and nothing beside the test program
    RecordingServer server;
    server.queue({status, body, {}});
    if (status) qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    w.openFile(doc);
    WindowProbe p{w};
    w.ocrCurrentPage();
    QCOMPARE(p.status(), QStringLiteral("Распознавание текста (OCR, backend)…"));
    QTRY_VERIFY2(p.status().startsWith(shown), qPrintable(p.status()));
    if (status) {
      QCOMPARE(server.requests.size(), 1);
      QCOMPARE(server.requests[0].requestLine(), QByteArray("POST /ocr HTTP/1.1"));
      QCOMPARE(server.requests[0].header("Content-Type"), QByteArray("application/octet-stream"));
      QVERIFY(server.requests[0].body.startsWith("\x89PNG"));
    } else {
      QVERIFY(p.status().size() > shown.size());  // the error string follows
    }
  }

  // A page of 600 x 800 points, shown as it is stored or turned by its rotation.
  void boxesBecomePageSpans_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<bool>("usable");                 // false: the page is skipped
    QTest::addColumn<QList<QList<double>>>("spans");  // x0, y0, x1, y1, line, descent for each
    const QByteArray corner = R"("items":[{"text":"w","box":[0,0,100,50]}]})";
    QTest::newRow("whole image") << QByteArray(R"({"width":300,"height":400,"items":[{"text":"w","box":[0,0,300,400]}]})")
                                 << 0 << true << QList<QList<double>>{{0, 0, 600, 800, -1, 0}};
    QTest::newRow("scale from the reported size")
        << QByteArray(R"({"width":60,"height":80,"items":[{"text":"w","box":[6,8,12,16]}]})") << 0 << true
        << QList<QList<double>>{{60, 640, 120, 720, -1, 0}};
    QTest::newRow("bad items left out, others kept")
        << QByteArray(R"({"width":300,"height":400,"items":[{"text":"","box":[0,0,1,1]},{"text":"a","box":[0,0,1]},)"
                      R"({"text":"b","box":[0,0,1,1,1]},{"text":"c","box":["0",0,1,1]},7,{"box":[0,0,1,1]},)"
                      R"({"text":" ","box":[0,0,1,1]},{"text":"\t\n","box":[0,0,1,1]},)"
                      R"({"text":"ok","box":[150,200,300,400]}]})")
        << 0 << true << QList<QList<double>>{{300, 0, 600, 400, -1, 0}};
    QTest::newRow("white space only") << QByteArray(R"({"width":300,"height":400,"items":[{"text":"  ","box":[0,0,9,9]}]})")
                                      << 0 << true << QList<QList<double>>{};
    // The image shows the page turned; its top-left corner is another corner of the page.
    QTest::newRow("turned 90") << QByteArray(R"({"width":800,"height":600,)" + corner) << 90 << true
                               << QList<QList<double>>{{0, 0, 50, 100, -1, 0}};
    QTest::newRow("turned 180") << QByteArray(R"({"width":600,"height":800,)" + corner) << 180 << true
                                << QList<QList<double>>{{500, 0, 600, 50, -1, 0}};
    QTest::newRow("turned 270") << QByteArray(R"({"width":400,"height":300,)" + corner) << 270 << true
                                << QList<QList<double>>{{500, 600, 600, 800, -1, 0}};
    // The baseline slopes; under the middle of "a" it is 3 pixels above the box's lower edge.
    QTest::newRow("words on their line's baseline")
        << QByteArray(R"({"width":300,"height":400,"lines":[{"box":[0,10,300,40],"baseline":[0,30,200,40]},)"
                      R"({"box":[0,50,300,80]}],"items":[{"text":"a","box":[80,10,120,38],"line":0},)"
                      R"({"text":"b","box":[10,50,40,80],"line":1},{"text":"c","box":[10,50,40,80],"line":7}]})")
        << 0 << true
        << QList<QList<double>>{{160, 724, 240, 780, 0, 6}, {20, 640, 80, 700, 1, 0}, {20, 640, 80, 700, -1, 0}};
    QTest::newRow("no size") << QByteArray(R"({"width":0,"height":400,"items":[{"text":"w","box":[0,0,1,1]}]})") << 0
                             << false << QList<QList<double>>{};
    QTest::newRow("no items") << QByteArray(R"({"width":10,"height":10,"items":[]})") << 0 << false
                              << QList<QList<double>>{};
    QTest::newRow("not JSON") << QByteArray("words") << 0 << false << QList<QList<double>>{};
  }
  void boxesBecomePageSpans() {
    QFETCH(QByteArray, json);
    QFETCH(int, rotation);
    QFETCH(bool, usable);
    QFETCH(QList<QList<double>>, spans);
    const std::optional<std::vector<quorvel::TextSpan>> got = quorvel::desktop::ocrSpans(json, {600, 800, rotation});
    QCOMPARE(got.has_value(), usable);
    if (!got) return;
    QCOMPARE(int(got->size()), spans.size());
    for (int i = 0; i < spans.size(); ++i) {
      const quorvel::TextSpan& s = (*got)[size_t(i)];
      const QList<double> is{s.x0, s.y0, s.x1, s.y1, double(s.line), s.descent};
      for (int k = 0; k < 6; ++k) QVERIFY2(std::abs(is[k] - spans[i][k]) < 1e-9, qPrintable(QString::number(is[k])));
    }
  }

  void layerNeedsTheProgram() {
    qputenv("QUORVEL_OCR", path("missing").toUtf8());
    MainWindow w;
    w.openFile(doc);
    WindowProbe p{w};
    w.ocrSearchableTo(path("none.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Searchable PDF требует локального OCR (taviocr)"));
    QVERIFY(!QFileInfo::exists(path("none.pdf")));
  }

  // Pages skipped, or recognised as nothing but white space (a scan of noise): no text, no file.
  void noTextWritesNoFile_data() {
    QTest::addColumn<QString>("output");
    QTest::newRow("not JSON") << QStringLiteral("not json");
    QTest::newRow("white space only")
        << QStringLiteral(R"({"width":100,"height":100,"items":[{"text":" ","box":[10,10,50,20]},{"text":"\t","box":[1,1,5,5]}]})");
  }
  void noTextWritesNoFile() {
    QFETCH(QString, output);
    qputenv("QUORVEL_OCR", script("nothing", "echo '" + output + "'").toUtf8());
    MainWindow w;
    w.openFile(doc);
    WindowProbe p{w};
    w.ocrSearchableTo(path("skipped.pdf"));
    QCOMPARE(p.status(), QStringLiteral("OCR-слой: текст не распознан"));
    QVERIFY(!QFileInfo::exists(path("skipped.pdf")));
    QCOMPARE(leftoverImages(), QStringList());
  }

  // The program gets the page at the resolution of its scan, written into the image, whichever
  // command asks; a page that is no scan at a resolution good for reading.
  void pagesAreReadAtTheirScansResolution_data() {
    QTest::addColumn<double>("scanDpi");  // 0: a page of text, no scan
    QTest::addColumn<int>("rotate");
    QTest::addColumn<bool>("currentPage");
    QTest::addColumn<double>("readDpi");
    QTest::newRow("scan at 200 dpi") << 200.0 << 0 << false << 200.0;
    QTest::newRow("scan at 200 dpi, current page") << 200.0 << 0 << true << 200.0;
    QTest::newRow("scan at 300 dpi, turned 90") << 300.0 << 90 << false << 300.0;
    QTest::newRow("scan at 1200 dpi") << 1200.0 << 0 << false << 600.0;
    QTest::newRow("scan at 50 dpi") << 50.0 << 0 << false << 72.0;
    QTest::newRow("page of text") << 0.0 << 0 << false << 300.0;
  }
  void pagesAreReadAtTheirScansResolution() {
    QFETCH(double, scanDpi);
    QFETCH(int, rotate);
    QFETCH(bool, currentPage);
    QFETCH(double, readDpi);
    const QString seen = path("seen.png");
    QFile::remove(seen);
    qputenv("QUORVEL_OCR", script("record", "cp \"$1\" '" + seen + "'\n"
                                            "echo '{\"width\":100,\"height\":100,\"items\":[{\"text\":\"w\",\"box\":[1,1,5,5]}]}'")
                               .toUtf8());
    QString file = doc;
    QSizeF shown(612, 792);
    if (scanDpi > 0) {
      QImage scan(400, 300, QImage::Format_RGB32);
      scan.fill(Qt::white);
      file = path("scan.pdf");
      QVERIFY(write_file(file.toStdString(), scanPdf(scan, scanDpi, rotate, 0)));
      shown = QSizeF(400 * 72 / scanDpi, 300 * 72 / scanDpi);
    }
    MainWindow w;
    w.openFile(file);
    WindowProbe p{w};
    if (currentPage) {
      w.ocrCurrentPage();
      QTRY_VERIFY(p.status().startsWith(QStringLiteral("OCR: распознано")));
    } else {
      w.ocrSearchableTo(path("read.pdf"));
    }
    const QImage image(seen);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(qRound(shown.width() * readDpi / 72), qRound(shown.height() * readDpi / 72)));
    QCOMPARE(image.dotsPerMeterX(), qRound(readDpi / 0.0254));
    QCOMPARE(image.dotsPerMeterY(), qRound(readDpi / 0.0254));
  }

  // The first page's program never answers; the bound is shortened, the page skipped and the
  // others still get their words.
  void aSlowPageIsSkipped() {
    const QString count = path("calls");
    QFile::remove(count);
    qputenv("QUORVEL_OCR",
            script("slow", "echo x >> '" + count + "'\n"
                           "if [ \"$(wc -l < '" + count + "')\" -eq 1 ]; then exec sleep 600; fi\n"
                           "echo '{\"width\":100,\"height\":100,\"items\":[{\"text\":\"WORDX\",\"box\":[10,10,50,20]}]}'")
                .toUtf8());
    MainWindow::ocrPageTimeoutMs = 500;
    MainWindow w;
    w.openFile(doc);
    WindowProbe p{w};
    w.ocrSearchableTo(path("slow.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Searchable PDF: добавлено фрагментов 2 → ") + path("slow.pdf"));
    std::unique_ptr<quorvel::IDocument> out = openDocument(path("slow.pdf"));
    QVERIFY(out);
    QVERIFY(!QString::fromStdString(documentText(*out, 0)).contains("WORDX"));
    QVERIFY(QString::fromStdString(documentText(*out, 1)).contains("WORDX"));
    QVERIFY(QString::fromStdString(documentText(*out, 2)).contains("WORDX"));
  }

  // Closing the tab or asking for a second run while pages are still recognised.
  void theRunSurvivesWhatTheUserDoesMeanwhile() {
    qputenv("QUORVEL_OCR",
            script("words", "echo '{\"width\":100,\"height\":100,\"items\":[{\"text\":\"w\",\"box\":[10,10,50,20]}]}'").toUtf8());
    {
      MainWindow w;
      w.openFile(doc);
      WindowProbe p{w};
      QString refused;
      QTimer::singleShot(0, &w, [&] {
        w.ocrSearchableTo(path("second.pdf"));
        refused = p.status();
      });
      w.ocrSearchableTo(path("first.pdf"));
      QCOMPARE(refused, QStringLiteral("OCR-слой уже выполняется"));
      QVERIFY(!QFileInfo::exists(path("second.pdf")));
      QVERIFY(QFileInfo::exists(path("first.pdf")));
    }
    {
      MainWindow w;
      w.openFile(doc);
      WindowProbe p{w};
      QTimer::singleShot(0, &w, [&] { emit p.tabs()->tabCloseRequested(0); });
      w.ocrSearchableTo(path("closed.pdf"));
      QCOMPARE(p.tabs()->count(), 0);
      QVERIFY(!QFileInfo::exists(path("closed.pdf")));
      QCOMPARE(leftoverImages(), QStringList());
    }
  }

  // The real stand-in on scans of a page of a real text document and of a Russian page: the
  // scan stored the way the page is shown or turned on its side and shown upright through
  // /Rotate, once with its crop box away from the media box's corner.
  void realPagesAreRecognisedAndMadeSearchable_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("rotate");
    QTest::addColumn<double>("offset");
    const QString manual = QStringLiteral("/usr/share/doc/libtasn1-doc/libtasn1.pdf");
    QTest::newRow("English manual") << manual << 4 << 0 << 0.0;
    QTest::newRow("English manual, turned 90") << manual << 4 << 90 << 0.0;
    QTest::newRow("English manual, turned 180, crop box moved") << manual << 4 << 180 << 37.0;
    QTest::newRow("English manual, turned 270") << manual << 4 << 270 << 0.0;
    QTest::newRow("Russian page") << QString() << 0 << 0 << 0.0;
  }
  void realPagesAreRecognisedAndMadeSearchable() {
    QFETCH(QString, source);
    QFETCH(int, page);
    QFETCH(int, rotate);
    QFETCH(double, offset);
    const QString program = buildDir() + QStringLiteral("/taviocr");
    if (!QFileInfo::exists(program)) QSKIP("the stand-in is not built");
    if (source.isEmpty()) {
      source = path("russian.pdf");
      QPdfWriter writer(source);
      writer.setResolution(72);
      QPainter painter(&writer);
      QFont font(QStringLiteral("DejaVu Sans"));
      font.setPixelSize(14);
      painter.setFont(font);
      const QStringList lines = {
          QStringLiteral("Настоящий договор заключён между сторонами"),
          QStringLiteral("в городе Москве в соответствии с законом."),
          QStringLiteral("Стороны обязуются исполнять условия договора"),
          QStringLiteral("добросовестно и в установленные сроки."),
          QStringLiteral("Оплата производится безналичным переводом."),
      };
      for (int i = 0; i < lines.size(); ++i) painter.drawText(60, 80 + i * 28, lines[i]);
    }
    if (!QFileInfo::exists(source)) QSKIP("the sample document is not installed");
    const QList<Word> expected = pageWords(source, page);
    QVERIFY2(expected.size() >= 20, qPrintable(QString::number(expected.size())));
    QStringList expectedWords;
    for (const Word& word : expected) expectedWords << word.text;

    // The page as a scan at 150 dpi.
    QImage image;
    {
      MainWindow w;
      w.openFile(source);
      QVERIFY(w.currentView());
      image = w.currentView()->renderPageImage(page, 150.0 / 72.0);
    }
    QVERIFY(!image.isNull());
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression(QStringLiteral("\\W+")), QStringLiteral("-"));
    const QString scan = path(QStringLiteral("scan-%1.pdf").arg(tag));
    QVERIFY(write_file(scan.toStdString(), scanPdf(image, 150, rotate, offset)));
    const QString searchable = path(QStringLiteral("searchable-%1.pdf").arg(tag));
    qputenv("QUORVEL_OCR", program.toUtf8());
    {
      MainWindow w;
      w.openFile(scan);
      QVERIFY(w.currentView());
      w.ocrSearchableTo(searchable);
    }
    QVERIFY(QFileInfo::exists(searchable));

    // Our own reader finds the words in the copy...
    std::unique_ptr<quorvel::IDocument> copy = openDocument(searchable);
    QVERIFY(copy);
    const double ours = agreement(expectedWords, wordsOf(QString::fromStdString(documentText(*copy, 0))));
    QVERIFY2(ours >= 0.9, qPrintable(QString::number(ours)));

    // ...pdftotext reads them as the page's lines, words and spaces...
    const QList<QStringList> lines = pageLines(searchable, 0);
    int phrases = 0, found = 0;
    for (const QStringList& line : pageLines(source, page)) {
      for (qsizetype k = 0; k + 3 <= line.size(); ++k) {
        ++phrases;
        bool hit = false;
        for (const QStringList& got : lines) hit = hit || QStringList(got).join(' ').contains(line.mid(k, 3).join(' '));
        found += hit;
      }
    }
    QVERIFY2(phrases >= 10 && found >= 0.8 * phrases, qPrintable(QStringLiteral("%1 of %2").arg(found).arg(phrases)));

    // ...and where they stand on the page as shown: each word from its start to its end within
    // 2 points, on the same line.
    const QList<Word> placed = pageWords(searchable, 0);
    int near = 0;
    for (const Word& e : expected) {
      for (const Word& g : placed) {
        if (g.text == e.text && std::abs(g.left - e.left) <= 2 && std::abs(g.right - e.right) <= 2 &&
            g.top < e.bottom && g.bottom > e.top) {
          ++near;
          break;
        }
      }
    }
    QVERIFY2(near >= 0.85 * expected.size(), qPrintable(QStringLiteral("%1 of %2").arg(near).arg(expected.size())));
  }
};

QTEST_MAIN(OcrTest)
#include "test_mainwindow_ocr.moc"
