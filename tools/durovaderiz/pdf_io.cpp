#include "pdf_io.h"

#include <sys/random.h>

#include <qpdf/Buffer.hh>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "routes.h"

namespace durovaderiz {

Response with_pdf(const Request& req, const std::function<Response(QPDF&)>& work) {
  if (!looks_like_pdf(req.body)) return text_reply(415, "the body is not a PDF");
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("request body", req.body.data(), req.body.size());
    return work(pdf);
  } catch (const std::bad_alloc&) {
    return text_reply(500, "out of memory");
  } catch (...) {
    // qpdf's messages name offsets and objects of the caller's file; the caller learns only
    // that it could not be read.
    return text_reply(422, "the PDF could not be read");
  }
}

std::optional<JSON> json_member(const JSON& object, const std::string& key) {
  std::optional<JSON> found;
  object.forEachDictItem([&](const std::string& k, JSON v) {
    if (k == key) found = v;
  });
  return found;
}

std::optional<double> json_number(const JSON& value) {
  std::string text;
  if (!value.getNumber(text)) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || end == text.c_str() || *end || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<JSON> json_body(const Request& req) {
  try {
    JSON j = JSON::parse(req.body);
    if (j.isDictionary()) return j;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

Response with_json_pdf(const Request& req, const std::function<Response(QPDF&, const JSON&)>& work) {
  const std::optional<JSON> body = json_body(req);
  if (!body) return text_reply(400, "the body is not a JSON object");
  std::string b64;
  if (!json_member(*body, "pdf_b64").value_or(JSON::makeNull()).getString(b64)) return text_reply(400, "pdf_b64 is missing");
  Request inner;
  if (!base64_decode(b64, inner.body)) return text_reply(400, "pdf_b64 is not base64");
  return with_pdf(inner, [&](QPDF& pdf) { return work(pdf, *body); });
}

std::string written(QPDFWriter& writer) {
  writer.setOutputMemory();
  writer.write();
  const std::shared_ptr<Buffer> buf = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buf->getBuffer()), buf->getSize());
}

Response pdf_reply(std::string body, Fields headers) {
  Response resp;
  resp.content_type = "application/pdf";
  resp.body = std::move(body);
  resp.headers = std::move(headers);
  return resp;
}

bool base64_decode(std::string_view in, std::string& out) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (in.empty() || in.size() % 4 != 0) return false;
  out.clear();
  out.reserve(in.size() / 4 * 3);
  for (size_t i = 0; i < in.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = in[i + k];
      if (c == '=' && i + 4 == in.size() && k >= 2) {
        v[k] = 0;
        ++pad;
      } else if (pad > 0 || (v[k] = value(c)) < 0) {
        return false;
      }
    }
    const unsigned n = (unsigned(v[0]) << 18) | (unsigned(v[1]) << 12) | (unsigned(v[2]) << 6) | unsigned(v[3]);
    out.push_back(static_cast<char>(n >> 16));
    if (pad < 2) out.push_back(static_cast<char>((n >> 8) & 0xFF));
    if (pad < 1) out.push_back(static_cast<char>(n & 0xFF));
  }
  return true;
}

bool random_bytes(unsigned char* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = getrandom(out + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace durovaderiz
