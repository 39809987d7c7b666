// The window's search on a manual-like document (2,500 pages by default): time to the first hit
// and to the full count, the worst stall of the event loop while the search runs, and resident
// memory after it; each query twice, since the second search may use what the first read. The
// peer, pdftotext, reads the text of every page as the search of an absent word does.
//
//   bench_desktop_search [pages=2500]
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/bench_home.h"
#include "bench/process_status.h"
#include "common/manual_like.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;

namespace {

void silentMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

struct Figures {
  double firstHitMs = -1, fullMs = -1, worstStallMs = 0;
  QString label;
};

// Runs one search from inside the event loop, as a key press would, while a 1 ms timer notes
// how long the loop went without turning.
Figures searchOnce(MainWindow& w, const QString& query) {
  Figures f;
  PdfView* view = w.currentView();
  QElapsedTimer clock;
  qint64 lastTick = -1;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (lastTick >= 0) f.worstStallMs = std::max(f.worstStallMs, (now - lastTick) / 1e6);
    lastTick = now;
  });
  bool done = false;
  QMetaObject::Connection hits, finished;
  QTimer::singleShot(0, [&] {
    clock.start();
    lastTick = 0;
    w.findText(query);
    // After the window's own handlers: the hits are on screen when these run.
    hits = QObject::connect(view, &PdfView::searchHitsFound, [&] {
      if (f.firstHitMs < 0) f.firstHitMs = clock.nsecsElapsed() / 1e6;
    });
    finished = QObject::connect(view, &PdfView::searchFinished, [&] {
      f.fullMs = clock.nsecsElapsed() / 1e6;
      done = true;
    });
    if (!view->searchRunning()) done = true;
  });
  ticker.start();
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QObject::disconnect(hits);
  QObject::disconnect(finished);
  // A few more turns, so that a stall right after the search is seen too.
  const qint64 end = clock.nsecsElapsed();
  while (clock.nsecsElapsed() - end < 50'000'000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  ticker.stop();
  f.label = w.findChild<QLabel*>(QStringLiteral("searchLabel"))->text();
  return f;
}

// The peer's time to read the text of every page, in ms; negative without the program.
double peerTextMs(const std::string& pdf) {
  QElapsedTimer t;
  t.start();
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QString::fromStdString(pdf), QStringLiteral("/dev/null")});
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return -1;
  return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 2500;
  const std::string base = benchHome("search");
  if (base.empty()) return 1;
  setenv("QUORVEL_BACKEND", "http://127.0.0.1:9", 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(silentMessages);
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
  QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));

  const std::string pdf = base + "/manual.pdf";
  {
    const std::string bytes = quorvel::test::manual_like_pdf({pages, 3000, true});
    if (bytes.empty()) {
      std::fprintf(stderr, "qpdf could not write the manual\n");
      return 1;
    }
    std::ofstream(pdf, std::ios::binary) << bytes;
  }
  int rc = 0;
  {
    MainWindow w;
    w.resize(1400, 900);
    w.show();
    w.openFile(QString::fromStdString(pdf));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    if (!w.currentView()) {
      std::fprintf(stderr, "the manual did not open\n");
      rc = 1;
    } else {
      std::printf("%d-page manual-like document; resident after opening %.1f MB\n", pages, statusMb("VmRSS"));
      std::printf("%-34s %12s %12s %14s %12s  %s\n", "search", "first hit", "full count", "worst stall",
                  "VmRSS after", "label");
      const struct {
        const char* query;
        const char* what;
      } cases[] = {{"function", "'function' (capped)"},
                   {"2400.1", "'2400.1' (page 2,400 only)"},
                   {"договор", "absent word (every page)"}};
      PdfView* view = w.currentView();
      double everyPageMs = -1;
      for (const auto& c : cases) {
        // Each query starts from nothing kept, as after opening.
        view->refreshStructure();
        for (const char* round : {"first", "again"}) {
          const Figures f = searchOnce(w, QString::fromUtf8(c.query));
          if (everyPageMs < 0 && std::string(c.query) == "договор") everyPageMs = f.fullMs;
          const std::string what = std::string(c.what) + ", " + round;
          char first[32] = "none";
          if (f.firstHitMs >= 0) std::snprintf(first, sizeof first, "%.1f ms", f.firstHitMs);
          std::printf("%-34s %12s %9.1f ms %11.1f ms %9.1f MB  %s\n", what.c_str(), first, f.fullMs, f.worstStallMs,
                      statusMb("VmRSS"), f.label.toUtf8().constData());
        }
        const auto& kept = view->searchTextCache();
        std::printf("%-34s %zu pages, %.1f MB\n", "  page text kept", kept.pages(), kept.bytes() / 1048576.0);
      }
      std::printf("peak resident %.1f MB\n", statusMb("VmHWM"));
      const double peer = peerTextMs(pdf);
      if (peer > 0)
        std::printf("every page read, ours %.1f ms, pdftotext %.1f ms, ours/peer %.2f\n", everyPageMs, peer,
                    everyPageMs / peer);
    }
  }
  QDir(QString::fromStdString(base)).removeRecursively();
  return rc;
}
