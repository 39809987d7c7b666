// POST /pdf/encrypt: AES-256 (revision 6) with the caller's user password and an owner password
// nobody knows, so the permissions cannot be lifted with it.
#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

namespace {

bool random_password(std::string& out) {
  unsigned char raw[32];
  if (!random_bytes(raw, sizeof raw)) return false;
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
  // An empty one would give a file that opens without a password: not what "protect" means.
  if (user->empty()) return text_reply(400, "user_password must not be empty");
  if (user->find('\0') != std::string::npos) return text_reply(400, "user_password holds a NUL byte");
  if (!looks_like_pdf(req.body)) return text_reply(415, "the body is not a PDF");
  std::string owner;
  if (!random_password(owner)) return text_reply(500, "no random data");

  const bool print = allowed(req, "allow_print");
  const bool copy = allowed(req, "allow_copy");
  const bool modify = allowed(req, "allow_modify");
  return with_pdf(req, [&](QPDF& pdf) {
    QPDFWriter writer(pdf);
    // Readers for the visually impaired keep their access whatever the other bits say.
    writer.setR6EncryptionParameters(user->c_str(), owner.c_str(), true, copy, modify, modify, modify,
                                     modify, print ? qpdf_r3p_full : qpdf_r3p_none, true);
    return pdf_reply(written(writer));
  });
}

}  // namespace durovaderiz
