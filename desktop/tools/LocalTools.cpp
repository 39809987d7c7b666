#include "desktop/tools/LocalTools.h"

#include <QStatusBar>

#include <bit>
#include <cstring>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
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

int editEveryPage(PdfView& view, const std::function<bool(IDocument& doc, int page)>& edit) {
  IDocument& doc = *view.doc;
  int count = 0;
  for (int i = 0; i < doc.page_count(); ++i) {
    if (!edit(doc, i)) continue;
    view.pageContentEdited(i);
    ++count;
  }
  return count;
}

void finishLocalTool(MainWindow& window, PdfView& view, bool changed, const QString& outPath,
                     const ToolTexts& texts) {
  if (!changed) {
    window.statusBar()->showMessage(texts.failed, 0);
    return;
  }
  if (!view.saveAs(outPath)) {
    window.statusBar()->showMessage(texts.saveFailed, 0);
    return;
  }
  window.statusBar()->showMessage(texts.done, 0);
  window.openFile(outPath);
}

}  // namespace quorvel::desktop
