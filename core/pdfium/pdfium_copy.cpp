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

IDocument::Protector PdfiumDocument::protector() const {
  if (!metadata().encrypted) return {};
  // A model without pages keeps the encryption, so the protector does not hold the document.
  std::vector<uint8_t> model;
  if (!pdfcheck::protection_model(source_bytes(), password_, model)) model.clear();
  return [model = std::move(model), password = password_](std::span<const std::byte> pdf, std::vector<uint8_t>& out) {
    return !model.empty() &&
           pdfcheck::protect_like(pdf, std::as_bytes(std::span<const uint8_t>(model.data(), model.size())), password, out);
  };
}

}  // namespace quorvel::pdfium
