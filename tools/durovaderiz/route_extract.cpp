// POST /pdf/extract?what=tables&format=csv: the document's tables as CSV, read from the page
// text that our own core extracts; an empty body when there is none.
#include <mutex>

#include "core/engine.h"
#include "pdf_io.h"
#include "routes.h"
#include "tables.h"

namespace durovaderiz {

namespace {

// One document at a time: checking and reading a long one takes most of the memory budget, and
// the engine's calls take turns anyway. The others wait, within their own time.
std::mutex g_turn;
// Pages between checks of the request's time.
constexpr int kCheckEvery = 64;

}  // namespace

Response handle_pdf_extract(const Request& req) {
  const std::string* what = req.query_value("what");
  const std::string* format = req.query_value("format");
  if (!what || *what != "tables") return text_reply(400, "what=tables is the one extraction offered");
  if (format && *format != "csv") return text_reply(400, "format=csv is the one format offered");
  if (!looks_like_pdf(req.body)) return text_reply(415, "the body is not a PDF");
  Work fallback;
  Work& work = req.work ? *req.work : fallback;
  std::unique_lock turn(g_turn);
  work.check();
  // The page engine holds whatever a stream decodes to and cannot be stopped: what it will
  // decode is measured first, within the request's limits.
  const Response checked = with_pdf(req, [](QPDF&) { return text_reply(200, "ok"); }, Decodes::Text);
  if (checked.status != 200) return checked;

  static const std::unique_ptr<quorvel::IPdfEngine> engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
  if (!engine) return text_reply(500, "no PDF engine");
  Response resp;
  resp.content_type = "text/csv; charset=utf-8";
  // What the page text takes is counted like the rest of the request's work.
  memory::Guard guard(work.limits().memory);
  try {
    const auto* bytes = reinterpret_cast<const std::byte*>(req.body.data());
    const std::unique_ptr<quorvel::IDocument> doc = engine->open({bytes, req.body.size()}, "");
    if (!doc) return text_reply(422, "the PDF could not be read");
    for (int i = 0; i < doc->page_count(); ++i) {
      if (i % kCheckEvery == 0) work.check();
      append_tables_csv(doc->extract_text(i), resp.body);
    }
  } catch (const std::bad_alloc&) {
    resp.body = std::string();
  }
  if (guard.tripped() != memory::Guard::Trip::None) {
    const WorkRefused no = memory_refused(guard.tripped(), work, "the document's text");
    return json_error(no.status, no.what);
  }
  return resp;
}

}  // namespace durovaderiz
