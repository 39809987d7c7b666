// POST /pdf/encrypt: AES-256 (revision 6) with the caller's user password and an owner password
// nobody knows, so the permissions cannot be lifted with it.
#include <sys/random.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include "routes.h"

namespace durovaderiz {

namespace {

bool random_password(std::string& out) {
  unsigned char raw[32];
  size_t got = 0;
  while (got < sizeof raw) {
    const ssize_t n = getrandom(raw + got, sizeof raw - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  out.clear();
  for (unsigned char b : raw) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return true;
}

// A permission is granted only when the query says so; a missing item denies it.
bool allowed(const Request& req, std::string_view name) {
  const std::string* v = req.query_value(name);
  return v && (*v == "1" || *v == "true");
}

}  // namespace

Response handle_pdf_encrypt(const Request& req) {
  const std::string* user = req.query_value("user_password");
  if (!user) return text_reply(400, "user_password is required");
  if (user->find('\0') != std::string::npos) return text_reply(400, "user_password holds a NUL byte");
  if (!looks_like_pdf(req.body)) return text_reply(415, "the body is not a PDF");
  std::string owner;
  if (!random_password(owner)) return text_reply(500, "no random data");

  const bool print = allowed(req, "allow_print");
  const bool copy = allowed(req, "allow_copy");
  const bool modify = allowed(req, "allow_modify");
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("request body", req.body.data(), req.body.size());
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    // Readers for the visually impaired keep their access whatever the other bits say.
    writer.setR6EncryptionParameters(user->c_str(), owner.c_str(), true, copy, modify, modify, modify,
                                     modify, print ? qpdf_r3p_full : qpdf_r3p_none, true);
    writer.write();
    const std::shared_ptr<Buffer> buf = writer.getBufferSharedPointer();
    Response resp;
    resp.content_type = "application/pdf";
    resp.body.assign(reinterpret_cast<const char*>(buf->getBuffer()), buf->getSize());
    return resp;
  } catch (const std::bad_alloc&) {
    return text_reply(500, "out of memory");
  } catch (...) {
    // qpdf's messages name offsets and objects of the caller's file; the caller learns only
    // that it could not be read.
    return text_reply(422, "the PDF could not be read");
  }
}

}  // namespace durovaderiz
