// Pages ranked by meaning: which provider settings ask for embeddings and from where, the
// texts and formats sent, the vectors read back (in Gemini's batches too), every way of falling
// back to keywords, and the ranked links in the dock against the real backend stand-in.
#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "desktop/ai/AiEmbeddings.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "recording_server.h"
#include "stand_in_process.h"
#include "test_mainwindow_support.h"

using namespace quorvel::desktop;
using namespace quorvel::test;

namespace {

using Vectors = QList<QList<double>>;

QTextBrowser* logOf(MainWindow& w) { return w.findChild<QTextBrowser*>(QStringLiteral("aiLog")); }
QString logText(MainWindow& w) { return logOf(w)->toPlainText(); }
int searches(MainWindow& w) { return int(logText(w).count(QStringLiteral("Поиск по смыслу: "))); }
QString status(MainWindow& w) { return w.statusBar()->currentMessage(); }

// The page numbers of the last result block, in rank order.
QList<int> rankedPages(MainWindow& w) {
  QList<int> pages;
  const QStringList lines = logText(w).split(QLatin1Char('\n'));
  for (auto it = lines.rbegin(); it != lines.rend() && it->startsWith(QStringLiteral("стр. ")); ++it)
    pages.prepend(it->mid(5).section(QLatin1Char(' '), 0, 0).toInt());
  return pages;
}

// Clicks the last link in the log that shows `text`, as a user does.
void clickLink(QTextBrowser* log, const QString& text) {
  QTextCursor end(log->document());
  end.movePosition(QTextCursor::End);
  QTextCursor link = log->document()->find(text, end, QTextDocument::FindBackward);
  QVERIFY(!link.isNull());
  link.setPosition(link.selectionStart() + 2);
  log->setTextCursor(link);
  log->ensureCursorVisible();
  QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, log->cursorRect(link).center());
}

bool waitSearches(MainWindow& w, int count) {
  return QTest::qWaitFor([&] { return searches(w) >= count; }, 20000) && searches(w) == count;
}

QByteArray reply(const QString& mode, const Vectors& vectors) {
  QJsonArray items;
  for (const QList<double>& v : vectors) {
    QJsonArray numbers;
    for (double x : v) numbers.append(x);
    if (mode == QLatin1String("backend")) items.append(numbers);
    else if (mode == QLatin1String("gemini")) items.append(QJsonObject{{QStringLiteral("values"), numbers}});
    else items.append(QJsonObject{{QStringLiteral("embedding"), numbers}});
  }
  const QString member = mode == QLatin1String("backend") ? QStringLiteral("vectors")
                         : mode == QLatin1String("gemini") ? QStringLiteral("embeddings")
                                                            : QStringLiteral("data");
  return QJsonDocument(QJsonObject{{member, items}}).toJson();
}

// The query and three pages, page 2 blank. By keywords "zebra" finds page 1 only; these
// vectors put page 2 first, page 3 second and page 1 nowhere.
const Vectors kThree{{1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0.5, 0.5, 0}};
const QList<int> kByVectors{2, 3};
const QList<int> kByKeywords{1};

void store(const QString& provider, const QString& key, const QString& base, const QString& embedModel = QString()) {
  QSettings s;
  s.clear();
  s.setValue(QStringLiteral("ai/provider"), provider);
  s.setValue(QStringLiteral("ai/api_key"), key);
  s.setValue(QStringLiteral("ai/base_url"), base);
  if (!embedModel.isEmpty()) s.setValue(QStringLiteral("ai/embed_model"), embedModel);
}

// The texts a request carried, whatever its format.
QStringList textsOf(const QByteArray& body) {
  const QJsonObject o = QJsonDocument::fromJson(body).object();
  QStringList out;
  if (o.contains(QStringLiteral("requests")))
    for (const QJsonValue& r : o[QStringLiteral("requests")].toArray())
      out << r[QStringLiteral("content")][QStringLiteral("parts")][0][QStringLiteral("text")].toString();
  for (const QJsonValue& t : o[o.contains(QStringLiteral("texts")) ? QStringLiteral("texts") : QStringLiteral("input")].toArray())
    out << t.toString();
  return out;
}

}  // namespace

class SemanticSearchTest : public QObject {
  Q_OBJECT

