// Text knowledge of the viewer: selectable characters, selection, links, history, plain text.
#include "desktop/PdfView.h"

namespace quorvel::desktop {

const std::vector<PdfView::SelChar>& PdfView::pageChars(int page) { return charCache[page]; }
int PdfView::nearestChar(int, const annot::Point&) const { return -1; }
void PdfView::selectWordAt(int, int) {}
void PdfView::selectLineAt(int, int) {}
void PdfView::selectDemo() {}
void PdfView::copySelection() {}
const std::vector<Link>& PdfView::pageLinks(int page) { return linkCache[page]; }
void PdfView::navigateToPage(int) {}
bool PdfView::goBack() { return false; }
bool PdfView::goForward() { return false; }
QString PdfView::documentText(int) const { return {}; }

}  // namespace quorvel::desktop
