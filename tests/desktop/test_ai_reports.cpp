// Translation and the agent report: the exact files written, what the chat shows instead when
// a file cannot be written, empty answers, the text cut sent for translation, and the window's
// translation dialog.
#include <QFile>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "FakeDocument.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "recording_server.h"
#include "test_mainwindow_support.h"

using namespace quorvel::desktop;
using quorvel::test::FakeDocument;
using quorvel::test::FakePage;
using quorvel::test::RecordingServer;
using namespace quorvel::test;

namespace {

QTextBrowser* logOf(QWidget& w) { return w.findChild<QTextBrowser*>(QStringLiteral("aiLog")); }
QString logText(QWidget& w) { return logOf(w)->toPlainText(); }
int entries(QWidget& w) { return logOf(w)->document()->blockCount(); }
int countOf(QWidget& w, const QString& text) { return int(logText(w).count(text)); }
bool waitEntries(QWidget& w, int count) {
  return QTest::qWaitFor([&] { return entries(w) >= count; }, 20000) && entries(w) == count;
}

std::unique_ptr<FakeDocument> documentOf(const std::vector<std::string>& pageTexts) {
  auto d = std::make_unique<FakeDocument>();
  for (const std::string& t : pageTexts) {
    FakePage p;
    if (!t.empty()) p.text.runs.push_back(quorvel::test::asciiRun(t, 10, 700));
    d->pages.push_back(p);
  }
  return d;
}

const char* const kWithRequisites = "Write to anna@firm.ru by 01.02.2024, total 1 500,00 due.";
const char* const kWithout = "Nothing of the kind here.";

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray answer(const QString& text) {
  return QJsonDocument(QJsonObject{{QStringLiteral("answer"), text}}).toJson();
}

QJsonObject json(const QByteArray& body) { return QJsonDocument::fromJson(body).object(); }

}  // namespace

class AiReportsTest : public QObject {
  Q_OBJECT

