// The stand-in's routes. A route is one handler function in a file of its own, listed once in
// the table of routes.cpp.
#pragma once

#include <span>
#include <string_view>

#include "http.h"

class QJsonObject;

namespace durovaderiz {

using Handler = Response (*)(const Request&);

// What a route takes as its body: nothing, a PDF, JSON, a multipart form, or an image.
enum class Body { None, Pdf, Json, Form, Image };

// A path ending in "/*" takes every path below it; its handler reads the rest.
struct Route {
  std::string_view method;
  std::string_view path;
  Handler handler;
  Body body = Body::None;
  size_t max_body = 0;  // bytes
};

std::span<const Route> routes();

// The route of a method and path, or null; `path_known` tells whether another method has it.
const Route* find_route(std::string_view method, std::string_view path, bool& path_known);

// Whether a Content-Type value (parameters and case aside) is one the route takes.
bool takes_type(Body body, std::string_view content_type);

// The handler of the request's route, or the refusal: 404 for an unknown path, 405 for a known
// path asked with another method.
Response dispatch(const Request& req);

// A compact JSON body with its content type.
Response json_reply(int status, const QJsonObject& o);
// {"error": what}
Response json_error(int status, std::string_view what);

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
