// What the routes that take a PDF body share: opening it with qpdf, the refusals, and the
// written result as a reply.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <qpdf/QPDF.hh>
#include <qpdf/JSON.hh>
#include <qpdf/QPDFWriter.hh>

#include "http.h"
#include "memory.h"

namespace durovaderiz {

// Which streams the route decodes, for the decoded-bytes limit: those a default QPDFWriter
// decodes (any filter chain of the general filters but plain Flate, which it copies), or every
// stream but images, for a reader of page text.
enum class Decodes { Writer, Text };

// Opens the body with qpdf (in memory, nothing touches the disk), checks what decoding it gives
// and hands it to `work`, within the request's limits: time (503), decoded bytes (413) and the
// memory the work allocates (413 past the request's own share, 503 when all requests together
// hold the budget). A body that is not a PDF gives 415, one qpdf cannot read (damaged, or
// locked with a password) 422.
Response with_pdf(const Request& req, const std::function<Response(QPDF&)>& work,
                  Decodes decodes = Decodes::Writer);

// The refusal of work whose memory guard tripped: 413 past the request's own limit, 503 when
// all requests together hold the budget. `what` names what needed the memory.
WorkRefused memory_refused(memory::Guard::Trip trip, const Work& work, const char* what);

// The JSON body of a request, or nullopt when it is not a JSON object. Reading one that needs
// more memory than the request may have throws WorkRefused.
std::optional<JSON> json_body(const Request& req);

// A member of a JSON object, or nullopt when it has none by that name.
std::optional<JSON> json_member(const JSON& object, const std::string& key);

// A JSON number as a double; nullopt when it is not a number or does not fit.
std::optional<double> json_number(const JSON& value);

// A JSON object body that carries the PDF base64-encoded in `pdf_b64`: opens the PDF as
// with_pdf does and hands both to `work`. A body that is not such an object gives 400.
Response with_json_pdf(const Request& req, const std::function<Response(QPDF&, const JSON&)>& work);

// Runs the writer into memory and gives its bytes; within with_pdf it stops at the deadline.
std::string written(QPDFWriter& writer);

Response pdf_reply(std::string body, Fields headers = {});

// Standard alphabet with padding, nothing else (no line breaks).
bool base64_decode(std::string_view in, std::string& out);

bool random_bytes(unsigned char* out, size_t n);

}  // namespace durovaderiz
