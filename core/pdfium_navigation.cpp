// Links, outline and metadata.
#include "core/pdfium_document.h"

namespace quorvel::pdfium {

DocMetadata PdfiumDocument::metadata() const { return {}; }
std::vector<OutlineItem> PdfiumDocument::outline() const { return {}; }
std::vector<Link> PdfiumDocument::links(int) const { return {}; }

}  // namespace quorvel::pdfium
