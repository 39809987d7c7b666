// Text insertion and replacement.
#include "core/pdfium_document.h"

namespace quorvel::pdfium {

int PdfiumDocument::replace_text(int, const std::string&, const std::string&) { return 0; }
bool PdfiumDocument::insert_text(int, const std::string&, double, double, double, unsigned) { return false; }

}  // namespace quorvel::pdfium
