// Figures of the page viewer: one full repaint of a 1920 x 1080 viewport at 100 % and 200 % on
// a page of dense text and on a scanned page (one full-page JPEG), and re-laying out 10,000
// pages. Runs on Qt's offscreen platform unless another one is chosen.
//
// Usage: bench_desktop_view [rounds]
//        bench_desktop_view --show file.pdf [seconds [page [query]]]
//            shows the file in a viewer window, fitted to its width, at that page, with the
//            hits of the query marked and the second one current
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "core/engine.h"
#include "core/search.h"
#include "desktop/viewer/PdfView.h"

using quorvel::desktop::PdfView;

namespace {


std::string stream(const std::string& dict, const std::string& data) {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Two letter pages filled with 10-point text, 60 lines of about 110 characters.
std::string textPdf() {
  std::string content = "BT /F1 10 Tf 12 TL 40 760 Td\n";
  const std::string words = "Lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor ";
  for (int line = 0; line < 60; ++line) {
    std::string text;
    while (text.size() < 110) text += words.substr((line * 7 + text.size()) % 40, 20) + " ";
    content += "(" + text.substr(0, 110) + ") Tj T*\n";
  }
  content += "ET";
  return quorvel::test::build_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                   "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>",
                   "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents 5 0 R >>",
                   stream("", content),
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents 5 0 R >>"});
}

// Two letter pages, each one 300 dpi greyish scan as a JPEG drawn over the whole page.
std::string scanPdf() {
  QImage scan(2550, 3300, QImage::Format_RGB32);
  scan.fill(QColor(236, 232, 224));
  QPainter p(&scan);
  QRandomGenerator rng(7);
  p.setPen(QColor(40, 40, 48));
  QFont f("DejaVu Sans");
  f.setPixelSize(34);
  p.setFont(f);
  for (int y = 200; y < 3150; y += 46)
    p.drawText(180, y, QStringLiteral("Отсканированная страница: строка %1, шум %2").arg(y).arg(rng.bounded(1000)));
  for (int i = 0; i < 40000; ++i)
    scan.setPixel(rng.bounded(scan.width()), rng.bounded(scan.height()), qRgb(120, 120, 120));
  p.end();
  QByteArray jpeg;
  QBuffer buf(&jpeg);
  buf.open(QIODevice::WriteOnly);
  scan.save(&buf, "JPEG", 85);
  const std::string data(jpeg.constData(), static_cast<size_t>(jpeg.size()));
  const std::string page =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im0 3 0 R >> >> "
      "/Contents 4 0 R >>";
  return quorvel::test::build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [5 0 R 6 0 R] /Count 2 >>",
                   stream("/Type /XObject /Subtype /Image /Width 2550 /Height 3300 /ColorSpace /DeviceRGB "
                          "/BitsPerComponent 8 /Filter /DCTDecode",
                          data),
                   stream("", "q 612 0 0 792 0 0 cm /Im0 Do Q"), page, page});
}

std::unique_ptr<quorvel::IDocument> open(const std::string& pdf) {
  return quorvel::make_engine(quorvel::EngineKind::Pdfium)
      ->open(std::span<const std::byte>(reinterpret_cast<const std::byte*>(pdf.data()), pdf.size()), "");
}

// Pages only: enough for the layout.
class ManyPages : public quorvel::IDocument {
 public:
  explicit ManyPages(int n) : n_(n) {}
  int page_count() const override { return n_; }
  quorvel::PageInfo page_info(int page) const override {
    return page % 10 == 9 ? quorvel::PageInfo{842, 595, 90} : quorvel::PageInfo{612, 792, 0};
  }
  quorvel::RenderedTile render_tile(int, const quorvel::RenderRequest&) override { return {}; }
  quorvel::TextPage extract_text(int) const override { return {}; }
  quorvel::DocMetadata metadata() const override { return {}; }

 private:
  int n_;
};

struct Figures {
  double median = 0, best = 0, worst = 0;
};

