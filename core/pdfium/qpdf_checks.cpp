// The reply checks of core/pdf_check.h and the decryption of backend copies, through qpdf.
#include "core/pdf_check.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cctype>
#include <string>

#include "core/pdfium/qpdf_internal.h"

namespace quorvel::pdfcheck {

namespace {

const char* chars(std::span<const std::byte> pdf) { return reinterpret_cast<const char*>(pdf.data()); }

// A signature value whose ranges skip exactly its /Contents hex string and end at the file's end.
bool covers_file(std::span<const std::byte> pdf, QPDFObjectHandle value) {
  if (!value.isDictionary()) return false;
  QPDFObjectHandle range = value.getKey("/ByteRange");
  QPDFObjectHandle contents = value.getKey("/Contents");
  if (!range.isArray() || range.getArrayNItems() != 4 || !contents.isString()) return false;
  long long r[4];
  for (int i = 0; i < 4; ++i) {
    QPDFObjectHandle v = range.getArrayItem(i);
    if (!v.isInteger()) return false;
    r[i] = v.getIntValue();
    if (r[i] < 0) return false;
  }
  const auto size = static_cast<long long>(pdf.size());
  if (r[0] != 0 || r[1] < 1 || r[2] <= r[1] + 1 || r[2] > size || r[3] != size - r[2]) return false;
  const char* data = chars(pdf);
  if (data[r[1]] != '<' || data[r[2] - 1] != '>') return false;
  const std::string value_bytes = contents.getStringValue();
  if (static_cast<long long>(value_bytes.size()) * 2 != r[2] - r[1] - 2) return false;
  if (!std::all_of(data + r[1] + 1, data + r[2] - 1, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    return false;
  return std::any_of(value_bytes.begin(), value_bytes.end(), [](char c) { return c != 0; });
}

}  // namespace

bool encrypted_for(std::span<const std::byte> pdf, std::string_view user_password) {
  if (pdf.empty() || user_password.empty()) return false;
  try {
    QPDF q;
    qpdf_bridge::open(q, chars(pdf), pdf.size(), user_password);
    int r = 0, p = 0, v = 0;
    QPDF::encryption_method_e streams = QPDF::e_none, strings = QPDF::e_none, files = QPDF::e_none;
    if (!q.isEncrypted(r, p, v, streams, strings, files)) return false;
    return v >= 5 && streams == QPDF::e_aesv3 && strings == QPDF::e_aesv3 && q.userPasswordMatched();
  } catch (...) {
    return false;
  }
}

bool signed_whole_file(std::span<const std::byte> pdf) {
  if (pdf.empty()) return false;
  try {
    QPDF q;
    qpdf_bridge::open(q, chars(pdf), pdf.size(), {});
    QPDFAcroFormDocumentHelper form(q);
    for (QPDFFormFieldObjectHelper field : form.getFormFields()) {
      if (field.getFieldType() == "/Sig" && covers_file(pdf, field.getValue())) return true;
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool decrypt(std::span<const std::byte> pdf, std::string_view password, std::vector<uint8_t>& out) {
  if (pdf.empty()) return false;
  return qpdf_bridge::guarded(out, [&](qpdf_bridge::Bytes& result) {
    QPDF q;
    qpdf_bridge::open(q, chars(pdf), pdf.size(), password);
    QPDFWriter w(q);
    w.setOutputMemory();
    w.setPreserveEncryption(false);
    // Stream data only decrypted, as it is stored otherwise: no filter runs again.
    w.setDecodeLevel(qpdf_dl_none);
    w.setCompressStreams(false);
    w.write();
    const std::shared_ptr<Buffer> buf = w.getBufferSharedPointer();
    if (!buf || buf->getSize() == 0) return false;
    result.assign(buf->getBuffer(), buf->getBuffer() + buf->getSize());
    return true;
  });
}

}  // namespace quorvel::pdfcheck
