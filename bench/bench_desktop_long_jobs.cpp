// How long the window stops answering while its long jobs run over a large manual-like document
// (tests/common/manual_like.h): a 5 ms timer notes the longest gap of the event loop, and a
// repaint of the view every 40 ms notes the longest one (a repaint waits for the engine's lock
// while a worker's call holds it; the idle row shows what a repaint costs by itself). Prints,
// per job, its time, the worst stall until the job wrote its result, the worst stall while a
// tool then opens its copy, the worst repaint and resident memory after it. Last, the searchable
// copy of a 200-page scan made with a recogniser that answers at once, so that what is left is
// this program's own work.
//
//   bench_desktop_long_jobs [pages=2500] [word]   (word: only the jobs whose name holds it)
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSettings>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "bench/bench_home.h"
#include "bench/process_status.h"
#include "common/fixtures.h"
#include "common/manual_like.h"
#include "desktop/recording_server.h"
#include "desktop/test_mainwindow_support.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;

namespace {

// The event loop's longest gap beyond the timer's own interval, leaving out the probe's own
// repaints, and the longest repaint. A job that opens what it wrote is split where it says that
// it has written it: the opening is the opening's, not the job's.
class Probe {
 public:
  Probe(PdfView*& view, QStatusBar* status) : view_(view) {
    tick_.setInterval(5);
    QObject::connect(&tick_, &QTimer::timeout, [this] { note(); });
    paint_.setInterval(40);
    QObject::connect(&paint_, &QTimer::timeout, [this] {
      if (!view_) return;
      QElapsedTimer t;
      t.start();
      view_->viewport()->repaint();
      painting_ += t.elapsed();
      worstPaint_ = std::max(worstPaint_, t.elapsed());
    });
    QObject::connect(status, &QStatusBar::messageChanged, [this] {
      if (!running_ || written_ >= 0) return;
      note();
      written_ = clock_.elapsed();
      worstBefore_ = worstGap_;
      worstGap_ = 0;
    });
  }
  void start() {
    clock_.start();
    last_ = painting_ = 0;
    worstGap_ = worstPaint_ = worstBefore_ = 0;
    written_ = -1;
    running_ = true;
    tick_.start();
    paint_.start();
  }
  void stop() {
    // The gap up to now counts too: a job that never let the loop run has one long gap.
    note();
    running_ = false;
    tick_.stop();
    paint_.stop();
  }
  // Until the job said it had written its result, and after that.
  qint64 stallBefore() const { return written_ < 0 ? worstGap_ : worstBefore_; }
  qint64 stallAfter() const { return written_ < 0 ? -1 : worstGap_; }
  qint64 worstPaint() const { return worstPaint_; }

