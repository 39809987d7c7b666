// The protection of core/pdf_check.h: a copy that went to another program unlocked gets its
// document's encryption back before it is written anywhere.
#include "core/pdf_check.h"

#include <qpdf/QPDF.hh>

#include "core/pdfium/qpdf_internal.h"

namespace quorvel::pdfcheck {

namespace {

const char* chars(std::span<const std::byte> pdf) { return reinterpret_cast<const char*>(pdf.data()); }

// Writes `q` with `model`'s encryption and reads the result back with `password`.
bool write_like(QPDF& q, std::span<const std::byte> model, std::string_view password, qpdf_bridge::Bytes& result) {
  QPDF m;
  qpdf_bridge::open(m, chars(model), model.size(), password);
  if (!m.isEncrypted()) return false;
  if (!qpdf_bridge::write(q, &m, result)) return false;
  QPDF check;
  qpdf_bridge::open(check, reinterpret_cast<const char*>(result.data()), result.size(), password);
  return check.isEncrypted() && (check.userPasswordMatched() || check.ownerPasswordMatched());
}

}  // namespace

bool protect_like(std::span<const std::byte> pdf, std::span<const std::byte> model, std::string_view password,
                  std::vector<uint8_t>& out) {
  if (pdf.empty() || model.empty()) return false;
  return qpdf_bridge::guarded(out, [&](qpdf_bridge::Bytes& result) {
    QPDF q;
    qpdf_bridge::open(q, chars(pdf), pdf.size(), {});
    return write_like(q, model, password, result);
  });
}

bool protection_model(std::span<const std::byte> original, std::string_view password, std::vector<uint8_t>& out) {
  if (original.empty()) return false;
  return qpdf_bridge::guarded(out, [&](qpdf_bridge::Bytes& result) {
    QPDF q;
    q.emptyPDF();
    return write_like(q, original, password, result);
  });
}

}  // namespace quorvel::pdfcheck
