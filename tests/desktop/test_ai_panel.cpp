// The AI dock: its widgets and log entries, the provider settings, the requests built for each
// provider and the answers read from each dialect, and whole conversations against scripted
// servers on 127.0.0.1 speaking each provider's wire format.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <functional>

#include "FakeDocument.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/ai/AiRequest.h"
#include "desktop/window/BackendLink.h"
#include "lang_guard.h"
#include "recording_server.h"

using namespace quorvel::desktop;
using quorvel::test::FakeDocument;
using quorvel::test::FakePage;
using quorvel::test::RecordingServer;

namespace {

QString logText(AiPanel& p) { return p.findChild<QTextBrowser*>(QStringLiteral("aiLog"))->toPlainText(); }
QString logHtml(AiPanel& p) { return p.findChild<QTextBrowser*>(QStringLiteral("aiLog"))->toHtml(); }
int entries(AiPanel& p) { return p.findChild<QTextBrowser*>(QStringLiteral("aiLog"))->document()->blockCount(); }

std::unique_ptr<FakeDocument> textDocument(int pages) {
  auto d = std::make_unique<FakeDocument>();
  for (int i = 0; i < pages; ++i) {
    FakePage p;
    p.text.runs.push_back(quorvel::test::asciiRun("Payment term is " + std::to_string(10 + i) + " days.", 10, 700));
    d->pages.push_back(p);
  }
  return d;
}

void store(const QString& provider, const QString& key, const QString& model, const QString& base) {
  QSettings s;
  s.setValue(QStringLiteral("ai/provider"), provider);
  s.setValue(QStringLiteral("ai/api_key"), key);
  s.setValue(QStringLiteral("ai/model"), model);
  s.setValue(QStringLiteral("ai/base_url"), base);
}

// Runs `fill` on the modal dialog once it is up.
void onDialog(const std::function<void(QDialog*)>& fill) {
  QTimer::singleShot(0, [fill] { fill(qobject_cast<QDialog*>(QApplication::activeModalWidget())); });
}

// Waits until the log holds `count` entries.
bool waitEntries(AiPanel& p, int count) {
  return QTest::qWaitFor([&] { return entries(p) >= count; }, 20000) && entries(p) == count;
}

int modeOf(const QString& file) {
  struct stat st {};
  return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QJsonObject json(const QByteArray& body) { return QJsonDocument::fromJson(body).object(); }

}  // namespace

class TestAiPanel : public QObject {
  Q_OBJECT

  QTemporaryDir config;

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

