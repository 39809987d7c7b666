#include "routes.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace durovaderiz {

namespace {

constexpr std::array kRoutes{
    Route{"GET", "/health", handle_health},
    Route{"POST", "/pdf/encrypt", handle_pdf_encrypt},
    Route{"POST", "/pdf/sign", handle_pdf_sign},
    Route{"POST", "/pdf/sanitize", handle_pdf_sanitize},
    Route{"POST", "/pdf/optimize", handle_pdf_optimize},
    Route{"POST", "/pdf/extract", handle_pdf_extract},
    Route{"POST", "/pdf/set-meta", handle_pdf_set_meta},
    Route{"POST", "/pdf/set-bookmarks", handle_pdf_set_bookmarks},
    Route{"POST", "/pdf/add-form-fields", handle_pdf_add_form_fields},
    Route{"POST", "/pdf/to-docx", handle_pdf_to_docx},
    Route{"POST", "/ai/chat", handle_ai_chat},
    Route{"POST", "/ai/embeddings", handle_ai_embeddings},
    Route{"POST", "/ocr", handle_ocr},
    Route{"POST", "/requests", handle_requests_create},
    Route{"GET", "/requests/*", handle_requests_get},
    Route{"POST", "/requests/*", handle_requests_add_offer},
};

}  // namespace

std::span<const Route> routes() { return kRoutes; }

Response dispatch(const Request& req) {
  bool path_known = false;
  for (const Route& r : routes()) {
    const bool below = r.path.ends_with("/*") && req.path.size() > r.path.size() - 1 &&
                       std::string_view(req.path).starts_with(r.path.substr(0, r.path.size() - 1));
    if (r.path != req.path && !below) continue;
    if (r.method == req.method) return r.handler(req);
    path_known = true;
  }
  return path_known ? text_reply(405, "method not allowed") : text_reply(404, "no such route");
}

bool looks_like_pdf(std::string_view body) {
  return body.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

Response json_reply(int status, const QJsonObject& o) {
  Response r;
  r.status = status;
  r.content_type = "application/json";
  r.body = QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
  return r;
}

}  // namespace durovaderiz
