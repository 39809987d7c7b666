// Page-structure edits, saving and page images of the viewer.
#include "desktop/PdfView.h"

namespace quorvel::desktop {

int PdfView::pageCount() const { return doc ? static_cast<int>(pages.size()) : 0; }
void PdfView::deletePage(int) {}
void PdfView::rotatePage(int, int) {}
void PdfView::movePage(int, int) {}
bool PdfView::insertBlankPage(int, double, double) { return false; }
bool PdfView::cropPage(int, double, double, double, double) { return false; }
void PdfView::mergePdf(const QByteArray&) {}
bool PdfView::saveAs(const QString&) { return false; }
bool PdfView::saveRange(const QString&, int, int) { return false; }
QImage PdfView::renderThumbnail(int, int) const { return {}; }
QImage PdfView::renderPageImage(int, double) const { return {}; }
void PdfView::fillFormDemo() {}
void PdfView::refreshStructure() {}
int PdfView::storePageOf(int viewPage) const { return viewPage; }
int PdfView::viewPageOf(int storePage) const { return storePage; }

}  // namespace quorvel::desktop