  void widgetsGreetingAndEntries() {
    quorvel::test::LangGuard lang(1);
    AiPanel panel;
    QCOMPARE(panel.objectName(), QStringLiteral("aiPanel"));
    const auto quick = panel.findChildren<QPushButton*>(QStringLiteral("aiQuick"));
    QCOMPARE(quick.size(), 6);
    QCOMPARE(quick[0]->text(), QStringLiteral("About this document?"));
    QCOMPARE(quick[5]->text(), QStringLiteral("Generate report"));
    QCOMPARE(panel.findChild<QToolButton*>(QStringLiteral("aiGear"))->text(), QString(QChar(0x2699)));
    QCOMPARE(panel.findChild<QPushButton*>(QStringLiteral("aiSend"))->text(), QStringLiteral("Ask"));
    auto* log = panel.findChild<QTextBrowser*>(QStringLiteral("aiLog"));
    QVERIFY(!log->openLinks() && !log->openExternalLinks());
    QCOMPARE(entries(panel), 1);
    QCOMPARE(logText(panel), QStringLiteral("Tavi AI: Ask a question about the open document."));
    QVERIFY(logHtml(panel).contains(QStringLiteral("#7c5cff")));

    // Typed text never becomes markup, in the sender as in the message.
    panel.appendMessage(QStringLiteral("<i>x</i>"), QStringLiteral("a < b && <b>c</b>"), QStringLiteral("user"));
    QVERIFY(logText(panel).endsWith(QStringLiteral("<i>x</i>: a < b && <b>c</b>")));

    // Return on spaces only sends nothing and leaves the spaces.
    auto* input = panel.findChild<QLineEdit*>(QStringLiteral("aiInput"));
    input->setText(QStringLiteral("   "));
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(input->text(), QStringLiteral("   "));
    QCOMPARE(entries(panel), 2);

    panel.showRanked(QStringLiteral("штраф"), {});
    QVERIFY(logText(panel).endsWith(QStringLiteral("Поиск по смыслу: штраф\nTavi AI: Релевантных страниц не найдено.")));
    const int before = entries(panel);
    panel.showRanked(QStringLiteral("q"), {{3, QStringLiteral("  a & %1 b ")}, {1, QStringLiteral("x")}, {7, QStringLiteral("y")}});
    QCOMPARE(entries(panel), before + 1 + 3);
    QVERIFY(logText(panel).endsWith(QStringLiteral("стр. 3 — a & %1 b\nстр. 1 — x\nстр. 7 — y")));
    QVERIFY(logHtml(panel).contains(QStringLiteral("href=\"quorvel-page:3?doc=")));  // and its document

    panel.showExtracted({});
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Данные не найдены.")));
    panel.showExtracted({{QStringLiteral("ИНН"), QStringLiteral("<7701>")}, {QStringLiteral("email"), QStringLiteral("a&b@c")}});
    QVERIFY(logText(panel).contains(QStringLiteral("ИНН")));
    QVERIFY(logText(panel).contains(QStringLiteral("<7701>")));
    QVERIFY(logText(panel).contains(QStringLiteral("a&b@c")));
    QVERIFY(logHtml(panel).contains(QStringLiteral("#9aa0b8")));
  }

  void pageLinks() {
    AiPanel panel;
    auto* log = panel.findChild<QTextBrowser*>(QStringLiteral("aiLog"));
    emit log->anchorClicked(QUrl(QStringLiteral("quorvel-page:2")));  // no view: nothing happens
    PdfView view;
    view.resize(640, 400);
    view.show();
    view.setDocument(textDocument(5));
    panel.setView(&view);
    struct Case {
      const char* url;
      int page;
    };
    const Case cases[] = {{"quorvel-page:3", 3}, {"quorvel-page:0", 3},  {"quorvel-page:99", 3},
                          {"quorvel-page:x", 3}, {"http://example.com/4", 3}, {"quorvel-page:5", 5}};
    for (const Case& c : cases) {
      emit log->anchorClicked(QUrl(QString::fromLatin1(c.url)));
      QVERIFY2(view.currentPage() == c.page, c.url);
    }
    // A closed tab leaves no dangling viewer behind.
    auto* gone = new PdfView;
    panel.setView(gone);
    delete gone;
    QCOMPARE(panel.currentView(), nullptr);
    emit log->anchorClicked(QUrl(QStringLiteral("quorvel-page:1")));
  }