template <class F>
Figures timeIt(int rounds, F&& f) {
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    QElapsedTimer t;
    t.start();
    f(i);
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front(), ms.back()};
}

void print(const char* what, const Figures& f, double target) {
  std::printf("%-44s median %7.2f ms  best %7.2f  worst %7.2f  (target %.0f ms)\n", what, f.median, f.best,
              f.worst, target);
}

int show(const QString& file, int seconds, int page, const std::string& query) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", qPrintable(file));
    return 1;
  }
  const QByteArray bytes = f.readAll();
  auto doc = open(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
  if (!doc) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
    return 1;
  }
  PdfView view;
  view.resize(1000, 760);
  view.move(0, 0);
  view.show();
  view.setDocument(std::move(doc));
  // Once the scroll bars have settled, so that the width to fit is the final one.
  QTimer::singleShot(200, &view, [&view, page, query] {
    view.fitWidth();
    view.goToPage(page);
    if (!query.empty()) {
      view.setHighlights(quorvel::search::search_document(*view.doc, query, {}, 200));
      view.setActiveMatch(1);
    }
  });
  QTimer::singleShot(seconds * 1000, qApp, &QApplication::quit);
  return qApp->exec();
}

}  // namespace

int main(int argc, char** argv) {
  const bool showing = argc >= 3 && std::string(argv[1]) == "--show";
  if (!showing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (showing)
    return show(QString::fromLocal8Bit(argv[2]), argc >= 4 ? std::atoi(argv[3]) : 30, argc >= 5 ? std::atoi(argv[4]) : 1,
                argc >= 6 ? argv[5] : "");
  const int rounds = argc >= 2 ? std::max(3, std::atoi(argv[1])) : 30;

  PdfView view;
  view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view.resize(1920, 1080);
  view.show();
  QApplication::processEvents();
  std::printf("viewport %dx%d, %d rounds\n", view.viewport()->width(), view.viewport()->height(), rounds);

  struct Case {
    const char* name;
    std::string pdf;
  };
  const Case cases[] = {{"text page", textPdf()}, {"scanned page", scanPdf()}};
  for (const Case& c : cases) {
    for (double zoom : {1.0, 2.0}) {
      view.setDocument(open(c.pdf));
      view.setScale(zoom);
      view.goToPage(1);
      view.viewport()->repaint();  // the first paint loads the page into the engine's cache
      const Figures f = timeIt(rounds, [&](int) { view.viewport()->repaint(); });
      const std::string what = std::string("repaint, ") + c.name + ", " + std::to_string(int(zoom * 100)) + " %";
      print(what.c_str(), f, 30);
      // Where the time goes: the engine's tiles alone, without drawing them.
      const Figures engine = timeIt(rounds, [&](int) {
        for (size_t i = 0; i < view.layouts.size(); ++i) {
          const auto& l = view.layouts[i];
          const double top = std::max(l.y, double(view.verticalScrollBar()->value()));
          const double bottom = std::min(l.y + l.h, double(view.verticalScrollBar()->value() + 1080));
          if (bottom <= top) continue;
          quorvel::RenderRequest req;
          req.scale = zoom;
          req.y = int(top - l.y);
          req.width = int(std::min(l.w, 1920.0 - l.x));
          req.height = int(std::ceil(bottom - top));
          view.doc->render_tile(int(i), req);
        }
      });
      print("  of which the engine's tiles", engine, 30);
    }
  }

  view.setDocument(std::make_unique<ManyPages>(10000));
  const Figures layout = timeIt(rounds, [&](int i) {
    view.scale = 0.5 + (i % 7) * 0.25;  // a different scale each time, as a zoom gives
    view.relayout();
  });
  print("re-layout, 10,000 pages", layout, 5);
  const Figures zoom = timeIt(rounds, [&](int i) { view.setScale(i % 2 ? 1.25 : 0.8); });
  print("zoom step (re-layout and scroll), 10,000 pages", zoom, 5);
  return 0;
}
