// The watermark against qpdf's overlay of the same picture, on manual-like documents
// (tests/common/manual_like.h). Ours is the window's tool from its start until it says it has
// written its copy (pictures, drawing, saving; not the opening of the copy); the peer is
// `qpdf --overlay stamp.pdf --repeat=1 -- in.pdf out.pdf`, where stamp.pdf is our own watermark
// of one blank letter page. Medians of alternating runs; prints both times, the ratio ours/qpdf,
// the sizes of the input and both outputs, and resident memory after our runs.
//
//   bench_desktop_watermark [runs=3] [pages ...]   (pages: 100 500 2500 unless given)
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_home.h"
#include "bench/figures.h"
#include "bench/process_status.h"
#include "common/fixtures.h"
#include "common/manual_like.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"

using quorvel::desktop::MainWindow;

namespace {

double mb(const std::string& path) {
  const long long n = bytesOf(path);
  return n < 0 ? -1 : static_cast<double>(n) / 1e6;
}

void closeTabs(MainWindow& w) {
  auto* tabs = w.findChild<QTabWidget*>();
  // Nobody answers a question about unsaved edits here: the watermarks in the open tabs go.
  while (tabs->count() > 0) {
    if (auto* v = qobject_cast<quorvel::desktop::PdfView*>(tabs->widget(tabs->count() - 1))) v->setUnsavedChanges(false);
    emit tabs->tabCloseRequested(tabs->count() - 1);
  }
  QCoreApplication::processEvents();
}

// Our watermark of `in` into `out`: milliseconds until the tool says the copy is written.
double ours(MainWindow& w, const std::string& in, const std::string& out) {
  closeTabs(w);
  w.openFile(QString::fromStdString(in));
  QCoreApplication::processEvents();
  QElapsedTimer t;
  qint64 written = -1;
  const auto c = QObject::connect(w.statusBar(), &QStatusBar::messageChanged, [&] {
    if (written < 0) written = t.elapsed();
  });
  t.start();
  w.watermarkTo(QStringLiteral("КОПИЯ"), QString::fromStdString(out));
  QObject::disconnect(c);
  return static_cast<double>(written < 0 ? t.elapsed() : written);
}

double qpdfOverlay(const std::string& stamp, const std::string& in, const std::string& out) {
  const auto t0 = std::chrono::steady_clock::now();
  if (quorvel::test::run_program({"qpdf", "--overlay", stamp, "--repeat=1", "--", in, out}) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::max(1, std::atoi(argv[i])));
  if (sizes.empty()) sizes = {100, 500, 2500};

  const std::string base = benchHome("watermark");
  if (base.empty()) return 1;
  setenv("QUORVEL_BACKEND", "http://127.0.0.1:9", 1);

  {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    MainWindow w;
    w.resize(1400, 950);
    w.show();
    w.checkRecovery();

    const std::string blank = base + "/blank.pdf", stamp = base + "/stamp.pdf";
    quorvel::test::write_file(blank, quorvel::test::make_pdf({quorvel::test::PageSpec{}}));
    ours(w, blank, stamp);
    std::printf("%d runs each, medians; stamp.pdf %.3f MB\n", runs, mb(stamp));
    std::printf("%6s %9s %10s %10s %7s %9s %9s %9s %9s %9s\n", "pages", "input MB", "ours ms", "qpdf ms", "ratio",
                "ours MB", "qpdf MB", "ours/in", "RSS MB", "peak MB");
    for (const int pages : sizes) {
      const std::string in = base + "/in-" + std::to_string(pages) + ".pdf";
      quorvel::test::write_file(in, quorvel::test::manual_like_pdf({pages, std::max(1, pages * 6 / 5), true}));
      const std::string mine = base + "/ours.pdf", peer = base + "/qpdf.pdf";
      std::vector<double> a, b;
      for (int r = 0; r < runs; ++r) {
        a.push_back(ours(w, in, mine));
        b.push_back(qpdfOverlay(stamp, in, peer));
      }
      closeTabs(w);
      const double oa = median(a), ob = median(b);
      std::printf("%6d %9.2f %10.0f %10.0f %7.2f %9.2f %9.2f %9.2f %9.0f %9.0f\n", pages, mb(in), oa, ob,
                  ob > 0 ? oa / ob : 0, mb(mine), mb(peer), mb(mine) / mb(in), statusMb("VmRSS"), statusMb("VmHWM"));
      std::fflush(stdout);
    }
  }
  std::filesystem::remove_all(base);
  return 0;
}
