// Long work over a whole document runs as a job of the window: the window's events are handled
// while it runs, a tool can be cancelled until its result is being written and then writes
// nothing, and a tab or the window closing meanwhile never pulls a document from under it.
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QElapsedTimer>
#include <QLabel>
#include <QTextBrowser>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

#include "ForwardingDocument.h"
#include "common/time_bound.h"
#include "core/xfdf.h"
#include "desktop/window/JobRunner.h"
#include "lang_guard.h"
#include "recording_server.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
using Answers = std::deque<ModalAnswerer::Answer>;

namespace {

bool offMainThread() { return QThread::currentThread() != QCoreApplication::instance()->thread(); }

// Runs `act` on the window's thread while the calling worker waits for it to finish.
void onWindowThread(const std::function<void()>& act) {
  QSemaphore done;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [&] {
    act();
    done.release();
  }, Qt::QueuedConnection);
  done.acquire();
}

// Clicks the cancel button of the job's progress dialog, as a user would.
void clickCancel() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() != QLatin1String("jobProgress") || !w->isVisible()) continue;
    if (auto* button = w->findChild<QPushButton*>()) button->click();
  }
}

// A real document that, at the n-th call of one kind made by a job's worker, lets the window's
// thread act before the worker goes on; the kinds are the reads every long job starts with.
class GateDocument : public ForwardingDocument {
 public:
  enum Kind { PageInfo, Text, Render, Save };
  GateDocument(std::unique_ptr<IDocument> inner, Kind kind, int at, std::function<void()> act)
      : ForwardingDocument(std::move(inner)), kind_(kind), at_(at), act_(std::move(act)) {}

  quorvel::PageInfo page_info(int page) const override {
    pass(PageInfo);
    return in->page_info(page);
  }
  quorvel::TextPage extract_text(int page) const override {
    pass(Text);
    return in->extract_text(page);
  }
  quorvel::RenderedTile render_tile(int page, const quorvel::RenderRequest& req) override {
    pass(Render);
    return in->render_tile(page, req);
  }
  bool save_as(const std::string& path, const std::vector<quorvel::annot::Annotation>& annots) override {
    pass(Save);
    return in->save_as(path, annots);
  }
  int reached() const { return calls_; }
  // Run on the worker once `act` is done, before the call goes on.
  std::function<void()> afterAct;

 private:
  void pass(Kind kind) const {
    if (kind != kind_ || !offMainThread()) return;
    if (++calls_ != at_) return;
    onWindowThread(act_);
    if (afterAct) afterAct();
  }
  Kind kind_;
  int at_;
  std::function<void()> act_;
  mutable std::atomic<int> calls_{0};
};

QByteArray bytesOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool putFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QString recoveryFolder() { return QDir::tempPath() + QStringLiteral("/quorvel-recovery"); }

// A snapshot of the one window that is running: each window writes into a folder of its own.
QString snapshotPath(const QString& name) {
  const QStringList folders = QDir(recoveryFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  return folders.size() == 1 ? recoveryFolder() + QLatin1Char('/') + folders.first() + QLatin1Char('/') + name
                             : QString();
}

// Lets a waiting worker go on when the window receives its close.
class CloseWatch : public QObject {
 public:
  explicit CloseWatch(QSemaphore& closing) : closing_(closing) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Close) closing_.release();
    return false;
  }

 private:
  QSemaphore& closing_;
};

// The AI dock's conversation as plain text.
QString aiLog(MainWindow& w) {
  auto* log = w.findChild<QTextBrowser*>(QStringLiteral("aiLog"));
  return log ? log->toPlainText() : QString();
}

// Points the AI dock at `server` as an OpenAI-compatible provider that answers "ok" once.
void askOf(RecordingServer& server) {
  QSettings s;
  s.setValue(QStringLiteral("ai/provider"), QStringLiteral("ollama"));
  s.setValue(QStringLiteral("ai/base_url"), server.base() + QStringLiteral("/v1"));
  const QJsonObject answer{{QStringLiteral("message"), QJsonObject{{QStringLiteral("content"), QStringLiteral("ok")}}}};
  server.queue({200, QJsonDocument(QJsonObject{{QStringLiteral("choices"), QJsonArray{answer}}}).toJson(), {}});
}

