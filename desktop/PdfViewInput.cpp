// Mouse and keyboard tools of the viewer.
#include <QKeyEvent>
#include <QMouseEvent>

#include "desktop/PdfView.h"

namespace quorvel::desktop {

void PdfView::mousePressEvent(QMouseEvent* e) { QAbstractScrollArea::mousePressEvent(e); }
void PdfView::mouseReleaseEvent(QMouseEvent* e) { QAbstractScrollArea::mouseReleaseEvent(e); }
void PdfView::mouseDoubleClickEvent(QMouseEvent* e) { QAbstractScrollArea::mouseDoubleClickEvent(e); }
void PdfView::mouseMoveEvent(QMouseEvent* e) { QAbstractScrollArea::mouseMoveEvent(e); }
void PdfView::keyPressEvent(QKeyEvent* e) { QAbstractScrollArea::keyPressEvent(e); }

}  // namespace quorvel::desktop