  void settingsDialog() {
    AiPanel panel;
    QSettings().setValue(QStringLiteral("ui/lang"), QStringLiteral("en"));
    QSettings().sync();
    const QString file = QSettings().fileName();
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    onDialog([](QDialog* d) {
      auto* combo = d->findChild<QComboBox*>();
      QCOMPARE(combo->currentText(), QStringLiteral("stub"));
      QCOMPARE(combo->count(), 9);
      combo->setCurrentText(QStringLiteral("gemini"));
      d->findChildren<QLineEdit*>()[0]->setText(QStringLiteral("typed"));
      d->reject();
    });
    panel.openSettings();
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    f.close();
    QCOMPARE(entries(panel), 1);

    onDialog([](QDialog* d) {
      d->findChild<QComboBox*>()->setCurrentText(QStringLiteral("gemini"));
      const auto edits = d->findChildren<QLineEdit*>();
      QCOMPARE(edits[0]->echoMode(), QLineEdit::Password);
      edits[0]->setText(QStringLiteral("sekret"));
      edits[1]->setText(QStringLiteral(" m "));
      edits[2]->setText(QStringLiteral("http://h/"));
      d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    panel.openSettings();
    QSettings s;
    QCOMPARE(s.value(QStringLiteral("ai/provider")).toString(), QStringLiteral("gemini"));
    QCOMPARE(s.value(QStringLiteral("ai/api_key")).toString(), QStringLiteral("sekret"));
    QCOMPARE(s.value(QStringLiteral("ai/model")).toString(), QStringLiteral(" m "));
    QCOMPARE(s.value(QStringLiteral("ai/base_url")).toString(), QStringLiteral("http://h/"));
    QCOMPARE(modeOf(file), 0600);
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Провайдер: gemini.")));
    QVERIFY(!logText(panel).contains(QStringLiteral("sekret")));
    // Later writes by other parts of the program keep the file owner-only.
    s.setValue(QStringLiteral("ui/lang"), QStringLiteral("ru"));
    s.sync();
    QCOMPARE(modeOf(file), 0600);

    // A stored name outside the list shows "stub".
    QSettings().setValue(QStringLiteral("ai/provider"), QStringLiteral("OpenAI"));
    onDialog([](QDialog* d) {
      QCOMPARE(d->findChild<QComboBox*>()->currentText(), QStringLiteral("stub"));
      d->reject();
    });
    panel.openSettings();
  }

  void requestsForEveryProvider() {
    const QString ctx9000 = QString(8990, QLatin1Char('c')) + QStringLiteral("0123456789");
    const QString cut = ctx9000.left(8000);
    struct Case {
      const char* provider;
      const char* key;
      const char* model;
      const char* base;
      QString context;
      const char* kind;
      const char* url;
      const char* auth;    // Authorization, or x-api-key for anthropic; null: absent
      const char* model2;  // the model the body names
    };
    const Case cases[] = {
        {"openai", "k1", "", "", QStringLiteral("ctx"), "openai", "https://api.openai.com/v1/chat/completions", "Bearer k1", "gpt-4o-mini"},
        {"deepseek", "", "", "", QStringLiteral("ctx"), "openai", "https://api.deepseek.com/v1/chat/completions", nullptr, "gpt-4o-mini"},
        {"ollama", "", "llama3", "", QStringLiteral("ctx"), "openai", "http://127.0.0.1:11434/v1/chat/completions", nullptr, "llama3"},
        {"custom", "k", "", "http://h:1/v1/", QStringLiteral("ctx"), "openai", "http://h:1/v1//chat/completions", "Bearer k", "gpt-4o-mini"},
        {"custom", "k", "", "", QStringLiteral("ctx"), "", "", nullptr, ""},
        {"gemini", "g k", "", "", ctx9000, "gemini", "https://generativelanguage.googleapis.com/v1beta/models/gemini-1.5-flash:generateContent?key=g%20k", nullptr, ""},
        {"anthropic", "", "", "http://a", QStringLiteral("ctx"), "anthropic", "http://a/v1/messages", "", "claude-3-5-sonnet-latest"},
        {"stub", "", "", "http://ignored", ctx9000, "backend", "http://be:9/ai/chat", nullptr, ""},
        {"gigachat", "gk", "m", "", QStringLiteral("ctx"), "backend", "http://be:9/ai/chat", nullptr, "m"},
        {"yandexgpt", "", "", "", QString(), "backend", "http://be:9/ai/chat", nullptr, ""},
        {"OpenAI", "", "", "", QStringLiteral("ctx"), "backend", "http://be:9/ai/chat", nullptr, ""},
    };
    for (const Case& c : cases) {
      const QString tag = QStringLiteral("%1/%2").arg(QString::fromLatin1(c.provider), QString::fromLatin1(c.base));
      const ai::ProviderSettings s{QString::fromLatin1(c.provider), QString::fromLatin1(c.key),
                                   QString::fromLatin1(c.model), QString::fromLatin1(c.base)};
      const ai::ProviderRequest r = ai::buildProviderRequest(s, QStringLiteral("Q?"), c.context, QStringLiteral("http://be:9"));
      QVERIFY2(r.kind == QLatin1String(c.kind), qPrintable(tag));
      if (r.kind.isEmpty()) {
        QVERIFY(r.body.isEmpty());
        continue;
      }
      QVERIFY2(r.request.url().toString(QUrl::FullyEncoded) == QLatin1String(c.url), qPrintable(r.request.url().toString()));
      QCOMPARE(r.request.header(QNetworkRequest::ContentTypeHeader).toString(), QStringLiteral("application/json"));
      const QJsonObject b = json(r.body);
      QVERIFY(r.body.contains("\n    "));  // indented
      const QString expectedContext = c.context.left(8000);
      if (r.kind == QLatin1String("openai")) {
        QCOMPARE(r.request.rawHeader("Authorization"), c.auth ? QByteArray(c.auth) : QByteArray());
        QCOMPARE(b["model"].toString(), QString::fromLatin1(c.model2));
        const QJsonArray m = b["messages"].toArray();
        QCOMPARE(m.size(), 3);
        QVERIFY(m[0]["content"].toString().startsWith(QStringLiteral("Ты — Tavi AI")));
        QCOMPARE(m[1]["content"].toString(), QStringLiteral("Документ:\n") + expectedContext);
        QCOMPARE(m[2]["role"].toString(), QStringLiteral("user"));
        QCOMPARE(m[2]["content"].toString(), QStringLiteral("Q?"));
      } else if (r.kind == QLatin1String("gemini")) {
        QVERIFY(!r.request.hasRawHeader("Authorization"));
        QCOMPARE(b["contents"][0]["parts"][0]["text"].toString(),
                 QStringLiteral("Документ:\n") + cut + QStringLiteral("\n\nВопрос: Q?"));
        QVERIFY(b["systemInstruction"]["parts"][0]["text"].toString().startsWith(QStringLiteral("Ты — Tavi AI")));
      } else if (r.kind == QLatin1String("anthropic")) {
        QVERIFY(r.request.hasRawHeader("x-api-key"));
        QCOMPARE(r.request.rawHeader("x-api-key"), QByteArray(c.auth));
        QCOMPARE(r.request.rawHeader("anthropic-version"), QByteArray("2023-06-01"));
        QCOMPARE(b["model"].toString(), QString::fromLatin1(c.model2));
        QCOMPARE(b["max_tokens"].toInt(), 1500);
        QCOMPARE(b["messages"][0]["content"].toString(), QStringLiteral("Документ:\n") + expectedContext + QStringLiteral("\n\nВопрос: Q?"));
      } else {
        QCOMPARE(b["messages"].toArray().size(), 1);
        QCOMPARE(b["messages"][0]["content"].toString(), QStringLiteral("Q?"));
        QCOMPARE(b["cite_sources"].toBool(), true);
        QCOMPARE(b["context"].toString(), expectedContext);
        QCOMPARE(b["provider"].toString(), QString::fromLatin1(c.provider));
        QCOMPARE(b["api_key"].toString(), QString::fromLatin1(c.key));
        QCOMPARE(b["base_url"].toString(), QString::fromLatin1(c.base));
        QCOMPARE(b["model"].toString(), QString::fromLatin1(c.model2));
        QVERIFY(!b.contains("system"));
      }
      // Every request carries the document's text: none follows a redirect to another origin.
      QCOMPARE(r.request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
               int(QNetworkRequest::SameOriginRedirectPolicy));
    }

    // "custom" without a base: one notice, nothing filled.
    store(QStringLiteral("custom"), QString(), QString(), QString());
    AiPanel panel;
    QNetworkRequest req;
    QByteArray body;
    QCOMPARE(panel.buildRequest(QStringLiteral("q"), req, body, QString()), QString());
    QVERIFY(body.isEmpty() && req.url().isEmpty());
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Укажите Base URL в настройках (⚙).")));
  }

  void answers() {
    struct Case {
      const char* kind;
      const char* body;
      const char* answer;
    };
    const Case cases[] = {
        {"openai", R"({"choices":[{"message":{"content":"A"}},{"message":{"content":"B"}}]})", "A"},
        {"openai", R"({"choices":[]})", ""},
        {"openai", "not json", ""},
        {"gemini", R"({"candidates":[{"content":{"parts":[{"text":"one "},{"inlineData":{}},{"text":"two"}]}}]})", "one two"},
        {"gemini", R"({"candidates":[{"content":{"parts":"x"}}]})", ""},
        {"anthropic", R"({"content":[{"type":"text","text":"hi"}]})", "hi"},
        {"anthropic", R"({"content":[{"type":"thinking","thinking":"x"},{"type":"text","text":"A"},{"type":"text","text":"B"}]})", "AB"},
        {"openai", R"({"choices":[{"message":{"content":[{"type":"text","text":"P1"},{"type":"text","text":"P2"}]}}]})", "P1P2"},
        {"anthropic", R"({"answer":"wrong path"})", ""},
        {"backend", R"({"answer":"ok","mode":"offline"})", "ok"},
        {"backend", R"({"answer":5})", ""},
        {"backend", R"(["answer"])", ""},
        {"OpenAI", R"({"answer":"by backend path"})", "by backend path"},
    };
    for (const Case& c : cases)
      QVERIFY2(AiPanel::parseAnswer(QString::fromLatin1(c.kind), QByteArray(c.body)) == QString::fromUtf8(c.answer), c.body);
  }

  // Beyond the text: whether the provider cut the answer, refused it, or sent no answer at all.
  void whatTheBodySays() {
    using Lack = ai::ProviderAnswer::Lack;
    struct Case {
      const char* kind;
      const char* body;
      const char* text;
      bool cut;
      Lack lack;
      const char* problem;  // its start
    };
    const Case cases[] = {
        {"openai", R"({"choices":[{"message":{"content":"half"},"finish_reason":"length"}]})", "half", true, Lack::None, ""},
        {"openai", R"({"choices":[{"message":{"content":"all"},"finish_reason":"stop"}]})", "all", false, Lack::None, ""},
        {"anthropic", R"({"content":[{"type":"text","text":"half"}],"stop_reason":"max_tokens"})", "half", true, Lack::None, ""},
        {"gemini", R"({"candidates":[{"content":{"parts":[{"text":"half"}]},"finishReason":"MAX_TOKENS"}]})", "half", true,
         Lack::None, ""},
        {"gemini", R"({"promptFeedback":{"blockReason":"SAFETY"}})", "", false, Lack::Blocked,
         "провайдер отказался отвечать (SAFETY)"},
        {"gemini", R"({"candidates":[{"finishReason":"SAFETY"}]})", "", false, Lack::Blocked, "провайдер отказался отвечать"},
        {"openai", R"({"choices":[{"message":{"content":""},"finish_reason":"content_filter"}]})", "", false, Lack::Blocked,
         "провайдер отказался отвечать (content_filter)"},
        {"anthropic", R"({"content":[],"stop_reason":"refusal"})", "", false, Lack::Blocked, "провайдер отказался"},
        {"backend", R"({"answer":""})", "", false, Lack::Empty, "в ответе нет текста: {"},
        {"backend", "", "", false, Lack::Empty, "пустой ответ"},
        {"openai", "<html>502</html>", "", false, Lack::Foreign, "ответ не в формате провайдера: <html>502</html>"},
        {"openai", R"(["choices"])", "", false, Lack::Foreign, "ответ не в формате провайдера"},
    };
    for (const Case& c : cases) {
      const ai::ProviderAnswer a = ai::readProviderAnswer(QString::fromLatin1(c.kind), QByteArray(c.body));
      QVERIFY2(a.text == QString::fromUtf8(c.text), c.body);
      QVERIFY2(a.cut == c.cut, c.body);
      QVERIFY2(a.lack == c.lack, c.body);
      QVERIFY2(*c.problem ? a.problem.startsWith(QString::fromUtf8(c.problem)) : a.problem.isEmpty(), c.body);
    }
  }

  // An answer cut by the provider is kept and said to be cut; a provider that never answers ends
  // in the time bound's own words, not in those of a cancel; the part of a long diff sent is said.
  void cutSilentAndPartial() {
    RecordingServer server;
    store(QStringLiteral("openai"), QString(), QString(), server.base());
    AiPanel panel;
    PdfView view;
    view.setDocument(textDocument(1));
    panel.setView(&view);
    server.queue({200, R"({"choices":[{"message":{"content":"The first half"},"finish_reason":"length"}]})", {}});
    panel.ask(QStringLiteral("q"));
    QVERIFY(waitEntries(panel, 4));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: The first half\nTavi AI: Ответ обрезан провайдером: он "
                                                   "остановился на пределе длины ответа, конец не получен.")));

