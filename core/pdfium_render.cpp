// Page size, tile rendering and text extraction.
#include "core/pdfium_document.h"

namespace quorvel::pdfium {

PageInfo PdfiumDocument::page_info(int) const { return {}; }
RenderedTile PdfiumDocument::render_tile(int, const RenderRequest&) { return {}; }
TextPage PdfiumDocument::extract_text(int) const { return {}; }

}  // namespace quorvel::pdfium
