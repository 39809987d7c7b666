// Images, redaction, the invisible text layer and stamped text.
#include "core/pdfium_document.h"

namespace quorvel::pdfium {

std::vector<IDocument::ImageRef> PdfiumDocument::list_images(int) { return {}; }
bool PdfiumDocument::delete_image(int, int) { return false; }
int PdfiumDocument::redact(int, const std::vector<annot::Rect>&) { return 0; }
int PdfiumDocument::add_text_layer(int, const std::vector<TextSpan>&) { return 0; }
bool PdfiumDocument::place_image(int, const uint8_t*, int, int, double, double, double, double) { return false; }
bool PdfiumDocument::stamp_text(int, const std::string&, double, int, int, int, int, double, double, double) {
  return false;
}

}  // namespace quorvel::pdfium
