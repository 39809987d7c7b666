// Construction, layout, coordinate transforms and zoom of the page viewer.
#include "desktop/PdfView.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "desktop/AnnotationStore.h"

namespace quorvel::desktop {

PdfView::PdfView(QWidget* parent) : QAbstractScrollArea(parent) {}
PdfView::~PdfView() = default;

void PdfView::setDocument(std::unique_ptr<IDocument> d) { doc = std::move(d); }
int PdfView::pageTotalRot(int) const { return 0; }
QPointF PdfView::pdfToDeviceOffset(int, double, double) const { return {}; }
void PdfView::deviceOffsetToPdf(int, double, double, double& x, double& y) const { x = y = 0; }
QRectF PdfView::pdfRectToContent(int, double, double, double, double) const { return {}; }
QRectF PdfView::rectPdfToContent(int, const annot::Rect&) const { return {}; }
QRectF PdfView::matchRectContent(int, const TextRun&) const { return {}; }
QRectF PdfView::matchRectContent(int, const search::DocMatch&) const { return {}; }
QPointF PdfView::pagePointToContent(int, const annot::Point&) const { return {}; }
bool PdfView::contentToPage(QPointF, int&, annot::Point&) const { return false; }
QPointF PdfView::eventContentPos(const QMouseEvent*) const { return {}; }
int PdfView::contentWidth() const { return 12; }
double PdfView::contentHeight() const { return 0; }
void PdfView::updateScrollBars() {}
void PdfView::relayout() {}
int PdfView::currentPage() const { return 0; }
void PdfView::emitCurrentPage() {}
void PdfView::rotateClockwise() {}
void PdfView::rotateCounterClockwise() {}
void PdfView::setViewMode(ViewMode) {}
void PdfView::setScale(double) {}
void PdfView::zoomIn() {}
void PdfView::zoomOut() {}
void PdfView::fitWidth() {}
void PdfView::fitPage() {}
void PdfView::actualSize() {}
void PdfView::goToPage(int) {}
void PdfView::wheelEvent(QWheelEvent* e) { QAbstractScrollArea::wheelEvent(e); }
void PdfView::resizeEvent(QResizeEvent* e) { QAbstractScrollArea::resizeEvent(e); }
void PdfView::scrollContentsBy(int, int) {}

}  // namespace quorvel::desktop
