#include "pdf_io.h"

#include <sys/random.h>

#include <qpdf/Buffer.hh>

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