// Whether the next request the provider gets carries `text`.
bool sent(RecordingServer& server, const QByteArray& text) {
  return QTest::qWaitFor([&] { return !server.requests.isEmpty(); }, 20000) && server.requests.size() == 1 &&
         server.requests.front().body.contains(text);
}

// Every page's text, to tell whether a document was changed.
std::vector<std::string> pageTexts(const quorvel::IDocument& doc) {
  std::vector<std::string> out;
  for (int i = 0; i < doc.page_count(); ++i) out.push_back(quorvel::page_text(doc.extract_text(i)));
  return out;
}

// A real document that runs `before` on the window's thread when a whole-document rewrite
// (text layer, redaction) is asked of it, and tells whether one is running.
class RewriteGate : public ForwardingDocument {
 public:
  using ForwardingDocument::ForwardingDocument;
  std::function<void()> before;
  std::atomic<bool> inside{false};

  std::vector<int> add_text_layers(const std::vector<std::pair<int, std::vector<quorvel::TextSpan>>>& pages,
                                   std::optional<uint64_t> since) override {
    if (before) onWindowThread(before);
    return ForwardingDocument::add_text_layers(pages, since);
  }
  std::vector<int> redact_pages(const std::vector<std::pair<int, std::vector<quorvel::annot::Rect>>>& pages) override {
    if (before) onWindowThread(before);
    inside = true;
    std::vector<int> out = ForwardingDocument::redact_pages(pages);
    inside = false;
    return out;
  }
};

