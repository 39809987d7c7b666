// Copies of an open document for another program.
#include "core/pdf_check.h"
#include "core/pdfium/pdfium_document.h"

namespace quorvel::pdfium {

std::vector<std::byte> PdfiumDocument::source_bytes() const {
  // A rewrite on another thread may replace bytes_ (adopt) at any time but under the lock.
  std::lock_guard<std::mutex> g(lock());
  const auto* first = reinterpret_cast<const std::byte*>(bytes_.data());
  return std::vector<std::byte>(first, first + bytes_.size());
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
