// Resident memory of one tab of a long document: the window opens a generated PDF of text pages
// (2,500 by default), the thumbnail panel does its pass, then the viewer scrolls through every
// page a screenful at a time with the page list following it, and the page list is scrolled
// through on its own. Prints VmRSS and VmHWM from /proc/self/status after each phase.
//
//   bench_desktop_memory [pages=2500]
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_home.h"
#include "bench/process_status.h"
#include "common/fixtures.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/panels/ThumbnailPanel.h"

using quorvel::desktop::PdfView;
using quorvel::desktop::ThumbnailPanel;

namespace {

// Letter pages with a heading, forty lines of text and a few filled boxes.
std::string makePdf(int pages) {
  std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", "",
                                   "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string kids;
  for (int p = 0; p < pages; ++p) {
    std::string content = "BT /F1 28 Tf 72 720 Td (Page " + std::to_string(p + 1) + ") Tj ET\n";
    for (int line = 0; line < 40; ++line)
      content += "BT /F1 10 Tf 72 " + std::to_string(680 - line * 15) + " Td (Line " + std::to_string(line) +
                 " of page " + std::to_string(p + 1) + ": the quick brown fox jumps over the lazy dog) Tj ET\n";
    for (int box = 0; box < 4; ++box)
      content += std::to_string(0.2 * box) + " 0.4 0.8 rg " + std::to_string(80 + box * 120) + " 60 100 " +
                 std::to_string(20 + (p + box) % 7 * 5) + " re f\n";
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    const int stream = int(objects.size());
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                      "/Contents " + std::to_string(stream) + " 0 R >>");
    kids += std::to_string(objects.size()) + " 0 R ";
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  return quorvel::test::build_pdf(objects);
}

int withImages(const ThumbnailPanel& panel) {
  int n = 0;
  for (int i = 0; i < panel.count(); ++i) n += panel.item(i)->icon().isNull() ? 0 : 1;
  return n;
}

void report(const char* phase, double ms, const ThumbnailPanel* panel) {
  std::printf("%-44s %8.0f ms   VmRSS %7.1f MB   VmHWM %7.1f MB", phase, ms, statusMb("VmRSS"), statusMb("VmHWM"));
  if (panel) std::printf("   thumbnails held %d of %d", withImages(*panel), panel->count());
  std::printf("\n");
  std::fflush(stdout);
}

void drain(ThumbnailPanel& panel) {
  QCoreApplication::processEvents();
  while (panel.rendering()) QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 2500;

  // Own home, settings and store; no backend.
  const std::string base = benchHome("memory");
  if (base.empty()) return 1;
  setenv("QUORVEL_BACKEND", "http://127.0.0.1:9", 1);

  const std::string pdf = base + "/pages.pdf";
  {
    const std::string bytes = makePdf(pages);
    std::ofstream f(pdf, std::ios::binary);
    f << bytes;
  }

  int rc = 0;
  {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    std::printf("%d-page PDF (%.1f MB), platform %s\n", pages,
                static_cast<double>(std::filesystem::file_size(pdf)) / 1e6,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default");
    report("before the window", 0, nullptr);

    QElapsedTimer t;
    t.start();
    quorvel::desktop::MainWindow window;
    window.resize(1400, 950);
    window.show();
    quorvel::desktop::runCommandLine(window, {QString::fromStdString(pdf)});
    QCoreApplication::processEvents();
    auto* view = window.findChild<PdfView*>();
    auto* panel = window.findChild<ThumbnailPanel*>();
    if (!view || !panel || view->pageCount() != pages) {
      std::fprintf(stderr, "the document did not open\n");
      rc = 1;
    } else {
      report("opened and painted", double(t.elapsed()), panel);

      t.restart();
      drain(*panel);
      report("thumbnail pass", double(t.elapsed()), panel);

      // The viewer a screenful a step, each step painted; the page list follows the page.
      t.restart();
      QScrollBar* bar = view->verticalScrollBar();
      const int step = std::max(1, view->viewport()->height());
      for (int y = 0;; y += step) {
        bar->setValue(std::min(y, bar->maximum()));
        view->viewport()->repaint();
        QCoreApplication::processEvents();
        if (y >= bar->maximum()) break;
      }
      drain(*panel);
      report("viewer scrolled through every page", double(t.elapsed()), panel);

      // The page list on its own, top to bottom.
      t.restart();
      QScrollBar* list = panel->verticalScrollBar();
      const int listStep = std::max(1, panel->viewport()->height());
      for (int y = 0;; y += listStep) {
        list->setValue(std::min(y, list->maximum()));
        QCoreApplication::processEvents();
        if (y >= list->maximum()) break;
      }
      drain(*panel);
      report("page list scrolled through every page", double(t.elapsed()), panel);
      std::printf("\nresident after all: %.1f MB (peak %.1f MB)\n", statusMb("VmRSS"), statusMb("VmHWM"));
    }
  }
  std::filesystem::remove_all(base);
  return rc;
}
