// POST /pdf/extract?what=tables&format=csv: the document's tables as CSV, read from the page
// text that our own core extracts; an empty body when there is none.
#include "core/engine.h"
#include "pdf_io.h"
#include "routes.h"
#include "tables.h"

namespace durovaderiz {

Response handle_pdf_extract(const Request& req) {
  const std::string* what = req.query_value("what");
  const std::string* format = req.query_value("format");
  if (!what || *what != "tables") return text_reply(400, "what=tables is the one extraction offered");
  if (format && *format != "csv") return text_reply(400, "format=csv is the one format offered");
  if (!looks_like_pdf(req.body)) return text_reply(415, "the body is not a PDF");
  // The page engine holds whatever a stream decodes to and cannot be stopped: what it will
  // decode is measured first, within the request's limits.
  const Response checked = with_pdf(req, [](QPDF&) { return text_reply(200, "ok"); }, Decodes::Text);
  if (checked.status != 200) return checked;

  static const std::unique_ptr<quorvel::IPdfEngine> engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  if (!engine) return text_reply(500, "no PDF engine");
  const auto* bytes = reinterpret_cast<const std::byte*>(req.body.data());
  const std::unique_ptr<quorvel::IDocument> doc = engine->open({bytes, req.body.size()}, "");
  if (!doc) return text_reply(422, "the PDF could not be read");
  std::vector<quorvel::TextPage> pages;
  for (int i = 0; i < doc->page_count(); ++i) pages.push_back(doc->extract_text(i));
  Response resp;
  resp.content_type = "text/csv; charset=utf-8";
  resp.body = tables_csv(pages);
  return resp;
}

}  // namespace durovaderiz