QStringList filesIn(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class LongJobsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString six, sixChanged, recogniser, manyAnnotations;

  QString out(const QString& name) const { return QString::fromStdString(dir.file(name.toStdString())); }

  // The view's document behind a gate.
  static GateDocument* gate(MainWindow& w, GateDocument::Kind kind, int at, std::function<void()> act) {
    PdfView* view = w.currentView();
    auto doc = std::make_unique<GateDocument>(std::move(view->doc), kind, at, std::move(act));
    GateDocument* g = doc.get();
    view->setDocument(std::move(doc));
    return g;
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    // Page 2 holds an address for the redaction and the extraction to find.
    six = writeTestFile(dir, "six.pdf", text_pdf({"one", "two ivan@mail.ru", "three", "four", "five", "six"}));
    sixChanged = writeTestFile(dir, "six-changed.pdf", text_pdf({"one", "2", "three", "four", "5", "six"}));
    // A recogniser that finds one word on every page at once.
    recogniser = out(QStringLiteral("recogniser"));
    QVERIFY(putFile(recogniser, "#!/bin/sh\necho '{\"width\":100,\"height\":100,\"items\":"
                                "[{\"text\":\"WORDX\",\"box\":[10,10,50,20]}]}'\n"));
    QFile(recogniser).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    std::vector<quorvel::annot::Annotation> many(10000);
    for (size_t i = 0; i < many.size(); ++i) {
      many[i].id = "a" + std::to_string(i);
      many[i].page = static_cast<int>(i % 6);
      many[i].type = quorvel::annot::AnnotType::Rectangle;
      many[i].x0 = 10, many[i].y0 = 10, many[i].x1 = 50, many[i].y1 = 50;
    }
    manyAnnotations = out(QStringLiteral("many.xfdf"));
    QVERIFY(putFile(manyAnnotations, QByteArray::fromStdString(quorvel::annot::to_xfdf(many, ""))));
  }
  void init() {
    QSettings().clear();
    qunsetenv("QUORVEL_OCR");
    QDir(recoveryFolder()).removeRecursively();
  }

  // Each long command: an event queued before it starts is handled while its job runs, and
  // the command still ends with its result. A tool holds the window under its progress dialog;
  // autosave leaves the window free.
  void eventsAreHandledWhileEachJobRuns_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("modal");
    for (const char* c : {"watermark", "page numbers", "Bates", "compare", "side by side", "compare to HTML",
                          "export text", "export HTML", "export Word HTML", "export page images",
                          "redact personal data", "replace text", "extract data", "extract data to CSV",
                          "searchable copy", "keyword ranking", "question", "report", "translation",
                          "import annotations"})
      QTest::newRow(c) << QString::fromLatin1(c) << true;
    QTest::newRow("autosave") << QStringLiteral("autosave") << false;
  }
  void eventsAreHandledWhileEachJobRuns() {
    QFETCH(QString, command);
    QFETCH(bool, modal);
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();
    w.openFile(six);
    QVERIFY(w.currentView());
    ModalAnswerer dialogs(Answers{rejectDialog()});  // the side-by-side view is closed at once
    RecordingServer provider;

    bool handled = false, whileRunning = false;
    QString blockedBy;
    QMetaObject::invokeMethod(&w, [&] {
      handled = true;
      whileRunning = w.jobs().busy();
      if (QWidget* m = QApplication::activeModalWidget()) blockedBy = m->objectName();
    }, Qt::QueuedConnection);

    const QString pages = out(QStringLiteral("pages"));
    const std::map<QString, std::function<bool()>> commands{
        {"watermark", [&] { w.watermarkTo("X", out("w.pdf")); return p.tabs()->count() == 2; }},
        {"page numbers", [&] { w.pageNumbersTo(out("n.pdf")); return p.tabs()->count() == 2; }},
        {"Bates", [&] { w.batesStampTo("B", 1, 6, out("b.pdf")); return p.tabs()->count() == 2; }},
        {"compare", [&] { return w.compareWith(sixChanged); }},
        {"side by side", [&] { w.showVisualDiff(sixChanged); return dialogs.seen.size() == 1; }},
        {"compare to HTML", [&] { return w.compareToHtml(sixChanged, out("c.html")) && QFileInfo::exists(out("c.html")); }},
        {"export text", [&] { w.exportTextTo(out("e.txt")); return QFileInfo::exists(out("e.txt")); }},
        {"export HTML", [&] { w.exportHtmlTo(out("e.html"), false); return QFileInfo::exists(out("e.html")); }},
        {"export Word HTML", [&] { w.exportHtmlTo(out("e.doc"), true); return QFileInfo::exists(out("e.doc")); }},
        {"export page images", [&] {
           QDir().mkpath(pages);
           w.exportAllPagesTo(pages);
           return filesIn(pages).size() == 6;
         }},
        {"redact personal data", [&] { w.redactPiiTo(out("r.pdf")); return p.tabs()->count() == 2; }},
        {"replace text", [&] { w.replaceTextTo("three", "3", out("t.pdf")); return p.tabs()->count() == 2; }},
        {"extract data", [&] { w.extractData(); return p.status() == QStringLiteral("Извлечено сущностей: 1"); }},
        {"extract data to CSV", [&] {
           w.extractToCsv(out("d.csv"));
           return bytesOf(out("d.csv")) == "kind,value\nEmail,\"ivan@mail.ru\"\n";
         }},
        {"searchable copy", [&] {
           qputenv("QUORVEL_OCR", recogniser.toLocal8Bit());
           w.ocrSearchableTo(out("s.pdf"));
           return QFileInfo::exists(out("s.pdf"));
         }},
        {"keyword ranking", [&] { w.semanticSearch("three"); return aiLog(w).contains(QStringLiteral("стр. 3 — three")); }},
        {"question", [&] {
           askOf(provider);
           w.askAi("three?");
           return sent(provider, "[стр. 3]\\nthree");
         }},
        {"report", [&] {
           askOf(provider);
           w.agentReportTo(QString());
           return sent(provider, "[стр. 1]\\none");
         }},
        {"translation", [&] {
           askOf(provider);
           w.translateDocument(QStringLiteral("английский"), QString());
           return sent(provider, "three\\nfour");
         }},
        {"import annotations", [&] {
           w.importAnnotationsXfdfFrom(manyAnnotations);
           return p.status() == QStringLiteral("Импортировано аннотаций: 10000") &&
                  w.currentView()->annotations.size() == 10000;
         }},
        {"autosave", [&] {
           w.autosaveSnapshot();
           return QFileInfo::exists(snapshotPath(QStringLiteral("rec-0.pdf")));
         }},
    };
    QVERIFY2(commands.at(command)(), qPrintable(p.status()));
    QVERIFY(handled);
    QVERIFY(whileRunning);
    QCOMPARE(blockedBy, modal ? QStringLiteral("jobProgress") : QString());
    QVERIFY(!w.jobs().busy());
  }

  // Cancelled before its result is written, a tool writes nothing and opens nothing; a file
  // already at its output stays as it was. Page numbers keep what they stamped in the open
  // document and say how much, as there is no undo.
  void cancelledToolWritesNothing_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("gateKind");
    QTest::addColumn<QString>("status");
    QTest::newRow("watermark") << "watermark" << int(GateDocument::PageInfo) << "Отменено";
    QTest::newRow("page numbers") << "page numbers" << int(GateDocument::PageInfo)
                                  << "Отменено; изменено страниц открытого документа: 3";
    QTest::newRow("compare to HTML") << "compare to HTML" << int(GateDocument::Text) << "Отменено";
    QTest::newRow("export text") << "export text" << int(GateDocument::Text) << "Отменено";
    QTest::newRow("export page images") << "export page images" << int(GateDocument::Render) << "Отменено";
    QTest::newRow("redact personal data") << "redact personal data" << int(GateDocument::Text) << "Отменено";
    QTest::newRow("replace text") << "replace text" << int(GateDocument::Text) << "Отменено";
    QTest::newRow("extract data to CSV") << "extract data to CSV" << int(GateDocument::Text) << "Отменено";
    QTest::newRow("searchable copy") << "searchable copy" << int(GateDocument::Render) << "Отменено";
  }
  void cancelledToolWritesNothing() {
    QFETCH(QString, tool);
    QFETCH(int, gateKind);
    QFETCH(QString, status);
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(six);
    GateDocument* doc = gate(w, GateDocument::Kind(gateKind), 3, clickCancel);
    const QString target = out(tool + QStringLiteral(".out"));
    const QString folder = out(tool + QStringLiteral(" pages"));
    QDir().mkpath(folder);
    const QByteArray earlier("an earlier file");
    for (const QString& f : {target, folder + QStringLiteral("/page-001.png")}) QVERIFY(putFile(f, earlier));
    qputenv("QUORVEL_OCR", recogniser.toLocal8Bit());
    const std::vector<std::string> before = pageTexts(*doc);
    const std::map<QString, std::function<void()>> tools{
        {"watermark", [&] { w.watermarkTo("X", target); }},
        {"page numbers", [&] { w.pageNumbersTo(target); }},
        {"compare to HTML", [&] { w.compareToHtml(sixChanged, target); }},
        {"export text", [&] { w.exportTextTo(target); }},
        {"export page images", [&] { w.exportAllPagesTo(folder); }},
        {"redact personal data", [&] { w.redactPiiTo(target); }},
        {"replace text", [&] { w.replaceTextTo("three", "3", target); }},
        {"extract data to CSV", [&] { w.extractToCsv(target); }},
        {"searchable copy", [&] { w.ocrSearchableTo(target); }},
    };
    tools.at(tool)();
    QCOMPARE(doc->reached(), 3);  // the cancel came in the middle
    QCOMPARE(p.status(), status);
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(bytesOf(target), earlier);
    QCOMPARE(filesIn(folder), QStringList{"page-001.png"});
    QCOMPARE(bytesOf(folder + QStringLiteral("/page-001.png")), earlier);
    QVERIFY(!w.jobs().busy());
    // The watermark changes the open document only as a whole: nothing of it is there.
    if (tool == QLatin1String("watermark")) QVERIFY(doc->list_images(0).empty());
    // Only page numbers keep what they did before the cancel.
    if (tool != QLatin1String("page numbers")) QVERIFY(pageTexts(*doc) == before);
  }

  // A question cancelled while its context is read sends nothing and says so.
  void cancelledQuestionSendsNothing() {
    MainWindow w;
    w.openFile(six);
    RecordingServer provider;
    askOf(provider);
    gate(w, GateDocument::Text, 3, clickCancel);
    w.askAi(QStringLiteral("three?"));
    QVERIFY(aiLog(w).endsWith(QStringLiteral("Вы: three?\nTavi AI: Отменено.")));
    QVERIFY(!QTest::qWaitFor([&] { return !provider.requests.isEmpty(); }, 200));
  }

  // The AI dock reads pages through the text search keeps: a second question reads none of
  // them again, and a page changed meanwhile is read anew.
  void questionsReadTheKeptTextOfChangedPagesOnly() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(six);
    GateDocument* doc = gate(w, GateDocument::Text, -1, [] {});
    RecordingServer provider;
    askOf(provider);
    w.askAi(QStringLiteral("three?"));
    QVERIFY(sent(provider, "[стр. 3]\\nthree"));
    QCOMPARE(doc->reached(), 6);
    w.pageNumbersTo(out(QStringLiteral("numbered.pdf")));
    QCOMPARE(p.tabs()->count(), 2);
    p.tabs()->setCurrentIndex(0);
    const int read = doc->reached();
    provider.requests.clear();
    askOf(provider);
    w.askAi(QStringLiteral("three?"));
    QVERIFY(sent(provider, "[стр. 3]\\nthree\\n3 / 6"));
    QCOMPARE(doc->reached() - read, 6);  // each page was numbered
    provider.requests.clear();
    askOf(provider);
    w.askAi(QStringLiteral("three?"));
    QVERIFY(sent(provider, "[стр. 3]\\nthree\\n3 / 6"));
    QCOMPARE(doc->reached() - read, 6);
  }

  // A tab closed while autosave writes its copy: the save goes on with the document, which goes
  // only once the save has returned, and the copy is complete.
  void tabClosedDuringAutosaveKeepsTheDocumentForTheSave() {
    MainWindow w;
    WindowProbe p{w};
    w.checkRecovery();
    w.openFile(six);
    auto events = std::make_shared<QStringList>();
    struct Watched : GateDocument {
      using GateDocument::GateDocument;
      std::shared_ptr<QStringList> events;
      ~Watched() override { events->append(QStringLiteral("destroyed")); }
      bool save_as(const std::string& path, const std::vector<quorvel::annot::Annotation>& a) override {
        const bool ok = GateDocument::save_as(path, a);
        events->append(QStringLiteral("saved"));
        return ok;
      }
    };
    PdfView* view = w.currentView();
    auto doc = std::make_unique<Watched>(std::move(view->doc), GateDocument::Save, 1, [&] {
      emit p.tabs()->tabCloseRequested(0);
      events->append(QStringLiteral("closed"));
    });
    doc->events = events;
    view->setDocument(std::move(doc));
    w.autosaveSnapshot();
    QCOMPARE(*events, (QStringList{"closed", "saved", "destroyed"}));
    QCOMPARE(p.tabs()->count(), 0);
    std::unique_ptr<quorvel::IDocument> copy =
        quorvel::make_engine(quorvel::EngineKind::Pdfium)
            ->open(as_bytes(read_file(snapshotPath(QStringLiteral("rec-0.pdf")).toStdString())), "");
    QVERIFY(copy);
    QCOMPARE(copy->page_count(), 6);
  }

  // Closing the window while a snapshot is written: the close waits for it, so the folder that
  // a normal close empties holds nothing afterwards.
  void windowClosedDuringAutosaveLeavesNoSnapshot() {
    {
      MainWindow w;
      w.checkRecovery();
      w.openFile(six);
      // The save goes on only once the window has begun to close.
      QSemaphore closing;
      CloseWatch watch(closing);
      w.jobs();  // the window's own filter first, so that this one sees the close before it
      w.installEventFilter(&watch);
      GateDocument* g = gate(w, GateDocument::Save, 1, [&w] { QTimer::singleShot(0, &w, [&w] { w.close(); }); });
      g->afterAct = [&closing] { closing.acquire(); };
      w.autosaveSnapshot();
      QVERIFY(!w.jobs().busy());
    }
    QCOMPARE(filesIn(recoveryFolder()), QStringList{});
    QCOMPARE(QDir(recoveryFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{});
  }

  // A page deleted while the searchable copy's pages are recognised is still deleted after the
  // text layer is written: the layer, read from the pages as they were, is not applied, the
  // copy is not written, and the status says why.
  void pageDeletedDuringTheTextLayerStaysDeleted() {
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(six);
    PdfView* view = w.currentView();
    auto doc = std::make_unique<RewriteGate>(std::move(view->doc));
    RewriteGate* gated = doc.get();
    view->setDocument(std::move(doc));
    gated->before = [&w] { w.deletePageAt(6); };
    qputenv("QUORVEL_OCR", recogniser.toLocal8Bit());
    const QString target = out(QStringLiteral("layered.pdf"));
    w.ocrSearchableTo(target);
    QCOMPARE(p.status(), QStringLiteral("OCR-слой не добавлен: документ изменился во время распознавания"));
    QCOMPARE(gated->page_count(), 5);
    QCOMPARE(view->pageCount(), 5);
    for (const std::string& text : pageTexts(*gated)) QVERIFY(text.find("WORDX") == std::string::npos);
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(view->hasUnsavedChanges());
  }

  // While a redaction rewrites a document of many pages, another tab's page renders without
  // waiting for the rewrite.
  void renderDuringAManyPageRedactionDoesNotWait() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(six);
    PdfView* other = w.currentView();
    const QString many = writeTestFile(dir, "many.pdf",
                                       text_pdf(std::vector<std::string>(300, "write to ivan@mail.ru today")));
    w.openFile(many);
    PdfView* view = w.currentView();
    auto doc = std::make_unique<RewriteGate>(std::move(view->doc));
    RewriteGate* gated = doc.get();
    view->setDocument(std::move(doc));

    qint64 worst = 0;
    int renders = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
      if (!gated->inside) return;
      QElapsedTimer clock;
      clock.start();
      const QImage page = other->renderPageImage(0, 1.0);
      const qint64 took = clock.elapsed();
      if (page.isNull() || !gated->inside) return;
      worst = std::max(worst, took);
      ++renders;
    });
    tick.start(0);
    w.redactPiiTo(out(QStringLiteral("redacted.pdf")));
    tick.stop();
    QCOMPARE(p.tabs()->count(), 3);  // the redacted copy opened
    QVERIFY2(renders >= 3, qPrintable(QString::number(renders)));
    QVERIFY2(worst <= time_bound_ms(100), qPrintable(QString::number(worst)));
  }

  // Closing the window while a write that can no longer be cancelled goes on does not hold the
  // window's thread: the close returns at once, the window says it is finishing and answers
  // meanwhile, and it closes once the write is done.
  void windowClosedDuringAWriteKeepsAnswering() {
    LangGuard ru(0);
    MainWindow w;
    w.show();
    w.checkRecovery();
    w.openFile(six);
    QSemaphore closed;
    bool busyAfterClose = false, visibleAfterClose = false;
    QString note;
    GateDocument* g = gate(w, GateDocument::Save, 1, [&] {
      QTimer::singleShot(0, &w, [&] {
        w.close();
        busyAfterClose = w.jobs().busy();
        visibleAfterClose = w.isVisible();
        for (QLabel* l : w.statusBar()->findChildren<QLabel*>())
          if (l->isVisible() && l->text().startsWith(QStringLiteral("Завершается"))) note = l->text();
        closed.release();
      });
    });
    // The write goes on only once the close has returned (a close that waited for it would
    // wait here until the time-out).
    g->afterAct = [&closed] { closed.tryAcquire(1, 20000); };
    w.autosaveSnapshot();
    QVERIFY(busyAfterClose);
    QVERIFY(visibleAfterClose);
    QCOMPARE(note, QStringLiteral("Завершается запись… Окно закроется, когда она закончится."));
    QTRY_VERIFY(!w.isVisible());
    QCOMPARE(QDir(recoveryFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{});
  }

  // Autosave firing while a tool's job runs waits behind it without holding the tool's result:
  // the tool's command returns as soon as its own job has ended, and the snapshot follows.
  void autosaveUnderAToolDoesNotHoldItsResult() {
    MainWindow w;
    w.checkRecovery();
    w.openFile(sixChanged);
    QSemaphore toolReturned;
    GateDocument* saving = gate(w, GateDocument::Save, 1, [] {});
    saving->afterAct = [&toolReturned] { toolReturned.tryAcquire(1, 20000); };
    w.openFile(six);
    gate(w, GateDocument::Text, 3, [&w] { QTimer::singleShot(0, &w, [&w] { w.autosaveSnapshot(); }); });
    const QString text = out(QStringLiteral("nested.txt"));
    w.exportTextTo(text);
    const bool autosaveStillRunning = w.jobs().busy();
    toolReturned.release();
    QVERIFY(QFileInfo::exists(text));
    QVERIFY(autosaveStillRunning);
    QTRY_VERIFY(!w.jobs().busy());
    QVERIFY(QFileInfo::exists(snapshotPath(QStringLiteral("rec-0.pdf"))));
    QVERIFY(QFileInfo::exists(snapshotPath(QStringLiteral("rec-1.pdf"))));
  }
};

QTEST_MAIN(LongJobsTest)
#include "test_long_jobs.moc"
