// Copies of an open document for another program.
#include "core/pdf_check.h"
#include "core/pdfium/pdfium_document.h"

namespace quorvel::pdfium {

std::span<const std::byte> PdfiumDocument::source_bytes() const {
  // bytes_ change only with the document itself (open, adopt), never during a call.
  return std::as_bytes(std::span<const uint8_t>(bytes_.data(), bytes_.size()));
}

bool PdfiumDocument::decrypted_copy(std::span<const std::byte> pdf, std::vector<uint8_t>& out) const {
  return pdfcheck::decrypt(pdf, password_, out);
}

}  // namespace quorvel::pdfium
