#include "routes.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <string>

namespace durovaderiz {

namespace {

// Bodies of JSON that Qt reads are small by nature: the texts of a document, not the document.
constexpr size_t kMaxTextBody = 32u * 1024 * 1024;
constexpr size_t kMaxImageBody = 64u * 1024 * 1024;
constexpr size_t kMaxOfferBody = 64 * 1024;

constexpr std::array kRoutes{
    Route{"GET", "/health", handle_health},
    Route{"POST", "/pdf/encrypt", handle_pdf_encrypt, Body::Pdf, kMaxBody},
    Route{"POST", "/pdf/sign", handle_pdf_sign, Body::Pdf, kMaxBody},
    Route{"POST", "/pdf/sanitize", handle_pdf_sanitize, Body::Pdf, kMaxBody},
    Route{"POST", "/pdf/optimize", handle_pdf_optimize, Body::Pdf, kMaxBody},
    Route{"POST", "/pdf/extract", handle_pdf_extract, Body::Pdf, kMaxBody},
    Route{"POST", "/pdf/set-meta", handle_pdf_set_meta, Body::Pdf, kMaxBody},
    Route{"POST", "/pdf/set-bookmarks", handle_pdf_set_bookmarks, Body::Json, kMaxBody},
    Route{"POST", "/pdf/add-form-fields", handle_pdf_add_form_fields, Body::Json, kMaxBody},
    Route{"POST", "/pdf/to-docx", handle_pdf_to_docx, Body::Json, kMaxTextBody},
    Route{"POST", "/ai/chat", handle_ai_chat, Body::Json, kMaxTextBody},
    Route{"POST", "/ai/embeddings", handle_ai_embeddings, Body::Json, kMaxTextBody},
    Route{"POST", "/ocr", handle_ocr, Body::Image, kMaxImageBody},
    Route{"POST", "/requests", handle_requests_create, Body::Form, kMaxBody},
    Route{"GET", "/requests/*", handle_requests_get},
    Route{"POST", "/requests/*", handle_requests_add_offer, Body::Json, kMaxOfferBody},
};

// The media type of a Content-Type value: parameters and surrounding space dropped, lower case.
std::string media_type(std::string_view value) {
  value = value.substr(0, value.find(';'));
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  std::string out(value);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::span<const Route> routes() { return kRoutes; }

const Route* find_route(std::string_view method, std::string_view path, bool& path_known) {
  path_known = false;
  for (const Route& r : routes()) {
    const bool below = r.path.ends_with("/*") && path.size() > r.path.size() - 1 &&
                       path.starts_with(r.path.substr(0, r.path.size() - 1));
    if (r.path != path && !below) continue;
    if (r.method == method) return &r;
    path_known = true;
  }
  return nullptr;
}

bool takes_type(Body body, std::string_view content_type) {
  const std::string type = media_type(content_type);
  switch (body) {
    case Body::None: return false;
    case Body::Pdf: return type == "application/pdf";
    case Body::Json: return type == "application/json";
    case Body::Form: return type == "multipart/form-data";
    case Body::Image: return type == "application/octet-stream" || (type.starts_with("image/") && type.size() > 6);
  }
  return false;
}

Response dispatch(const Request& req) {
  bool path_known = false;
  if (const Route* r = find_route(req.method, req.path, path_known)) return r->handler(req);
  return path_known ? text_reply(405, "method not allowed") : text_reply(404, "no such route");
}

bool looks_like_pdf(std::string_view body) {
  return body.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

Response json_error(int status, std::string_view what) {
  return json_reply(status, {{QStringLiteral("error"), QString::fromUtf8(what.data(), qsizetype(what.size()))}});
}

Response json_reply(int status, const QJsonObject& o) {
  Response r;
  r.status = status;
  r.content_type = "application/json";
  r.body = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
  return r;
}

}  // namespace durovaderiz
