// Painting of the viewer: page tiles, search hits, text selection, annotations, drag preview.
#include <QPaintEvent>

#include "desktop/PdfView.h"

namespace quorvel::desktop {

void PdfView::paintEvent(QPaintEvent* e) { QAbstractScrollArea::paintEvent(e); }
void PdfView::setHighlights(std::vector<search::DocMatch> matches) { highlights = std::move(matches); }
void PdfView::clearHighlights() {}
void PdfView::setActiveMatch(int) {}

}  // namespace quorvel::desktop