  QTemporaryDir config;
  TempDir dir;
  QString three, other, hundred, hundredOne;

 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    three = writeTestFile(dir, "three.pdf", text_pdf({"zebra crossing", "", "payment term"}));
    other = writeTestFile(dir, "other.pdf", text_pdf({"alpha", "a zebra here", "beta"}));
    std::vector<std::string> pages;
    for (int i = 1; i <= 100; ++i) pages.push_back("page " + std::to_string(i) + (i == 7 ? " zebra" : ""));
    hundred = writeTestFile(dir, "hundred.pdf", text_pdf(pages));
    pages.push_back("page 101");
    hundredOne = writeTestFile(dir, "hundred-one.pdf", text_pdf(pages));
  }
  void init() {
    QSettings().clear();
    qunsetenv("QUORVEL_BACKEND");
  }

  void modeTable() {
    struct Case {
      const char* provider;
      const char* key;
      const char* base;
      const char* mode;
      const char* baseOut;
    };
    const Case cases[] = {
        {"openai", "k", "", "openai", "https://api.openai.com/v1"},
        {"openai", "k", "http://o/v1", "openai", "http://o/v1"},
        {"openai", "", "http://o/v1", "", ""},
        {"deepseek", "k", "", "openai", "https://api.deepseek.com/v1"},
        {"deepseek", "", "", "", ""},
        {"ollama", "", "", "openai", "http://127.0.0.1:11434/v1"},
        {"custom", "", "http://c/", "openai", "http://c/"},
        {"custom", "k", "", "", ""},
        {"gemini", "k", "", "gemini", "https://generativelanguage.googleapis.com"},
        {"gemini", "", "http://g", "", ""},
        {"gigachat", "k", "", "backend", ""},
        {"yandexgpt", "k", "http://y", "backend", "http://y"},
        {"yandexgpt", "", "", "", ""},
        {"stub", "k", "http://s", "", ""},
        {"anthropic", "k", "", "", ""},
        {"", "k", "", "", ""},
        {"OpenAI", "k", "", "", ""},
        {"Gigachat", "k", "", "", ""},
    };
    for (const Case& c : cases) {
      const ai::EmbeddingTarget t = ai::embeddingTarget(QString::fromLatin1(c.provider), QString::fromLatin1(c.key),
                                                        QString::fromLatin1(c.base));
      QVERIFY2(t.mode == QLatin1String(c.mode), c.provider);
      if (!t.mode.isEmpty()) QVERIFY2(t.base == QLatin1String(c.baseOut), c.provider);
    }
  }

  // One search per provider against a scripted service: the address, authentication, body and
  // the ranking by the vectors it answers.
  void requestsAndRankingPerService() {
    struct Case {
      const char* provider;
      const char* key;
      const char* basePath;  // appended to the server's address; null: no base stored
      const char* embedModel;
      const char* mode;
      QByteArray requestLine;
      QByteArray auth;       // Authorization header; empty: none
      const char* model;     // the body's model; null: no member
    };
    const Case cases[] = {
        {"ollama", "", "/v1", "", "openai", "POST /v1/embeddings HTTP/1.1", "", "text-embedding-3-small"},
        {"openai", "k", "/v1/", "e-model", "openai", "POST /v1//embeddings HTTP/1.1", "Bearer k", "e-model"},
        {"custom", "", "", "", "openai", "POST /embeddings HTTP/1.1", "", "text-embedding-3-small"},
        {"gemini", "k", "", "", "gemini", "POST /v1beta/models/text-embedding-004:batchEmbedContents?key=k HTTP/1.1", "", "models/text-embedding-004"},
        {"gemini", "k", "", "models/x-emb", "gemini", "POST /v1beta/models/x-emb:batchEmbedContents?key=k HTTP/1.1", "", "models/x-emb"},
        {"gigachat", "gk", nullptr, "", "backend", "POST /ai/embeddings HTTP/1.1", "", nullptr},
        {"yandexgpt", "yk", "/ignored", "ym", "backend", "POST /ai/embeddings HTTP/1.1", "", "ym"},
    };
    for (const Case& c : cases) {
      RecordingServer server;
      server.queue({200, reply(QString::fromLatin1(c.mode), kThree), {}});
      const QString base = c.basePath ? server.base() + QString::fromLatin1(c.basePath) : QString();
      store(QString::fromLatin1(c.provider), QString::fromLatin1(c.key), base, QString::fromLatin1(c.embedModel));
      qputenv("QUORVEL_BACKEND", server.base().toUtf8());
      MainWindow w;
      w.openFile(three);
      w.semanticSearch(QStringLiteral("  zebra  "));
      QCOMPARE(status(w), QStringLiteral("Поиск по смыслу (эмбеддинги)…"));
      QVERIFY2(waitSearches(w, 1), c.provider);
      QCOMPARE(server.requests.size(), 1);
      const RecordingServer::Request& r = server.requests[0];
      QVERIFY2(r.requestLine() == c.requestLine, r.requestLine().constData());
      QCOMPARE(r.header("Authorization"), c.auth);
      QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
      QVERIFY(r.body.contains("\n    "));
      // The query untrimmed, each page's text, a blank page as one space.
      QCOMPARE(textsOf(r.body), (QStringList{"  zebra  ", "zebra crossing", " ", "payment term"}));
      const QJsonObject body = QJsonDocument::fromJson(r.body).object();
      const QString mode = QString::fromLatin1(c.mode);
      if (mode == QLatin1String("gemini")) {
        QCOMPARE(body["requests"].toArray().size(), 4);
        QCOMPARE(body["requests"][3]["model"].toString(), QString::fromLatin1(c.model));
      } else {
        QCOMPARE(body.contains("model"), c.model != nullptr);
        if (c.model) QCOMPARE(body["model"].toString(), QString::fromLatin1(c.model));
      }
      if (mode == QLatin1String("backend")) {
        QCOMPARE(body["provider"].toString(), QString::fromLatin1(c.provider));
        QCOMPARE(body["api_key"].toString(), QString::fromLatin1(c.key));
        QCOMPARE(body["base_url"].toString(), base);
      }
      QCOMPARE(rankedPages(w), kByVectors);
      QCOMPARE(status(w), QStringLiteral("Поиск по смыслу: эмбеддинги"));
    }
  }

  // Every way the vectors cannot be used ends in the keyword ranking of the current document.
  void fallsBackToKeywords() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    store(QStringLiteral("gigachat"), QStringLiteral("SeCrEt"), QString());
    MainWindow w;
    w.openFile(three);

    // A failed request: the notice, then keywords.
    server.queue({500, "SeCrEt is wrong", {}});
    w.semanticSearch(QStringLiteral("zebra"));
    QVERIFY(waitSearches(w, 1));
    QCOMPARE(status(w), QStringLiteral("Эмбеддинги недоступны — поиск по ключевым словам"));
    QCOMPARE(rankedPages(w), kByKeywords);

    // One vector too few, an answer that is not JSON, vectors that match nothing: no notice.
    const QByteArray tooFew = reply(QStringLiteral("backend"), kThree.mid(0, 3));
    const QByteArray orthogonal = reply(QStringLiteral("backend"), {{1, 0}, {0, 1}, {0, 1}, {0, 0}});
    int n = 1;
    for (const QByteArray& body : {tooFew, QByteArray("<html>"), orthogonal}) {
      server.queue({200, body, {}});
      w.semanticSearch(QStringLiteral("zebra"));
      QVERIFY(waitSearches(w, ++n));
      QCOMPARE(status(w), QStringLiteral("Поиск по смыслу (эмбеддинги)…"));
      QCOMPARE(rankedPages(w), kByKeywords);
    }
    QVERIFY(!logText(w).contains(QStringLiteral("SeCrEt")));

    // More than 100 pages: keywords at once, nothing sent.
    const int sent = int(server.requests.size());
    w.openFile(hundredOne);
    w.semanticSearch(QStringLiteral("zebra"));
    QCOMPARE(searches(w), n + 1);
    QCOMPARE(rankedPages(w), QList<int>{7});
    QCOMPARE(int(server.requests.size()), sent);

    // Settings that allow no embeddings, and a blank query, which does nothing at all.
    store(QStringLiteral("OpenAI"), QStringLiteral("k"), server.base());
    w.semanticSearch(QStringLiteral("zebra"));
    QCOMPARE(searches(w), n + 2);
    w.semanticSearch(QStringLiteral(" \t "));
    QCOMPARE(searches(w), n + 2);
    QCOMPARE(int(server.requests.size()), sent);
  }

  // 100 pages are 101 texts: two Gemini batches, their vectors joined in order.
  void geminiBatches() {
    RecordingServer server;
    Vectors first{{1, 0}}, second{{1, 0}};
    for (int page = 1; page <= 99; ++page) first.append(page == 50 ? QList<double>{1, 1} : QList<double>{0, 1});
    server.queue({200, reply(QStringLiteral("gemini"), first), {}});
    server.queue({200, reply(QStringLiteral("gemini"), second), {}});
    store(QStringLiteral("gemini"), QStringLiteral("k"), server.base());
    MainWindow w;
    w.openFile(hundred);
    w.semanticSearch(QStringLiteral("zebra"));
    QVERIFY(waitSearches(w, 1));
    QCOMPARE(server.requests.size(), 2);
    const QStringList a = textsOf(server.requests[0].body), b = textsOf(server.requests[1].body);
    QCOMPARE(a.size(), 100);
    QCOMPARE(a.first(), QStringLiteral("zebra"));
    QCOMPARE(b, QStringList{QStringLiteral("page 100")});
    QCOMPARE(rankedPages(w), (QList<int>{100, 50}));
    QCOMPARE(status(w), QStringLiteral("Поиск по смыслу: эмбеддинги"));
  }

  // Vectors belong to the document that asked: after a tab switch the current one is ranked by
  // keywords, although it has as many pages.
  void tabSwitchNeverAppliesOldVectors() {
    RecordingServer server;
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    store(QStringLiteral("gigachat"), QStringLiteral("k"), QString());
    MainWindow w;
    w.openFile(three);
    w.openFile(other);
    auto* tabs = w.findChild<QTabWidget*>();
    tabs->setCurrentIndex(0);
    server.queue({200, reply(QStringLiteral("backend"), kThree), {}});
    w.semanticSearch(QStringLiteral("zebra"));
    tabs->setCurrentIndex(1);
    QVERIFY(waitSearches(w, 1));
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(rankedPages(w), QList<int>{2});
    QVERIFY(status(w) != QStringLiteral("Поиск по смыслу: эмбеддинги"));
  }

  // A link in the dock acts on the document its result came from: it brings that tab forward,
  // and once the tab is closed it does nothing.
  void linksActOnTheirOwnDocument() {
    MainWindow w;
    w.resize(1200, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.openFile(hundred);
    PdfView* ranked = w.currentView();
    w.semanticSearch(QStringLiteral("zebra"));  // by keywords: page 7
    QCOMPARE(rankedPages(w), QList<int>{7});
    w.findChild<AiPanel*>()->showDiff(QStringLiteral("1 изм. стр."),
                                      QStringLiteral("<div><a href='quorvel-page:9'>стр. 9</a> +1</div>"));
    w.openFile(three);
    PdfView* other = w.currentView();
    QVERIFY(other != ranked);
    auto* tabs = w.findChild<QTabWidget*>();
    QTextBrowser* log = logOf(w);
    QVERIFY(QTest::qWaitFor([&] { return log->isVisible(); }, 5000));

    clickLink(log, QStringLiteral("стр. 7"));
    QCOMPARE(tabs->currentWidget(), ranked);
    QCOMPARE(ranked->currentPage(), 7);
    tabs->setCurrentWidget(other);
    clickLink(log, QStringLiteral("стр. 9"));
    QCOMPARE(tabs->currentWidget(), ranked);
    QCOMPARE(ranked->currentPage(), 9);

    tabs->setCurrentWidget(other);
    tabs->tabCloseRequested(tabs->indexOf(ranked));
    QCOMPARE(tabs->count(), 1);
    const int page = other->currentPage();
    for (const QString& text : {QStringLiteral("стр. 7"), QStringLiteral("стр. 9")}) {
      clickLink(log, text);
      QCOMPARE(w.currentView(), other);
      QCOMPARE(other->currentPage(), page);
    }
  }

  // As a user runs it: the program's command line with the stand-in as backend, then a click
  // on a link in the dock, and the search bar's button.
  void commandLineWithTheStandInAndClickedLinks() {
    StandInProcess standIn;
    QVERIFY(standIn.start());
    qputenv("QUORVEL_BACKEND", standIn.base.toUtf8());
    store(QStringLiteral("gigachat"), QStringLiteral("k"), QString());
    const QString contract = writeTestFile(
        dir, "contract.pdf",
        text_pdf({"Parties and subject of the contract", "Delivery of goods by truck", "Payment term and penalty for late payment",
                  "Signatures"}));
    MainWindow w;
    w.resize(1200, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    runCommandLine(w, {QStringLiteral("--semantic"), QStringLiteral("late payment penalty"), contract});
    QVERIFY(waitSearches(w, 1));
    QCOMPARE(status(w), QStringLiteral("Поиск по смыслу: эмбеддинги"));
    QCOMPARE(rankedPages(w).value(0), 3);
    QVERIFY(logText(w).contains(QStringLiteral("стр. 3 — Payment term and penalty for late payment")));

    // A click on the link turns the view to its page.
    QTextBrowser* log = logOf(w);
    QVERIFY(QTest::qWaitFor([&] { return log->isVisible(); }, 5000));
    QTextCursor link = log->document()->find(QStringLiteral("стр. 3"));
    QVERIFY(!link.isNull());
    link.setPosition(link.selectionStart() + 2);
    log->ensureCursorVisible();
    const QPoint at = log->cursorRect(link).center();
    QCOMPARE(w.currentView()->currentPage(), 1);
    QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(QTest::qWaitFor([&] { return w.currentView()->currentPage() == 3; }, 5000));

    // The search bar's button searches the field's text.
    QAction* button = nullptr;
    for (QAction* a : w.findChildren<QAction*>())
      if (a->text() == QStringLiteral("✨ По смыслу")) button = a;
    QVERIFY(button && button->isEnabled());
    w.findChild<QLineEdit*>(QStringLiteral("searchEdit"))->setText(QStringLiteral("truck delivery"));
    button->trigger();
    QVERIFY(waitSearches(w, 2));
    QCOMPARE(rankedPages(w).value(0), 2);
  }
};

QTEST_MAIN(SemanticSearchTest)
#include "test_semantic_search.moc"