    const int bound = BackendNetwork::providerTimeoutMs;
    BackendNetwork::providerTimeoutMs = 1000;
    server.queue({200, {}, {}, true});
    int n = entries(panel);
    panel.ask(QStringLiteral("silence"));
    QVERIFY(waitEntries(panel, n + 2));
    BackendNetwork::providerTimeoutMs = bound;
    QVERIFY(logText(panel).trimmed().endsWith(QStringLiteral("Tavi AI: Ошибка: нет ответа за 1 с")));

    server.queue({200, R"({"choices":[{"message":{"content":"sum"}}]})", {}});
    n = entries(panel);
    panel.summarizeDiff(QString(9000, QLatin1Char('+')));
    QVERIFY(waitEntries(panel, n + 3));
    QVERIFY(logText(panel).endsWith(
        QStringLiteral("Резюме изменений: sum\nTavi AI: Резюме составлено по первым 8 000 из 9 000 символов изменений.")));
  }

  // One question through each wire format, answered by a scripted server.
  void chatFlows() {
    struct Case {
      const char* provider;
      QByteArray reply;
      const char* path;
      const char* answer;
    };
    const Case cases[] = {
        {"openai", R"({"choices":[{"message":{"role":"assistant","content":"O"}}]})", "/v1/chat/completions", "O"},
        {"gemini", R"({"candidates":[{"content":{"parts":[{"text":"G"}]}}]})", "/v1beta/models/gemini-1.5-flash:generateContent?key=k", "G"},
        {"anthropic", R"({"content":[{"type":"text","text":"A"}]})", "/v1/messages", "A"},
        {"stub", R"({"answer":"B","mode":"offline"})", "/ai/chat", "B"},
        {"stub", R"({"answer":""})", "/ai/chat", "(пустой ответ)"},
    };
    for (const Case& c : cases) {
      RecordingServer server;
      server.queue({200, c.reply, {}});
      const QString provider = QString::fromLatin1(c.provider);
      const QString base = provider == QLatin1String("openai") ? server.base() + QStringLiteral("/v1") : server.base();
      store(provider, QStringLiteral("k"), QString(), base);
      qputenv("QUORVEL_BACKEND", server.base().toUtf8());
      AiPanel panel;
      PdfView view;
      view.setDocument(textDocument(3));
      panel.setView(&view);
      panel.ask(QStringLiteral("What is the payment term?"));
      QVERIFY2(waitEntries(panel, 3), c.provider);
      QCOMPARE(server.requests.size(), 1);
      QVERIFY2(server.requests[0].requestLine() == "POST " + QByteArray(c.path) + " HTTP/1.1", server.requests[0].requestLine());
      QVERIFY(logText(panel).endsWith(QStringLiteral("Вы: What is the payment term?\nTavi AI: ") + QString::fromUtf8(c.answer)));
      // The document's text went along as context.
      QVERIFY(server.requests[0].body.contains("[стр. 1]"));
    }
  }

