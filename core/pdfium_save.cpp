// Saving full copies with annotations written into them.
#include "core/pdfium_document.h"

namespace quorvel::pdfium {

bool PdfiumDocument::save_as(const std::string&, const std::vector<annot::Annotation>&) { return false; }

}  // namespace quorvel::pdfium
