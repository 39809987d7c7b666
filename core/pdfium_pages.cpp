// Page-structure edits.
#include "core/pdfium_document.h"

namespace quorvel::pdfium {

bool PdfiumDocument::delete_page(int) { return false; }
bool PdfiumDocument::rotate_page(int, int) { return false; }
bool PdfiumDocument::move_page(int, int) { return false; }
bool PdfiumDocument::merge(std::span<const std::byte>, int) { return false; }
bool PdfiumDocument::save_range(const std::string&, int, int) { return false; }
bool PdfiumDocument::save_nup(const std::string&, int, int) { return false; }
bool PdfiumDocument::insert_blank_page(int, double, double) { return false; }
bool PdfiumDocument::crop_page(int, double, double, double, double) { return false; }

}  // namespace quorvel::pdfium