  void failuresAndEdges() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    store(QStringLiteral("stub"), QString(), QString(), QString());
    AiPanel panel;

    // No document: the question and one notice, nothing sent.
    panel.ask(QStringLiteral("q"));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Вы: q\nTavi AI: Сначала откройте документ.")));
    // A quick action asks its prompt; the report button sends no prompt at all.
    const auto quick = panel.findChildren<QPushButton*>(QStringLiteral("aiQuick"));
    quick[4]->click();
    QVERIFY(logText(panel).endsWith(
        QStringLiteral("Вы: Найди риски, штрафы и спорные пункты. Перечисли их.\nTavi AI: Сначала откройте документ.")));
    const int beforeReport = entries(panel);
    quick[5]->click();
    QCOMPARE(entries(panel), beforeReport + 1);
    // The report button sends no prompt: without a document it only says so.
    QVERIFY(logText(panel).endsWith(QStringLiteral("Перечисли их.\nTavi AI: Сначала откройте документ.\n"
                                                   "Tavi AI: Сначала откройте документ.")));
    // A diff of white space only: nothing to sum up, nothing sent.
    panel.summarizeDiff(QStringLiteral("  \n\t\n"));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Изменений для резюме нет.")));
    QCOMPARE(server.requests.size(), 0);

    // A refusal with a long body shows its first 300 bytes; a "%2" in it stays as it is.
    QByteArray long1k = "%2" + QByteArray(1022, 'e');
    server.queue({401, long1k, {}});
    PdfView view;
    view.setDocument(textDocument(1));
    panel.setView(&view);
    int n = entries(panel);
    panel.ask(QStringLiteral("q2"));
    QVERIFY(waitEntries(panel, n + 2));
    const QString shown = logText(panel).section(QStringLiteral("Tavi AI: Ошибка: "), -1);
    QVERIFY(shown.endsWith(QString::fromLatin1(long1k.left(300))));
    QVERIFY(!shown.contains(QString::fromLatin1(long1k.left(301))));

