// What the routes that take a PDF body share: opening it with qpdf, the refusals, and the
// written result as a reply.
#pragma once

#include <functional>
#include <string>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include "http.h"

namespace durovaderiz {

// Opens the body with qpdf (in memory, nothing touches the disk) and hands it to `work`. A body
// that is not a PDF gives 415, one qpdf cannot read (damaged, or locked with a password) 422,
// exhausted memory 500.
Response with_pdf(const Request& req, const std::function<Response(QPDF&)>& work);

// Runs the writer into memory and gives its bytes.
std::string written(QPDFWriter& writer);

Response pdf_reply(std::string body, Fields headers = {});

bool random_bytes(unsigned char* out, size_t n);

}  // namespace durovaderiz
