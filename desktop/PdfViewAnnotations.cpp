// The viewer's annotation list, kept in step with the annotation store.
#include "desktop/AnnotationStore.h"
#include "desktop/PdfView.h"

namespace quorvel::desktop {

void PdfView::setStore(AnnotationStore* s, const QString& hash) {
  store = s;
  docHash = hash;
}
void PdfView::reloadAnnotations() {}
void PdfView::addAnnotation(const annot::Annotation&) {}
void PdfView::updateAnnotation(const annot::Annotation&) {}
void PdfView::removeAnnotation(const std::string&) {}
void PdfView::clearAnnotations() {}
void PdfView::eraseAt(QPointF) {}
void PdfView::deleteSelected() {}
void PdfView::focusAnnotation(const std::string&) {}
int PdfView::handleAt(const annot::Annotation&, QPointF) const { return 0; }

}  // namespace quorvel::desktop
