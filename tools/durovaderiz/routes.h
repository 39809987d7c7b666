// The stand-in's routes. A route is one handler function in a file of its own, listed once in
// the table of routes.cpp.
#pragma once

#include <span>
#include <string_view>

#include "http.h"

class QJsonObject;

namespace durovaderiz {

using Handler = Response (*)(const Request&);

// A path ending in "/*" takes every path below it; its handler reads the rest.
struct Route {
  std::string_view method;
  std::string_view path;
  Handler handler;
};

std::span<const Route> routes();

// The handler of the request's route, or the refusal: 404 for an unknown path, 405 for a known
// path asked with another method.
Response dispatch(const Request& req);

// A compact JSON body with its content type.
Response json_reply(int status, const QJsonObject& o);

// Whether the bytes look like a PDF: "%PDF-" within the first 1024 bytes, as readers accept.
bool looks_like_pdf(std::string_view body);

Response handle_health(const Request& req);
Response handle_pdf_encrypt(const Request& req);
Response handle_pdf_sign(const Request& req);
Response handle_pdf_sanitize(const Request& req);
Response handle_pdf_optimize(const Request& req);
Response handle_pdf_extract(const Request& req);
Response handle_pdf_set_meta(const Request& req);
Response handle_pdf_set_bookmarks(const Request& req);
Response handle_pdf_add_form_fields(const Request& req);
Response handle_pdf_to_docx(const Request& req);
Response handle_ai_chat(const Request& req);
Response handle_ai_embeddings(const Request& req);
Response handle_ocr(const Request& req);
// Purchase requests, kept in requests.db in the stand-in's data folder: DUROVADERIZ_DATA when
// set, else durovaderiz in the user's data folder.
Response handle_requests_create(const Request& req);
Response handle_requests_get(const Request& req);
Response handle_requests_add_offer(const Request& req);

}  // namespace durovaderiz