    // A summary works without a document; its answer comes from "Резюме изменений".
    panel.setView(nullptr);
    server.queue({200, R"({"answer":""})", {}});
    n = entries(panel);
    panel.summarizeDiff(QStringLiteral("- a\n+ b"));
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(logText(panel).endsWith(QStringLiteral("Tavi AI: Анализирую изменения…\nРезюме изменений: (пустой ответ)")));
    QCOMPARE(json(server.requests.last().body)["context"].toString(), QStringLiteral("- a\n+ b"));
    server.queue({500, "boom", {}});
    n = entries(panel);
    panel.summarizeDiff(QStringLiteral("+ c"));
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(logText(panel).contains(QStringLiteral("Tavi AI: Ошибка резюме: ")));
    QVERIFY(!logText(panel).endsWith(QStringLiteral("boom")));
  }

  // A provider answers with whatever it likes: a huge answer is cut, with a notice, and the log
  // takes it a piece at a time between events, what comes meanwhile following it; a body beyond
  // any answer's size is not read; an error's excerpt ends at a whole character.
  void answersOfEverySize() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    store(QStringLiteral("stub"), QString(), QString(), QString());
    AiPanel panel;
    PdfView view;
    view.setDocument(textDocument(1));
    panel.setView(&view);

    const QString huge = QString(10 << 20, QLatin1Char('a')) + QStringLiteral("END");
    server.queue({200, QJsonDocument(QJsonObject{{QStringLiteral("answer"), huge}}).toJson(), {}});
    panel.ask(QStringLiteral("everything"));
    const QString notice = QStringLiteral("Tavi AI: Ответ слишком длинный (10485763 знаков): показаны первые 1048576.\n");
    QVERIFY(QTest::qWaitFor([&] { return logText(panel).contains(notice); }, 20000));
    QString meanwhile;
    QTimer::singleShot(0, &panel, [&] {
      meanwhile = logText(panel).section(notice, 1);
      panel.appendMessage(QStringLiteral("Tavi AI"), QStringLiteral("after"), QStringLiteral("ai"));
    });
    QVERIFY(QTest::qWaitFor([&] { return logText(panel).endsWith(QStringLiteral("Tavi AI: after")); }, 20000));
    QVERIFY(meanwhile.startsWith(QStringLiteral("Tavi AI: aaa")));
    QVERIFY(meanwhile.size() < (1 << 19));
    QString shown = logText(panel).section(notice, 1).chopped(QStringLiteral("\nTavi AI: after").size());
    QVERIFY(shown.startsWith(QStringLiteral("Tavi AI: ")));
    QCOMPARE(shown.remove(0, 9).remove(QLatin1Char('\n')), QString(1 << 20, QLatin1Char('a')));

    server.queue({200, QByteArray(17 << 20, ' '), {}});
    int n = entries(panel);
    n = entries(panel);
    panel.ask(QStringLiteral("more"));
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(logText(panel).trimmed().endsWith(QStringLiteral("Вы: more\nTavi AI: Ошибка: ответ больше 16 МБ")));

    // "Ж" takes bytes 300 and 301: it is left out whole, not shown as a broken character.
    server.queue({500, QByteArray(299, 'e') + "Жtail", {}});
    n = entries(panel);
    panel.ask(QStringLiteral("fail"));
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(logText(panel).endsWith(QString(299, QLatin1Char('e'))));
    QVERIFY(!logText(panel).contains(QChar::ReplacementCharacter));
  }

  void keysNeverLeak() {
    const QString key = QStringLiteral("SeCrEt/+key");
    // A Gemini refusal: the URL with the key stands in Qt's error text.
    RecordingServer gemini;
    gemini.queue({400, R"({"error":{"message":"API key not valid: SeCrEt/+key"}})", {}});
    store(QStringLiteral("gemini"), key, QString(), gemini.base());
    AiPanel panel;
    PdfView view;
    view.setDocument(textDocument(1));
    panel.setView(&view);
    panel.ask(QStringLiteral("q"));
    QVERIFY(waitEntries(panel, 3));
    QCOMPARE(gemini.requests.size(), 1);
    QVERIFY(logText(panel).contains(QStringLiteral("***")));
    QVERIFY(!logText(panel).contains(QStringLiteral("SeCrEt")));

    // A redirect to another host receives neither the key nor the body, nor does one of a
    // provider without a key (a local server), whose body still holds the document's text.
    const std::pair<const char*, QString> redirected[] = {
        {"openai", key}, {"anthropic", key}, {"stub", key}, {"ollama", QString()}, {"custom", QString()}, {"stub", QString()}};
    for (const auto& [provider, withKey] : redirected) {
      RecordingServer elsewhere, first;
      const QString target = QStringLiteral("http://localhost:%1/x").arg(QUrl(elsewhere.base()).port());
      first.queue({307, "", {{"Location", target.toUtf8()}}});
      qputenv("QUORVEL_BACKEND", first.base().toUtf8());
      store(QString::fromLatin1(provider), withKey, QString(), first.base());
      AiPanel p;  // reads the backend address when built
      p.setView(&view);
      p.ask(QStringLiteral("r"));
      QVERIFY(waitEntries(p, 3));
      QVERIFY2(first.requests.size() == 1, provider);
      QVERIFY(first.requests[0].body.contains("Payment term"));
      if (!withKey.isEmpty()) QVERIFY(first.requests[0].head.contains("SeCrEt") || first.requests[0].body.contains("SeCrEt"));
      QCOMPARE(elsewhere.requests.size(), 0);
      QVERIFY(logText(p).contains(QStringLiteral("Tavi AI: Ошибка: ")));
      QVERIFY(!logText(p).contains(QStringLiteral("SeCrEt")));
    }

    // Anthropic without a key still names the header, empty.
    RecordingServer anthropic;
    anthropic.queue({200, R"({"content":[{"text":"ok"}]})", {}});
    store(QStringLiteral("anthropic"), QString(), QString(), anthropic.base());
    const int n = entries(panel);
    panel.ask(QStringLiteral("s"));
    QVERIFY(waitEntries(panel, n + 2));
    QVERIFY(anthropic.requests[0].head.toLower().contains("\r\nx-api-key:"));
  }

  void windowRoutesQuestions() {
    RecordingServer server;
    server.queue({200, R"({"answer":"from window"})", {}});
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    auto* panel = w.findChild<AiPanel*>();
    QVERIFY(panel);
    w.summarizeLastDiff();  // no compare has run
    QVERIFY(logText(*panel).endsWith(QStringLiteral("Tavi AI: Изменений для резюме нет.")));
    w.askAi(QStringLiteral("Any?"));
    QVERIFY(logText(*panel).endsWith(QStringLiteral("Вы: Any?\nTavi AI: Сначала откройте документ.")));
    QCOMPARE(server.requests.size(), 0);
  }
};

QTEST_MAIN(TestAiPanel)
#include "test_ai_panel.moc"
