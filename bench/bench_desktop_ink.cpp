// Frames per second while an ink stroke is drawn over a page of text in a 1920 x 1080 viewer:
// each frame is one mouse move of the stroke and the paint that the event loop then does of
// what the move asked to repaint, the page rendered by the real engine. Printed for the page
// fitted to the width and to the height.
// Usage: bench_desktop_ink [FILE.pdf] [FRAMES]   (default: a generated A4 page of text, 300)
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "desktop/viewer/PdfView.h"

using quorvel::desktop::PdfView;

namespace {

// An A4 page filled with lines of 10-point text, as a letter or a report is.
QByteArray textPage() {
  QBuffer buf;
  buf.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buf);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setResolution(72);
  QPainter p(&writer);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPointSizeF(10);
  p.setFont(f);
  const QString words = QStringLiteral(
      "Настоящий договор заключён между сторонами в соответствии с законодательством; the "
      "parties agree to the terms below, including delivery, payment and liability. ");
  for (int line = 0; line < 62; ++line) {
    const QString text = words.mid((line * 7) % 40) + words.left((line * 7) % 40);
    p.drawText(QPointF(40, 50 + line * 12.5), text.left(110));
  }
  p.end();
  return buf.data();
}

void sendMove(PdfView& v, QPointF pos) {
  QMouseEvent e(QEvent::MouseMove, pos, v.viewport()->mapToGlobal(pos), Qt::NoButton,
                Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(v.viewport(), &e);
}

void sendButton(PdfView& v, QEvent::Type type, QPointF pos) {
  QMouseEvent e(type, pos, v.viewport()->mapToGlobal(pos), Qt::LeftButton,
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(v.viewport(), &e);
}

struct Figures {
  double fps = 0, meanMs = 0, p95Ms = 0, worstMs = 0, paintOnlyMs = 0;
  int paints = 0;
};

// Counts the paint events of the viewport: a frame counts only when it was painted.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

Figures run(PdfView& view, int frames) {
  Figures f;
  // The page alone, for comparison: what one repaint costs without any input.
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 20; ++i) view.viewport()->repaint();
  f.paintOnlyMs = t.nsecsElapsed() / 1e6 / 20;

  // The middle of the first page as it lies on the screen, the stroke kept within the page.
  const QRectF page = view.rectPdfToContent(0, {0, 0, view.pages[0].width, view.pages[0].height})
                          .translated(-view.horizontalScrollBar()->value(),
                                      -view.verticalScrollBar()->value())
                          .intersected(QRectF(view.viewport()->rect()));
  const QPointF centre = page.center();
  const double reach = std::min(page.width(), page.height()) / 3;
  sendButton(view, QEvent::MouseButtonPress, centre);
  std::vector<double> ms;
  ms.reserve(static_cast<size_t>(frames));
  QElapsedTimer total;
  total.start();
  PaintCounter counter;
  view.viewport()->installEventFilter(&counter);
  for (int i = 0; i < frames; ++i) {
    // A handwriting-like loop across the middle of the screen.
    const double a = i * 0.11;
    const QPointF pos = centre + QPointF(std::cos(a) * reach * 0.5 + (i - frames / 2.0) * reach / frames,
                                         std::sin(a * 1.7) * reach * 0.4);
    QElapsedTimer one;
    one.start();
    sendMove(view, pos);
    // The event loop's turn: the region the move asked to repaint is painted now.
    QApplication::processEvents();
    ms.push_back(one.nsecsElapsed() / 1e6);
  }
  const double seconds = total.nsecsElapsed() / 1e9;
  view.viewport()->removeEventFilter(&counter);
  f.paints = counter.paints;
  sendButton(view, QEvent::MouseButtonRelease, centre);
  std::sort(ms.begin(), ms.end());
  f.fps = counter.paints / seconds;
  f.meanMs = seconds * 1000 / frames;
  f.p95Ms = ms[static_cast<size_t>(ms.size() * 0.95)];
  f.worstMs = ms.back();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QByteArray pdf;
  if (argc > 1) {
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "cannot read %s\n", argv[1]);
      return 1;
    }
    pdf = in.readAll();
  } else {
    pdf = textPage();
  }
  const int frames = argc > 2 ? std::max(10, std::atoi(argv[2])) : 300;

  auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  auto doc = engine->open({reinterpret_cast<const std::byte*>(pdf.constData()),
                           static_cast<size_t>(pdf.size())},
                          "");
  if (!doc || doc->page_count() < 1) {
    std::fprintf(stderr, "cannot open the document\n");
    return 1;
  }
  size_t textBytes = 0;
  for (const quorvel::TextRun& r : doc->extract_text(0).runs) textBytes += r.text.size();

  PdfView view;
  view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view.resize(1920, 1080);
  view.show();
  app.processEvents();
  view.setDocument(std::move(doc));
  view.toolMode = PdfView::Ink;
  std::printf("platform: %s, viewport %dx%d, page 1 text: %zu bytes, %d frames per figure\n",
              qPrintable(QGuiApplication::platformName()), view.viewport()->width(),
              view.viewport()->height(), textBytes, frames);

  for (const bool width : {true, false}) {
    if (width)
      view.fitWidth();
    else
      view.fitPage();
    view.verticalScrollBar()->setValue(0);
    app.processEvents();
    const Figures f = run(view, frames);
    std::printf("ink, page fitted to the %s (scale %.2f): %6.1f frames/s  mean %5.2f ms  p95 %5.2f "
                "ms  worst %5.2f ms  (%d paints; a full repaint alone %5.2f ms)\n",
                width ? "width " : "height", view.scale, f.fps, f.meanMs, f.p95Ms, f.worstMs,
                f.paints, f.paintOnlyMs);
    view.annotations.clear();
  }
  return 0;
}
