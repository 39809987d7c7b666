// POST /ocr: the body is a page image; the answer is its text, line count and engine. An image
// is measured from its header before it is decoded, and recognition stops with the request.
#include <algorithm>

#include "ocr_engine.h"
#include "routes.h"

namespace durovaderiz {

Response handle_ocr(const Request& req) {
  if (req.body.empty()) return text_reply(400, "no image");
  const std::shared_ptr<Work> work = req.work;
  const taviocr::Result r = taviocr::recognize(req.body, false, [work] { return work && work->cancelled(); });
  if (r.too_large) return json_error(413, r.error);
  if (r.cancelled) work->check();
  if (!r.ok) return text_reply(400, r.error);
  const long lines = r.text.empty() ? 0 : std::count(r.text.begin(), r.text.end(), '\n') + 1;
  Response resp;
  resp.content_type = "application/json";
  resp.body = "{\"text\":" + taviocr::json_string(r.text) + ",\"lines\":" + std::to_string(lines) +
              ",\"engine\":" + taviocr::json_string(taviocr::engine_name()) + "}";
  return resp;
}

}  // namespace durovaderiz
