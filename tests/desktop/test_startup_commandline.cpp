// The command line as main reads it: batch or window, the interface language, the theme, and
// which window actions run in which order for a given argument list.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

#include <string>
#include <vector>

#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/batch/batch.h"
#include "lang_guard.h"

using namespace quorvel::desktop;

namespace {

QStringList calls(const QStringList& args) {
  QStringList out;
  for (const CommandLineAction& a : planCommandLine(scanCommandLine(args))) out << a.call;
  return out;
}

QStringList sheetWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  if (type != QtDebugMsg) sheetWarnings << msg;
}

}  // namespace

class StartupCommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  // One table: the argument list after the program name, and the window calls in order.
  void actionsRunInTheirFixedOrder_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    const QStringList none;
    QTest::newRow("nothing") << none << none;
    QTest::newRow("one file") << QStringList{"a.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("only the first bare word")
        << QStringList{"a.pdf", "b.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("table order, not argument order")
        << QStringList{"--fullscreen", "a.pdf", "--password", "pw", "--mvp"}
        << QStringList{"setMvpMode(true)", "setOpenPassword", "openFile(a.pdf)", "toggleFullScreen()"};
    QTest::newRow("language code is never the path")
        << QStringList{"--lang", "en", "a.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("value option last is passed over") << QStringList{"a.pdf", "--password"}
                                                      << QStringList{"openFile(a.pdf)"};
    QTest::newRow("empty password does nothing")
        << QStringList{"--password", "", "a.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("a value is taken even when it looks like an option")
        << QStringList{"--password", "--mvp", "a.pdf"}
        << QStringList{"setOpenPassword", "openFile(a.pdf)"};
    QTest::newRow("a value of a companion option is consumed")
        << QStringList{"--rotate", "abc", "--translate-out", "o.txt", "a.pdf"}
        << QStringList{"openFile(a.pdf)"};
    QTest::newRow("AI rows in table order")
        << QStringList{"--translate", "немецкий", "--translate-out", "t.txt", "--agent-report", "r.html",
                       "--ocr-layer", "s.pdf", "--semantic", " срок ", "--extract", "--ask", "q", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "askAi(q)", "semanticSearch( срок )", "extractData()",
                       "ocrSearchableTo(s.pdf)", "agentReportTo(r.html)", "translateDocument(немецкий, t.txt)"};
    QTest::newRow("translation into the chat; empty AI values do nothing")
        << QStringList{"--translate", "English", "--semantic", "", "--agent-report", "", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "translateDocument(English, )"};
    QTest::newRow("a translation path alone does nothing")
        << QStringList{"--translate-out", "t.txt", "--translate", ""} << none;
    QTest::newRow("recognition rows in table order")
        << QStringList{"--ocr", "--fullscreen", "--ocr-layer", "s.pdf", "--nup", "2x3", "--nup-out", "n.pdf",
                       "--encrypt", "e.pdf", "--encrypt-pw", "pw", "--sign-image", "i.png", "--sign-out", "o.pdf", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "protectPdfTo(e.pdf)", "ocrSearchableTo(s.pdf)", "signWithImageTo(i.png, o.pdf, 0)",
                       "nUpTo(2, 3, n.pdf)", "ocrCurrentPage()", "toggleFullScreen()"};
    QTest::newRow("split takes three values")
        << QStringList{"--split", "2", "5", "out.pdf", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "saveRangeTo(out.pdf, 1, 4)"};
    QTest::newRow("split with an empty output does nothing")
        << QStringList{"--split", "2", "5", "", "a.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("range, redaction and bookmark split in table order")
        << QStringList{"--split-bookmarks", "parts", "--fullscreen", "--redact-pii", "r.pdf", "a.pdf",
                       "--select-demo", "--split", "x", "3", "o.pdf"}
        << QStringList{"openFile(a.pdf)", "saveRangeTo(o.pdf, -1, 2)", "selectDemo()", "redactPiiTo(r.pdf)",
                       "splitByBookmarksTo(parts)", "toggleFullScreen()"};
    QTest::newRow("a question runs after the demo rows and before redaction")
        << QStringList{"--redact-pii", "r.pdf", "--ask", "О чём?", "--select-demo", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "selectDemo()", "askAi(О чём?)", "redactPiiTo(r.pdf)"};
    QTest::newRow("extraction and compare in table order")
        << QStringList{"--compare", "v2.pdf", "--export-text", "t.txt", "--redact-pii", "r.pdf", "--extract",
                       "--extract-csv", "e.csv", "--ask", "q", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "askAi(q)", "extractToCsv(e.csv)", "extractData()", "redactPiiTo(r.pdf)",
                       "compareWith(v2.pdf)", "exportTextTo(t.txt)"};
    QTest::newRow("a request id runs after the question and the search by meaning, before the extraction")
        << QStringList{"--extract-csv", "e.csv", "--request", "REQ-7", "--semantic", "s", "--ask", "q", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "askAi(q)", "semanticSearch(s)", "openMyRequestsForId(REQ-7)",
                       "extractToCsv(e.csv)"};
    QTest::newRow("an empty request id does nothing")
        << QStringList{"--request", "", "a.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("compare to a report, with the summary")
        << QStringList{"--compare-ai", "--compare-out", "c.html", "--compare", "v2.pdf", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "compareToHtml(v2.pdf, c.html) + summarizeLastDiff()"};
    QTest::newRow("compare with the summary, an empty csv path")
        << QStringList{"--compare", "v2.pdf", "--compare-ai", "--extract-csv", "", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "compareWith(v2.pdf) + summarizeLastDiff()"};
    QTest::newRow("an empty question and --compare-ai alone do nothing")
        << QStringList{"--ask", "", "--compare-ai", "a.pdf"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("split with two values is passed over")
        << QStringList{"--split", "2", "5"} << QStringList{"openFile(2)"};
    QTest::newRow("batch options without a folder are words")
        << QStringList{"--batch-op", "merge", "x.pdf"} << QStringList{"openFile(merge)"};
    QTest::newRow("--batch alone") << QStringList{"--batch"} << none;
    QTest::newRow("unknown options are ignored")
        << QStringList{"--no-such", "a.pdf", "--find"} << QStringList{"openFile(a.pdf)"};
    QTest::newRow("single dash is a word") << QStringList{"-v", "a.pdf"} << QStringList{"openFile(-v)"};
    QTest::newRow("output rows after the document's edits, in table order")
        << QStringList{"--find", "word", "--export", "p.png", "a.pdf", "--print", "pr.pdf", "--save", "o.pdf",
                       "--fullscreen"}
        << QStringList{"openFile(a.pdf)", "toggleFullScreen()", "saveDocumentTo(o.pdf)", "printToFile(pr.pdf)",
                       "exportPageTo(p.png)", "findText(word)"};
    QTest::newRow("empty output paths and query do nothing")
        << QStringList{"a.pdf", "--save", "", "--print", "", "--export", "", "--find", ""}
        << QStringList{"openFile(a.pdf)"};
    QTest::newRow("document tools in table order")
        << QStringList{"--nup", "2x3", "--nup-out", "n.pdf", "--bates-out", "b.pdf", "--watermark", "КОПИЯ",
                       "--watermark-out", "w.pdf", "--page-numbers-out", "p.pdf", "--replace-out", "r.pdf",
                       "--replace-text", "old", "--sign-image", "s.png", "--sign-out", "s.pdf", "--merge", "m.pdf",
                       "--save", "o.pdf", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "mergeWith(m.pdf)", "signWithImageTo(s.png, s.pdf, 0)",
                       "replaceTextTo(old, , r.pdf)", "watermarkTo(КОПИЯ, w.pdf)", "pageNumbersTo(p.pdf)",
                       "batesStampTo(, 1, 6, b.pdf)", "nUpTo(2, 3, n.pdf)", "saveDocumentTo(o.pdf)"};
    QTest::newRow("content export in table order")
        << QStringList{"--export-docx", "d.docx", "--encrypt", "e.pdf", "--encrypt-pw", "pw", "--export-doc",
                       "w.doc", "--export-html", "", "--export-text", "t.txt", "--redact-pii", "r.pdf", "a.pdf"}
        << QStringList{"openFile(a.pdf)", "redactPiiTo(r.pdf)", "exportTextTo(t.txt)", "exportHtmlTo(w.doc, true)",
                       "exportDocxTo(d.docx)", "protectPdfTo(e.pdf)"};
    QTest::newRow("html export") << QStringList{"--export-html", "h.html"} << QStringList{"exportHtmlTo(h.html, false)"};
    QTest::newRow("tool values given") << QStringList{"--sign-page", "3", "--sign-image", "s.png", "--sign-out",
                                                      "s.pdf", "--replace-text", "a", "--replace-with", "b",
                                                      "--replace-out", "r.pdf", "--bates", "X-", "--bates-start",
                                                      "999999", "--bates-out", "b.pdf"}
                                       << QStringList{"signWithImageTo(s.png, s.pdf, 2)", "replaceTextTo(a, b, r.pdf)",
                                                      "batesStampTo(X-, 999999, 6, b.pdf)"};
    QTest::newRow("sign page 0 and a malformed start")
        << QStringList{"--sign-page", "0", "--sign-image", "s.png", "--sign-out", "s.pdf", "--bates-start", "x",
                       "--bates-out", "b.pdf"}
        << QStringList{"signWithImageTo(s.png, s.pdf, -1)", "batesStampTo(, 0, 6, b.pdf)"};
    QTest::newRow("tool values without their outputs do nothing")
        << QStringList{"--watermark", "X", "--watermark-out", "", "--sign-image", "s.png", "--replace-text", "a",
                       "--nup", "2x2", "--bates", "X", "--merge", ""}
        << none;
    QTest::newRow("N-up shapes") << QStringList{"--nup", "2X2", "--nup-out", "n.pdf"} << none;
    QTest::newRow("N-up with an empty side") << QStringList{"--nup", "3x", "--nup-out", "n.pdf"}
                                             << QStringList{"nUpTo(3, 0, n.pdf)"};
    QTest::newRow("N-up with three parts") << QStringList{"--nup", "1x2x3", "--nup-out", "n.pdf"} << none;
    QTest::newRow("flags only") << QStringList{"--fullscreen", "--mvp"}
                                << QStringList{"setMvpMode(true)", "toggleFullScreen()"};
  }
  void actionsRunInTheirFixedOrder() {
    QFETCH(QStringList, args);
    QTEST(calls(args), "expected");
  }

  void scanKeepsLastValuesAndShapes() {
    const CommandLine cl = scanCommandLine(
        {"--two", "--rotate", "1", "--book", "--rotate", "3", "--split", "2", "5", "o.pdf", "--find"});
    QCOMPARE(cl.layoutMode, 2);
    QCOMPARE(cl.value("--rotate"), QStringLiteral("3"));
    QVERIFY(cl.split.has_value());
    QCOMPARE(*cl.split, (QStringList{"2", "5", "o.pdf"}));
    QVERIFY(!cl.has("--find"));
    QVERIFY(cl.path.isEmpty());

    const CommandLine book = scanCommandLine({"--book", "--two"});
    QCOMPARE(book.layoutMode, 1);
    QVERIFY(!scanCommandLine({"--split", "1"}).split.has_value());
    QCOMPARE(scanCommandLine({"--split", "1"}).path, QStringLiteral("1"));
  }

  void numbersReadAsZeroWhenMalformed_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "12" << 12;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("word") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("beyond int") << "99999999999" << 0;
    QTest::newRow("fraction") << "2.5" << 0;
    QTest::newRow("hex is not base 10") << "0x10" << 0;
  }
  void numbersReadAsZeroWhenMalformed() {
    QFETCH(QString, text);
    QTEST(commandLineInt(text), "value");
  }

  void languageFromSettingAndArguments_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("flag");
    QTest::newRow("default Russian") << "ru" << QStringList{} << 0;
    QTest::newRow("setting en") << "en" << QStringList{"a.pdf"} << 1;
    QTest::newRow("EN") << "ru" << QStringList{"--lang", "EN"} << 1;
    QTest::newRow("En") << "ru" << QStringList{"--lang", "En", "a.pdf"} << 1;
    QTest::newRow("de means Russian") << "en" << QStringList{"--lang", "de"} << 0;
    QTest::newRow("last one wins") << "ru" << QStringList{"--lang", "en", "--lang", "ru"} << 0;
    QTest::newRow("value not skipped") << "ru" << QStringList{"--lang", "--lang", "en"} << 1;
    QTest::newRow("no value") << "en" << QStringList{"a.pdf", "--lang"} << 1;
    QTest::newRow("empty setting") << "" << QStringList{} << 0;
  }
  void languageFromSettingAndArguments() {
    QFETCH(QString, setting);
    QFETCH(QStringList, args);
    QTEST(languageFromArguments(setting, args), "flag");
  }

  // Qt's standard buttons speak the interface language.
  void standardButtonsSpeakTheLanguage_data() {
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("cancel");
    QTest::addColumn<QString>("open");
    QTest::newRow("Russian") << 0 << QStringLiteral("Отмена") << QStringLiteral("Открыть");
    QTest::newRow("English") << 1 << QStringLiteral("Cancel") << QStringLiteral("Open");
  }
  void standardButtonsSpeakTheLanguage() {
    QFETCH(int, lang);
    const quorvel::test::LangGuard guard(lang);
    QCOMPARE(installQtTranslations(*QCoreApplication::instance()), lang == 0);
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Open | QMessageBox::Cancel);
    const QString cancel = box.button(QMessageBox::Cancel)->text();
    const QString open = box.button(QMessageBox::Open)->text();
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(t);
      delete t;
    }
    QTEST(QString(cancel).remove(QLatin1Char('&')), "cancel");
    QTEST(QString(open).remove(QLatin1Char('&')), "open");
  }

  // The mode choice happens on the raw arguments before any Qt object exists.
  void batchNeedsAFolder_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("batch");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("out");
    QTest::newRow("--batch last") << QStringList{"a.pdf", "--batch"} << false << "" << "";
    QTest::newRow("empty folder") << QStringList{"--batch", ""} << false << "" << "";
    QTest::newRow("folder only") << QStringList{"--batch", "/d"} << true << "extract-csv" << "/d/out";
    QTest::newRow("order free") << QStringList{"--batch-op", "merge", "--batch", "/d", "--batch-out", "m.pdf"}
                                << true << "merge" << "m.pdf";
    QTest::newRow("window options only") << QStringList{"--lang", "en", "a.pdf"} << false << "" << "";
  }
  void batchNeedsAFolder() {
    QFETCH(QStringList, args);
    std::vector<std::string> storage{"quorvel"};
    for (const QString& a : args) storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const std::string& s : storage) argv.push_back(s.c_str());
    const auto b = batch_args(static_cast<int>(argv.size()), argv.data());
    QTEST(b.has_value(), "batch");
    if (b) {
      QTEST(QString::fromStdString(b->op), "op");
      QTEST(QString::fromStdString(b->out), "out");
    }
  }

  void themeChoosesTheDarkSheet_data() {
    QTest::addColumn<QString>("theme");
    QTest::addColumn<bool>("dark");
    QTest::newRow("dark") << "dark" << true;
    QTest::newRow("light") << "light" << false;
    QTest::newRow("Light is not light") << "Light" << true;
    QTest::newRow("unknown") << "solarized" << true;
  }
  void themeChoosesTheDarkSheet() {
    QFETCH(QString, theme);
    QFETCH(bool, dark);
    const QString sheet = styleSheetForTheme(theme);
    QCOMPARE(!sheet.isEmpty(), dark);
    if (dark) {
      QVERIFY(sheet.contains(QStringLiteral("#16161f")));
      QVERIFY(sheet.contains(QStringLiteral("#7c5cff")));
    }
  }

  // A rule Qt cannot parse drops the whole sheet with a warning that the window hides; the
  // sheet must parse cleanly for the theme to show at all.
  void darkSheetParsesAndColoursWidgets() {
    QWidget page;
    page.setObjectName(QStringLiteral("startView"));
    page.setAttribute(Qt::WA_StyledBackground, true);
    page.resize(50, 50);
    sheetWarnings.clear();
    QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    qApp->setStyleSheet(styleSheetForTheme(QStringLiteral("dark")));
    const QImage shot = page.grab().toImage();
    qInstallMessageHandler(previous);
    qApp->setStyleSheet(QString());
    QVERIFY2(sheetWarnings.isEmpty(), qPrintable(sheetWarnings.join('\n')));
    QCOMPARE(QColor(shot.pixel(25, 25)).name(), QStringLiteral("#16161f"));
  }
};

QTEST_MAIN(StartupCommandLineTest)
#include "test_startup_commandline.moc"