 private:
  void note() {
    const qint64 now = clock_.elapsed();
    worstGap_ = std::max(worstGap_, now - last_ - tick_.interval() - painting_);
    last_ = now;
    painting_ = 0;
  }
  PdfView*& view_;
  QTimer tick_, paint_;
  QElapsedTimer clock_;
  bool running_ = false;
  qint64 last_ = 0, painting_ = 0, worstGap_ = 0, worstPaint_ = 0, worstBefore_ = 0, written_ = -1;
};

// An image-only document of `pages` letter pages scanned at 150 dpi, each page's picture its own.
bool writeScan(const QString& path, int pages) {
  QPdfWriter writer(path);
  writer.setResolution(72);
  writer.setPageSize(QPageSize(QPageSize::Letter));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter(&writer);
  QImage scan(1275, 1650, QImage::Format_Grayscale8);
  for (int i = 0; i < pages; ++i) {
    if (i > 0 && !writer.newPage()) return false;
    scan.fill(Qt::white);
    QPainter ink(&scan);
    QFont font = ink.font();
    font.setPixelSize(30);
    ink.setFont(font);
    for (int line = 0; line < 40; ++line)
      ink.drawText(150, 150 + line * 34, QStringLiteral("Page %1, line %2 of the scanned manual").arg(i + 1).arg(line + 1));
    ink.end();
    painter.drawImage(QRectF(0, 0, 612, 792), scan);
  }
  return painter.end();
}

// A provider's chat answer in the OpenAI-compatible form.
QByteArray chatAnswer(const QString& text) {
  return QJsonDocument(QJsonObject{{QStringLiteral("choices"),
                                    QJsonArray{QJsonObject{{QStringLiteral("message"),
                                                            QJsonObject{{QStringLiteral("content"), text}}}}}}})
      .toJson(QJsonDocument::Compact);
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 2500;
  const std::string only = argc >= 3 ? argv[2] : "";
  const std::string base = benchHome("jobs");
  if (base.empty()) return 1;
  std::filesystem::create_directories(base + "/pages");
  setenv("QUORVEL_BACKEND", "http://127.0.0.1:9", 1);

  const std::string pdf = base + "/manual.pdf";
  if (!quorvel::test::write_file(pdf, quorvel::test::manual_like_pdf({pages, 3000, true}))) return 1;
  const auto out = [&](const char* name) { return QString::fromStdString(base + "/" + name); };

  int rc = 0;
  {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    std::printf("manual-like document: %d pages, %.1f MB, platform %s\n", pages,
                static_cast<double>(std::filesystem::file_size(pdf)) / 1e6,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default");
    MainWindow w;
    w.resize(1400, 950);
    w.show();
    w.checkRecovery();
    w.openFile(QString::fromStdString(pdf));
    QCoreApplication::processEvents();
    PdfView* view = w.currentView();
    if (!view || view->pageCount() != pages) {
      std::fprintf(stderr, "the document did not open\n");
      return 1;
    }
    auto* tabs = w.findChild<QTabWidget*>();
    // As a user would, the jobs start once the document is shown and its page list drawn.
    auto* panel = w.findChild<quorvel::desktop::ThumbnailPanel*>();
    const auto settle = [&] {
      QCoreApplication::processEvents();
      while (panel && panel->rendering()) QCoreApplication::processEvents();
    };
    settle();
    Probe probe(view, w.statusBar());
    std::printf("%-34s %8s %9s %12s %11s %8s %8s\n", "job", "time ms", "stall ms", "opening ms", "repaint ms",
                "RSS MB", "peak MB");
    const auto measure = [&](const char* name, const std::function<void()>& job) {
      if (!only.empty() && std::string(name).find(only) == std::string::npos) return;
      probe.start();
      QElapsedTimer t;
      t.start();
      job();
      const qint64 ms = t.elapsed();
      probe.stop();
      const QString opening = probe.stallAfter() < 0 ? QStringLiteral("-") : QString::number(probe.stallAfter());
      std::printf("%-34s %8lld %9lld %12s %11lld %8.0f %8.0f\n", name, static_cast<long long>(ms),
                  static_cast<long long>(probe.stallBefore()), qPrintable(opening),
                  static_cast<long long>(probe.worstPaint()), statusMb("VmRSS"), statusMb("VmHWM"));
      std::fflush(stdout);
      if (std::getenv("BENCH_STATUS")) std::fprintf(stderr, "  status: %s\n", qPrintable(w.statusBar()->currentMessage()));
      // Tools open what they wrote; the jobs go on in the first tab. Nobody answers a question
      // about unsaved edits here: what the jobs changed in the tabs closed is dropped.
      while (tabs->count() > 1) {
        if (auto* closing = qobject_cast<PdfView*>(tabs->widget(tabs->count() - 1))) closing->setUnsavedChanges(false);
        emit tabs->tabCloseRequested(tabs->count() - 1);
      }
      settle();
    };

    measure("idle, for the repaint's own cost", [] {
      QElapsedTimer t;
      t.start();
      while (t.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    });
    measure("watermark, then opening the copy", [&] { w.watermarkTo(QStringLiteral("КОПИЯ"), out("w.pdf")); });
    measure("page numbers, then opening the copy", [&] { w.pageNumbersTo(out("numbered.pdf")); });
    measure("autosave", [&] { w.autosaveSnapshot(); });
    measure("autosave, nothing changed", [&] { w.autosaveSnapshot(); });
    measure("compare with the numbered copy", [&] { w.compareWith(out("numbered.pdf")); });
    measure("compare to an HTML report", [&] { w.compareToHtml(out("numbered.pdf"), out("report.html")); });
    measure("export as text", [&] { w.exportTextTo(out("export.txt")); });
    measure("export every page as PNG", [&] {
      quorvel::test::ModalAnswerer folder({quorvel::test::chooseFile(out("pages"))});
      w.exportAllPages();
    });
    measure("extract data to the AI dock", [&] { w.extractData(); });
    measure("extract data to CSV", [&] { w.extractToCsv(out("data.csv")); });
    measure("redact personal data, then opening", [&] { w.redactPiiTo(out("redacted.pdf")); });

    measure("keyword page ranking", [&] { w.semanticSearch(QStringLiteral("parser state")); });
    // The AI dock asks a provider of its own.
    quorvel::test::RecordingServer provider;
    {
      QSettings s;
      s.setValue(QStringLiteral("ai/provider"), QStringLiteral("ollama"));
      s.setValue(QStringLiteral("ai/base_url"), provider.base() + QStringLiteral("/v1"));
    }
    auto* ai = w.findChild<quorvel::desktop::AiPanel*>();
    auto* log = w.findChild<QTextBrowser*>(QStringLiteral("aiLog"));
    const auto entries = [log] { return log ? log->document()->blockCount() : 0; };
    // Until the log has `more` entries beyond `before`.
    const auto answered = [&](int before, int more) {
      QElapsedTimer t;
      t.start();
      while (entries() < before + more && t.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    };
    for (const char* name : {"question, context of the pages", "question again"}) {
      measure(name, [&] {
        provider.queue({200, chatAnswer(QStringLiteral("ok")), {}});
        const int before = entries();
        w.askAi(QStringLiteral("What does the parser return?"));
        answered(before, 2);
      });
    }
    if (ai) {
      // Just under the size at which an answer is cut, in lines of words.
      QString huge;
      while (huge.size() < 1000000) huge += QStringLiteral("Функция возвращает значение узла дерева разбора.\n");
      huge += QStringLiteral("КОНЕЦ");
      measure("a 1 MB provider answer shown", [&] {
        provider.queue({200, chatAnswer(huge), {}});
        ai->summarizeDiff(QStringLiteral("- a\n+ b"));
        QElapsedTimer t;
        t.start();
        while (!log->document()->lastBlock().text().endsWith(QStringLiteral("КОНЕЦ")) && t.elapsed() < 600000)
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      });
    }

    // Every line gets an address: the redaction then has work on every page.
    measure("replace text, then opening the copy",
            [&] { w.replaceTextTo(QStringLiteral("parser"), QStringLiteral("ivan@mail.ru"), out("replaced.pdf")); });
    measure("redact the replaced addresses, opening", [&] { w.redactPiiTo(out("redacted-all.pdf")); });

    // The searchable copy of a scan, the recogniser answering at once with a line of words.
    const QString scan = out("scan.pdf"), recogniser = out("recogniser.sh");
    QFile script(recogniser);
    if (writeScan(scan, 200) && script.open(QIODevice::WriteOnly)) {
      script.write("#!/bin/sh\necho '{\"width\":1275,\"height\":1650,\"items\":["
                   "{\"text\":\"Page\",\"box\":[150,125,220,160]},{\"text\":\"line\",\"box\":[250,125,320,160]}]}'\n");
      script.close();
      script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      qputenv("QUORVEL_OCR", recogniser.toLocal8Bit());
      w.openFile(scan);
      settle();
      measure("searchable copy of a 200-page scan", [&] { w.ocrSearchableTo(out("searchable.pdf")); });
    }
    std::printf("status after the last job: %s\n", qPrintable(w.statusBar()->currentMessage()));
    std::printf("\nresident after all: %.1f MB (peak %.1f MB)\n", statusMb("VmRSS"), statusMb("VmHWM"));
  }
  std::filesystem::remove_all(base);
  return rc;
}
