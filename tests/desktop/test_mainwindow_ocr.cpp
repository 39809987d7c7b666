// Text recognition as the user sees it (status texts, clipboard, written copy) with stand-in
// programs written as small scripts, and the real stand-in on rendered pages.
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

// The words of a page with their boxes (top-left origin) as pdftotext reads them: a reader
// other than ours, so the layer is checked as other programs see it.
QList<Word> pageWords(const QString& pdf, int page) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page + 1),
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

  void boxesBecomePageSpans_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QList<QList<double>>>("spans");  // x0, y0, x1, y1 for each, in order
    const double PW = 600, PH = 800;
    Q_UNUSED(PW);
    Q_UNUSED(PH);
    QTest::newRow("whole image") << QByteArray(R"({"width":300,"height":400,"items":[{"text":"w","box":[0,0,300,400]}]})")
                                 << QList<QList<double>>{{0, 0, 600, 800}};
    QTest::newRow("scale from the reported size")
        << QByteArray(R"({"width":60,"height":80,"items":[{"text":"w","box":[6,8,12,16]}]})")
        << QList<QList<double>>{{60, 640, 120, 720}};
    QTest::newRow("bad items left out, others kept")
        << QByteArray(R"({"width":300,"height":400,"items":[{"text":"","box":[0,0,1,1]},{"text":"a","box":[0,0,1]},)"
                      R"({"text":"b","box":[0,0,1,1,1]},{"text":"c","box":["0",0,1,1]},7,{"box":[0,0,1,1]},)"
                      R"({"text":"ok","box":[150,200,300,400]}]})")
        << QList<QList<double>>{{300, 0, 600, 400}};
    QTest::newRow("no size") << QByteArray(R"({"width":0,"height":400,"items":[{"text":"w","box":[0,0,1,1]}]})")
                             << QList<QList<double>>{};
    QTest::newRow("not JSON") << QByteArray("words") << QList<QList<double>>{};
  }
  void boxesBecomePageSpans() {
    QFETCH(QByteArray, json);
    QFETCH(QList<QList<double>>, spans);
    const std::vector<quorvel::TextSpan> got = quorvel::desktop::ocrSpans(json, 600, 800);
    QCOMPARE(int(got.size()), spans.size());
    for (int i = 0; i < spans.size(); ++i) {
      QCOMPARE(got[i].x0, spans[i][0]);
      QCOMPARE(got[i].y0, spans[i][1]);
      QCOMPARE(got[i].x1, spans[i][2]);
      QCOMPARE(got[i].y1, spans[i][3]);
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

  void everyPageSkippedWritesNoFile() {
    qputenv("QUORVEL_OCR", script("garbage", "echo 'not json'").toUtf8());
    MainWindow w;
    w.openFile(doc);
    WindowProbe p{w};
    w.ocrSearchableTo(path("skipped.pdf"));
    QCOMPARE(p.status(), QStringLiteral("OCR-слой: текст не распознан"));
    QVERIFY(!QFileInfo::exists(path("skipped.pdf")));
    QCOMPARE(leftoverImages(), QStringList());
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

  // The real stand-in on a page of a real text document, and on a Russian page.
  void realPagesAreRecognisedAndMadeSearchable_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("page");
    QTest::newRow("English manual") << QStringLiteral("/usr/share/doc/libtasn1-doc/libtasn1.pdf") << 4;
    QTest::newRow("Russian page") << QString() << 0;
  }
  void realPagesAreRecognisedAndMadeSearchable() {
    QFETCH(QString, source);
    QFETCH(int, page);
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
    std::unique_ptr<quorvel::IDocument> original = openDocument(source);
    QVERIFY(original);
    const QList<Word> expected = pageWords(source, page);
    QVERIFY2(expected.size() >= 20, qPrintable(QString::number(expected.size())));

    // The page as an image: recognised text against the page's own.
    MainWindow w;
    w.openFile(source);
    QVERIFY(w.currentView());
    const QImage image = w.currentView()->renderPageImage(page, 150.0 / 72.0);
    const QString png = path("page.png");
    QVERIFY(image.save(png));
    QProcess ocr;
    ocr.start(program, {png});
    QVERIFY(ocr.waitForFinished(-1));
    QCOMPARE(ocr.exitCode(), 0);
    QStringList expectedWords;
    for (const Word& word : expected) expectedWords << word.text;
    const double text = agreement(expectedWords, wordsOf(QString::fromUtf8(ocr.readAllStandardOutput())));
    QVERIFY2(text >= 0.9, qPrintable(QString::number(text)));

    // An image-only copy of the page, made searchable from the command line.
    const quorvel::PageInfo info = original->page_info(page);
    const QString scan = path(QStringLiteral("scan-%1.pdf").arg(QTest::currentDataTag()));
    {
      QPdfWriter writer(scan);
      writer.setResolution(72);
      writer.setPageSize(QPageSize(QSizeF(info.width, info.height), QPageSize::Point));
      writer.setPageMargins(QMarginsF(0, 0, 0, 0));
      QPainter painter(&writer);
      painter.drawImage(QRectF(0, 0, info.width, info.height), image);
    }
    const QString searchable = path(QStringLiteral("searchable-%1.pdf").arg(QTest::currentDataTag()));
    QFile::remove(searchable);
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_OCR"), program);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    app.setProcessEnvironment(env);
    app.start(buildDir() + QStringLiteral("/quorvel"), {scan, QStringLiteral("--ocr-layer"), searchable});
    QVERIFY(app.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(searchable).size() > 0, 120000);
    app.kill();
    app.waitForFinished();

    // Our own reader finds the words in the copy...
    std::unique_ptr<quorvel::IDocument> copy = openDocument(searchable);
    QVERIFY(copy);
    const double ours = agreement(expectedWords, wordsOf(QString::fromStdString(documentText(*copy, 0))));
    QVERIFY2(ours >= 0.9, qPrintable(QString::number(ours)));

    // ...and pdftotext finds them where they stand on the page: the start within 2 points and
    // on the same line (the layer sets the baseline on the box's lower edge, so a word with
    // descenders sits a little low).
    const QList<Word> placed = pageWords(searchable, 0);
    int near = 0;
    for (const Word& e : expected) {
      for (const Word& g : placed) {
        if (g.text == e.text && std::abs(g.left - e.left) <= 2 && g.top < e.bottom + 2 && g.bottom > e.top - 2) {
          ++near;
          break;
        }
      }
    }
    QVERIFY2(near >= 0.9 * expected.size(), qPrintable(QStringLiteral("%1 of %2").arg(near).arg(expected.size())));
  }
};

QTEST_MAIN(OcrTest)
#include "test_mainwindow_ocr.moc"