  QTemporaryDir config;
  QTemporaryDir out;

 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
  }
  void init() {
    QSettings().clear();
    qunsetenv("QUORVEL_BACKEND");
  }

  // The report file's format follows the extension; its bytes are fixed.
  void reportFiles() {
    const QString html = QStringLiteral("<!DOCTYPE html><html><head><meta charset='utf-8'><title>Отчёт Tavi AI</title></head><body>"
                                        "<h1>Отчёт по документу</h1><h2>Ключевые реквизиты</h2><table border='1' cellpadding='4'>%1</table>"
                                        "<h2>Анализ</h2><pre style='white-space:pre-wrap'>%2</pre></body></html>");
    const QString rowsHtml = QStringLiteral("<tr><td>Email</td><td>anna@firm.ru</td></tr><tr><td>Дата</td><td>01.02.2024</td></tr>"
                                            "<tr><td>Сумма</td><td>1 500,00</td></tr>");
    const QString rowsText = QStringLiteral("Email: anna@firm.ru\nДата: 01.02.2024\nСумма: 1 500,00\n");
    const QString analysis = QStringLiteral("1) <b>A & B</b>\n2) \"x\" %1");
    const QString escaped = QStringLiteral("1) &lt;b&gt;A &amp; B&lt;/b&gt;\n2) &quot;x&quot; %1");
    const auto text = [](const QString& rows, const QString& a) {
      return QStringLiteral("ОТЧЁТ ПО ДОКУМЕНТУ\n\n=== Ключевые реквизиты ===\n") + rows +
             QStringLiteral("\n=== Анализ ===\n") + a + QStringLiteral("\n");
    };
    struct Case {
      const char* file;
      const char* pageText;
      QString reply;
      QString expected;
    };
    const Case cases[] = {
        {"r.HTM", kWithRequisites, analysis, html.arg(rowsHtml, escaped)},
        {"r.html", kWithout, analysis, html.arg(QString(), escaped)},
        {"r.xhtml", kWithRequisites, analysis, text(rowsText, analysis)},
        {"r.txt", kWithout, QStringLiteral("x"), text(QStringLiteral("(не найдены)\n"), QStringLiteral("x"))},
        {"r", kWithRequisites, QStringLiteral("ok"), text(rowsText, QStringLiteral("ok"))},
    };
    for (const Case& c : cases) {
      RecordingServer server;
      server.queue({200, answer(c.reply), {}});
      qputenv("QUORVEL_BACKEND", server.base().toUtf8());
      AiPanel panel;
      PdfView view;
      view.setDocument(documentOf({c.pageText, "Second page."}));
      panel.setView(&view);
      const QString path = out.filePath(QString::fromLatin1(c.file));
      QFile::remove(path);
      panel.generateReport(path);
      QVERIFY(waitEntries(panel, 3));
      QVERIFY2(readAll(path) == c.expected.toUtf8(), c.file);
      // The chat says where it went and shows nothing of the report.
      QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Агент: готовлю отчёт (реквизиты + анализ)…\n"
                                                     "Tavi AI: Отчёт сохранён: ") + path));
      // The model gets the instruction alone as the question and the document as context.
      const QJsonObject body = json(server.requests.at(0).body);
      QVERIFY(body["messages"][0]["content"].toString().startsWith(
          QStringLiteral("Сформируй структурированный отчёт по документу строго в разделах, по пунктам:\n1) ")));
      QCOMPARE(body["messages"][0]["content"].toString().size(), 194);
      QVERIFY(body["context"].toString().contains(QStringLiteral("Second page.")));
    }
  }

  // The report in the chat (the dock's quick action), and when its file cannot be written.
  void reportInChat() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    AiPanel panel;
    PdfView view;
    view.setDocument(documentOf({kWithRequisites}));
    panel.setView(&view);

    server.queue({200, answer(QStringLiteral("<b>A & B</b>")), {}});
    const QString block = QStringLiteral("Отчёт (агент):");
    panel.findChildren<QPushButton*>(QStringLiteral("aiQuick")).at(5)->click();
    QVERIFY(QTest::qWaitFor([&] { return countOf(panel, block) == 1; }, 20000));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Отчёт (агент):\n<b>A & B</b>")));
    QVERIFY(logText(panel).contains(QStringLiteral("Извлечённые данные:")));
    QVERIFY(logText(panel).contains(QStringLiteral("anna@firm.ru")));
    QVERIFY(logOf(panel)->toHtml().contains(QStringLiteral("&lt;b&gt;A &amp; B&lt;/b&gt;")));

    // A folder that does not exist: the failure, then the report itself instead of losing it.
    view.setDocument(documentOf({kWithout}));
    server.queue({200, answer(QStringLiteral("ok")), {}});
    const QString lost = out.filePath(QStringLiteral("no/such/dir/r.html"));
    panel.generateReport(lost);
    QVERIFY(QTest::qWaitFor([&] { return countOf(panel, block) == 2; }, 20000));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Не удалось записать отчёт: ") + lost +
                                    QStringLiteral("\nTavi AI: Данные не найдены.\nОтчёт (агент):\nok")));

    // An answer without the analysis is no report: an earlier report stays as it was, and the
    // log says what came back.
    const QString earlier = out.filePath(QStringLiteral("earlier.txt"));
    QVERIFY(writeOutputFile(earlier, "earlier report"));
    for (const QByteArray& reply : {answer(QString()), QByteArray("<html>gateway</html>")}) {
      server.queue({200, reply, {}});
      const int before = entries(panel);
      panel.generateReport(earlier);
      QVERIFY(waitEntries(panel, before + 2));
      QVERIFY(logText(panel).section(QLatin1Char('\n'), -1).startsWith(QStringLiteral("Tavi AI: Отчёт не сформирован: ")));
      QCOMPARE(readAll(earlier), QByteArray("earlier report"));
    }
    QVERIFY(logText(panel).contains(QStringLiteral("ответ не в формате провайдера: <html>gateway</html>")));

    // A failed request: one line, no file.
    server.queue({500, "boom", {}});
    const QString none = out.filePath(QStringLiteral("failed.txt"));
    const int n = entries(panel);
    panel.generateReport(none);
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(logText(panel).section(QLatin1Char('\n'), -1).startsWith(QStringLiteral("Tavi AI: Отчёт не сформирован: ")));
    QVERIFY(!QFile::exists(none));

    // Without a document nothing is sent.
    panel.setView(nullptr);
    const int sent = int(server.requests.size());
    panel.generateReport(QString());
    panel.translateDocument(QStringLiteral("английский"), QString());
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Сначала откройте документ.\nTavi AI: Сначала откройте документ.")));
    QCOMPARE(int(server.requests.size()), sent);
  }

  void translation() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    AiPanel panel;
    PdfView view;
    // Three pages of 5000 characters: only the first 8000 characters of the text travel.
    view.setDocument(documentOf({std::string(5000, 'a'), std::string(5000, 'b'), std::string(5000, 'c')}));
    panel.setView(&view);

    server.queue({200, answer(QStringLiteral("Hallo <Welt> & %2")), {}});
    const QString saved = out.filePath(QStringLiteral("de.txt"));
    panel.translateDocument(QStringLiteral("немецкий %2"), saved);
    QVERIFY(waitEntries(panel, 4));
    QCOMPARE(readAll(saved), QByteArray("Hallo <Welt> & %2"));
    // The log says how much of the document the translation covers (its plain text reads the
    // no-break spaces of the grouping as spaces).
    QVERIFY2(logText(panel).endsWith(QStringLiteral("Вы: Перевести документ на немецкий %2\n"
                                                    "Tavi AI: Перевод (немецкий %2) сохранён: ") + saved +
                                     QStringLiteral("\nTavi AI: Переведены первые 8 000 из 15 003 символов документа.")),
             qPrintable(logText(panel)));
    const QJsonObject body = json(server.requests.at(0).body);
    QCOMPARE(body["messages"][0]["content"].toString(),
             QStringLiteral("Переведи текст документа на немецкий %2. Верни ТОЛЬКО перевод, сохрани разбивку по "
                            "строкам/абзацам, без пояснений."));
    const QString context = body["context"].toString();
    QCOMPARE(context, view.documentText(20000).left(8000));
    QCOMPARE(context.size(), 8000);
    QVERIFY(context.endsWith(QLatin1Char('b')));

    // A folder that does not exist: the translation is shown, and no error.
    server.queue({200, answer(QStringLiteral("Hello <world>")), {}});
    const QString lost = out.filePath(QStringLiteral("missing/en.txt"));
    int n = entries(panel);
    panel.translateDocument(QStringLiteral("английский"), lost);
    QVERIFY(waitEntries(panel, n + 3));
    QVERIFY(logText(panel).contains(QStringLiteral("Вы: Перевести документ на английский\nПеревод (английский): Hello <world>\n")));
    QVERIFY(!QFile::exists(lost));

    // What is not a translation leaves an existing file as it was and says what came back: an
    // empty answer, a body that is not the provider's, a refusal.
    struct Wrong {
      QByteArray reply;
      const char* said;
    };
    const Wrong wrong[] = {{answer(QString()), "в ответе нет текста"},
                           {"", "пустой ответ"},
                           {"Bad Gateway", "ответ не в формате провайдера: Bad Gateway"}};
    for (const Wrong& w : wrong) {
      server.queue({200, w.reply, {}});
      n = entries(panel);
      panel.translateDocument(QStringLiteral("x"), saved);
      QVERIFY(waitEntries(panel, n + 2));
      QVERIFY2(logText(panel).section(QLatin1Char('\n'), -1).startsWith(
                   QStringLiteral("Tavi AI: Ошибка перевода: ") + QString::fromUtf8(w.said)),
               w.said);
      QCOMPARE(readAll(saved), QByteArray("Hallo <Welt> & %2"));
    }

    // A failure names the error only.
    server.queue({503, "down", {}});
    n = entries(panel);
    panel.translateDocument(QStringLiteral("x"), QString());
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(logText(panel).section(QLatin1Char('\n'), -1).startsWith(QStringLiteral("Tavi AI: Ошибка перевода: ")));
    QVERIFY(!logText(panel).contains(QStringLiteral("down")));

    // A service that takes its key in the URL: Qt's error text names the URL, the log never the key.
    RecordingServer gemini;
    QSettings st;
    st.setValue(QStringLiteral("ai/provider"), QStringLiteral("gemini"));
    st.setValue(QStringLiteral("ai/api_key"), QStringLiteral("SeCrEt"));
    st.setValue(QStringLiteral("ai/base_url"), gemini.base());
    for (int i = 0; i < 2; ++i) gemini.queue({400, "bad key SeCrEt", {}});
    n = entries(panel);
    panel.translateDocument(QStringLiteral("x"), QString());
    panel.generateReport(QString());
    QVERIFY(waitEntries(panel, n + 4));
    QCOMPARE(gemini.requests.size(), 2);
    QVERIFY(logText(panel).contains(QStringLiteral("Ошибка перевода: ")));
    QVERIFY(logText(panel).contains(QStringLiteral("Отчёт не сформирован: ")));
    QVERIFY(!logText(panel).contains(QStringLiteral("SeCrEt")));
  }

  // The File menu's dialog: cancelled or empty does nothing, accepted translates into the chat.
  void windowDialogAndSlots() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    TempDir dir;
    const QString pdf = writeTestFile(dir, "t.pdf", quorvel::test::text_pdf({"Hello"}));
    MainWindow w;
    w.translateDialog();  // no document: not even the dialog
    w.openFile(pdf);
    QWidget& panel = *w.findChild<AiPanel*>();
    const int before = entries(panel);
    {
      ModalAnswerer answers({rejectDialog(), typePassword(QString())});
      w.translateDialog();
      w.translateDialog();
      QCOMPARE(answers.seen.size(), 2);
      QCOMPARE(answers.seen[0].title, QStringLiteral("Перевод документа"));
      QCOMPARE(answers.seen[0].text, QStringLiteral("Язык перевода (напр. английский, немецкий, китайский):"));
    }
    w.translateDocument(QString(), QStringLiteral("x.txt"));
    QCOMPARE(entries(panel), before);

    server.queue({200, answer(QStringLiteral("Hallo")), {}});
    {
      ModalAnswerer answers({[](QWidget* d) {
        auto* input = qobject_cast<QInputDialog*>(d);
        QCOMPARE(input->textValue(), QStringLiteral("английский"));
        input->setTextValue(QStringLiteral("немецкий"));
        input->accept();
      }});
      w.translateDialog();
    }
    QVERIFY(waitEntries(panel, before + 2));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Вы: Перевести документ на немецкий\nПеревод (немецкий): Hallo")));
    QCOMPARE(server.requests.size(), 1);

    server.queue({200, answer(QStringLiteral("r")), {}});
    const QString report = QString::fromStdString(dir.file("w.txt"));
    w.agentReportTo(report);
    QVERIFY(waitEntries(panel, before + 4));
    QVERIFY(readAll(report).endsWith("=== Анализ ===\nr\n"));
  }
};

QTEST_MAIN(AiReportsTest)
#include "test_ai_reports.moc"
