#include "desktop/tools/LocalTools.h"

#include <QPointer>
#include <QStatusBar>

#include <atomic>
#include <bit>
#include <cstring>
#include <memory>

#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

// QImage::Format_ARGB32 keeps B, G, R, A in memory only on little-endian machines.
static_assert(std::endian::native == std::endian::little);

std::vector<uint8_t> straightBgra(const QImage& image) {
  if (image.isNull()) return {};
  const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
  if (straight.isNull()) return {};
  const size_t row = static_cast<size_t>(straight.width()) * 4;
  std::vector<uint8_t> pixels(row * static_cast<size_t>(straight.height()));
  for (int y = 0; y < straight.height(); ++y)
    std::memcpy(pixels.data() + row * static_cast<size_t>(y), straight.constScanLine(y), row);
  return pixels;
}

PdfView* documentViewOrAsk(MainWindow& window, bool needPages) {
  PdfView* view = window.currentView();
  if (view && view->doc && (!needPages || view->pageCount() > 0)) return view;
  window.statusBar()->showMessage(L("Сначала откройте PDF", "Open a PDF first"), 0);
  return nullptr;
}

void reportLocalTool(MainWindow& window, bool changed, bool saved, const QString& outPath, const ToolTexts& texts) {
  if (!changed) {
    window.statusBar()->showMessage(texts.failed, 0);
    return;
  }
  if (!saved) {
    window.statusBar()->showMessage(texts.saveFailed, 0);
    return;
  }
  window.statusBar()->showMessage(texts.done, 0);
  window.openFile(outPath);
}

void finishLocalTool(MainWindow& window, PdfView& view, bool changed, const QString& outPath,
                     const ToolTexts& texts) {
  reportLocalTool(window, changed, changed && view.saveAs(outPath), outPath, texts);
}

QString cancelledText(int changedPages) {
  if (changedPages <= 0) return L("Отменено", "Cancelled");
  return L("Отменено; изменено страниц открытого документа: %1", "Cancelled; pages changed in the open document: %1")
      .arg(changedPages);
}

void runDocumentTool(MainWindow& window, PdfView& view, const QString& title, const QString& outPath,
                     std::function<int(IDocument& doc, JobControl& job)> change, ToolTexts texts,
                     std::function<QString(int count)> doneText) {
  struct Outcome {
    std::atomic<int> count{0};
    std::atomic<bool> saved{false};
  };
  auto outcome = std::make_shared<Outcome>();
  IDocument* doc = view.doc.get();
  // The dialog is modal, so the list cannot change while the copy is written.
  std::vector<annot::Annotation> annotations = view.annotations;
  const std::string path = outPath.toStdString();
  QPointer<MainWindow> guard(&window);
  JobRunner::Job job;
  job.title = title;
  job.views = {&view};
  job.work = [doc, outcome, path, annotations = std::move(annotations), change = std::move(change)](JobControl& c) {
    const int pages = doc->page_count();
    const int count = change(*doc, c);
    outcome->count = count;
    if (count <= 0 || !c.commit()) return;
    // A copy with fewer pages than the document had is no result: PDFium counts a page tree
    // of nulls as a page, which the written file then lacks.
    if (doc->page_count() - static_cast<int>(doc->unreadable_pages().size()) < pages) return;
    outcome->saved = doc->save_as(path, annotations);
  };
  job.done = [guard, outcome, outPath, texts = std::move(texts), doneText = std::move(doneText)](bool finished) mutable {
    if (!guard) return;
    if (!finished) {
      guard->statusBar()->showMessage(cancelledText(outcome->count), 0);
      return;
    }
    texts.done = doneText(outcome->count);
    reportLocalTool(*guard, outcome->count > 0, outcome->saved, outPath, texts);
  };
  window.jobs().run(std::move(job));
}

}  // namespace quorvel::desktop
