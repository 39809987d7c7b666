// Thumbnail panel on generated 500-page PDFs: time from setView to the first visible
// thumbnails, the background pass over the rows near sight with its longest pause of the event
// loop, a scroll through the whole list, and tab switches between two such documents. Runs headless (offscreen) unless a display platform is set.
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "core/engine.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/panels/ThumbnailPanel.h"

using quorvel::desktop::PdfView;
using quorvel::desktop::ThumbnailPanel;

namespace {

// Letter pages with a heading, a column of text and a few filled boxes, so each render does
// the work of an ordinary text page.
std::string makePdf(int pages, const char* label) {
  std::vector<std::string> objects;
  auto add = [&](std::string body) {
    objects.push_back(std::move(body));
    return int(objects.size());
  };
  add("");  // 1: catalog, filled in below
  add("");  // 2: page tree
  const int font = add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  std::string kids;
  for (int p = 0; p < pages; ++p) {
    std::string content = "BT /F1 28 Tf 72 720 Td (" + std::string(label) + " " + std::to_string(p + 1) +
                          ") Tj ET\n";
    for (int line = 0; line < 40; ++line) {
      content += "BT /F1 10 Tf 72 " + std::to_string(680 - line * 15) +
                 " Td (Line " + std::to_string(line) + " of page " + std::to_string(p + 1) +
                 ": the quick brown fox jumps over the lazy dog) Tj ET\n";
    }
    for (int box = 0; box < 4; ++box) {
      content += std::to_string(0.2 * box) + " 0.4 0.8 rg " + std::to_string(80 + box * 120) +
                 " 60 100 " + std::to_string(20 + (p + box) % 7 * 5) + " re f\n";
    }
    const int stream = add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                           "endstream");
    const int page = add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                         std::to_string(font) + " 0 R >> >> /Contents " + std::to_string(stream) + " 0 R >>");
    kids += std::to_string(page) + " 0 R ";
  }
  objects[0] = "<< /Type /Catalog /Pages 2 0 R >>";
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";

  return quorvel::test::build_pdf(objects);
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

int visibleWithImages(ThumbnailPanel& panel, int* inSight) {
  int shown = 0;
  *inSight = 0;
  for (int i = 0; i < panel.count(); ++i) {
    if (!panel.visualItemRect(panel.item(i)).intersects(panel.viewport()->rect())) continue;
    ++*inSight;
    if (!panel.item(i)->icon().isNull()) ++shown;
  }
  return shown;
}

int withImages(ThumbnailPanel& panel) {
  int n = 0;
  for (int i = 0; i < panel.count(); ++i) n += panel.item(i)->icon().isNull() ? 0 : 1;
  return n;
}

// Runs the event loop until every thumbnail near sight is there; gives the time it took and
// the longest single pass of the loop (what a user typing or scrolling meanwhile would wait
// at most).
void drain(ThumbnailPanel& panel, double& total, double& longest) {
  QElapsedTimer all;
  all.start();
  longest = 0;
  while (panel.rendering()) {
    QElapsedTimer one;
    one.start();
    QCoreApplication::processEvents();
    longest = std::max(longest, ms(one));
  }
  total = ms(all);
}

void report(const char* what, double value) { std::printf("%-58s %9.1f ms\n", what, value); }

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int pages = 500;
  auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);

  const std::string pdfA = makePdf(pages, "Alpha");
  const std::string pdfB = makePdf(pages, "Beta");
  PdfView a, b;
  for (auto [view, pdf] : {std::pair{&a, &pdfA}, std::pair{&b, &pdfB}}) {
    auto doc = engine->open(std::as_bytes(std::span(pdf->data(), pdf->size())), "");
    if (!doc || doc->page_count() != pages) {
      std::fprintf(stderr, "could not open the generated PDF\n");
      return 1;
    }
    view->resize(900, 800);
    view->show();
    view->setDocument(std::move(doc));
  }
  b.goToPage(240);  // the second tab is read in its middle

  ThumbnailPanel panel;
  panel.resize(170, 800);
  panel.show();
  QCoreApplication::processEvents();
  std::printf("%d pages per document, %zu KiB each, panel %dx%d\n", pages, pdfA.size() / 1024,
              panel.width(), panel.height());

  int inSight = 0;
  QElapsedTimer t;
  t.start();
  panel.setView(&a);
  const double firstA = ms(t);
  const int shownA = visibleWithImages(panel, &inSight);
  report("setView A (uncached) to first visible thumbnails", firstA);
  std::printf("%-58s %5d of %d\n", "  thumbnails in sight with their image on return", shownA, inSight);
  double total = 0, longest = 0;
  drain(panel, total, longest);
  report("  rows near sight of A in the background", total);
  report("  longest event-loop pass meanwhile", longest);
  std::printf("%-58s %5d of %d\n", "  rows holding an image", withImages(panel), panel.count());

  // A scroll through the whole list, a screenful per step, each step's rows in sight rendered.
  t.restart();
  double slowestStep = 0;
  for (int y = 0; y <= panel.verticalScrollBar()->maximum(); y += panel.viewport()->height()) {
    QElapsedTimer step;
    step.start();
    panel.verticalScrollBar()->setValue(y);
    QCoreApplication::processEvents();
    slowestStep = std::max(slowestStep, ms(step));
  }
  report("scroll through A, a screenful a step", ms(t));
  report("  slowest step", slowestStep);
  drain(panel, total, longest);
  std::printf("%-58s %5d of %d\n", "  rows holding an image afterwards", withImages(panel), panel.count());

  t.restart();
  panel.setView(&b);
  const double firstB = ms(t);
  const int shownB = visibleWithImages(panel, &inSight);
  report("setView B at page 240 (uncached) to first visible", firstB);
  std::printf("%-58s %5d of %d\n", "  thumbnails in sight with their image on return", shownB, inSight);
  drain(panel, total, longest);
  report("  rows near sight of B in the background", total);
  report("  longest event-loop pass meanwhile", longest);

  // Switches between the two tabs, each followed by the event loop as in the window.
  std::vector<double> switches;
  for (int i = 0; i < 20; ++i) {
    PdfView* next = i % 2 == 0 ? &a : &b;
    t.restart();
    panel.setView(next);
    switches.push_back(ms(t));
    QCoreApplication::processEvents();
  }
  std::sort(switches.begin(), switches.end());
  report("tab switch A<->B (images kept), median of 20", switches[switches.size() / 2]);
  report("tab switch A<->B (images kept), slowest of 20", switches.back());

  // After a page edit the images of that document are rendered again.
  a.rotatePage(0, 1);
  t.restart();
  panel.setView(&a);
  report("setView A after a page edit (images rendered again)", ms(t));
  drain(panel, total, longest);
  report("  rows near sight of A in the background", total);
  return 0;
}
